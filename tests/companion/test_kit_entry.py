"""The kit's entries draw themselves in one pass, into exactly what customtkinter's own
CTkEntry draws: the same canvas items with the same tags, places and options."""
import cProfile
import pstats

import customtkinter
import pytest

import quillmarkers_model as quillmarkers

pytestmark = pytest.mark.gui

kit = quillmarkers.Customtkinter_Model()


def kit_entry_class(frame):
    """The class the kit's tables make their cells and fields from."""
    return type(kit.Set_Table(frame).add_entry_name("欄"))


def drawing(entry):
    """Everything the entry shows: its canvas items in stacking order, the canvas and text colours."""
    canvas = entry._canvas
    items = []
    for item in canvas.find_all():
        options = {name: value[4] for name, value in canvas.itemconfigure(item).items()}
        items.append((canvas.type(item), canvas.gettags(item), canvas.coords(item), options))
    colours = {name: entry._entry.cget(name) for name in (
        "bg", "disabledbackground", "readonlybackground", "highlightcolor", "fg", "disabledforeground",
        "insertbackground")}
    circles = sorted(canvas.gettags(item)[0] for item in canvas._aa_circle_canvas_ids)
    return items, canvas.cget("bg"), colours, circles


def made_with_tk_calls(make):
    """The widget make() returns, and how many Tk calls making it took."""
    profile = cProfile.Profile()
    widget = profile.runcall(make)
    calls = sum(n for (_, _, function), (_, n, *_) in pstats.Stats(profile).stats.items()
                if function == "<method 'call' of '_tkinter.tkapp' objects>")
    return widget, calls


@pytest.mark.parametrize("options, one_pass", [
    pytest.param({}, True, id="typed-cell"),
    pytest.param({"state": "disabled", "justify": "right", "fg_color": "transparent"}, True, id="line-total-cell"),
    pytest.param({"width": 280, "font": ("DejaVu Sans", 13)}, True, id="buyer-field"),
    pytest.param({"width": 8, "height": 8}, False, id="too-small-for-corners"),
    pytest.param({"border_width": 0}, False, id="no-border"),
])
def test_first_drawing_is_customtkinters_own(frame, options, one_pass):
    kit_entry = kit_entry_class(frame)
    ours, our_calls = made_with_tk_calls(lambda: kit_entry(frame, **options))
    theirs, their_calls = made_with_tk_calls(lambda: customtkinter.CTkEntry(frame, **options))
    assert isinstance(ours, customtkinter.CTkEntry)
    assert drawing(ours) == drawing(theirs)
    # Drawn in one pass where it can be; the stock drawing where it cannot.
    assert (our_calls * 3 < their_calls) == one_pass


def test_later_redraws_find_the_items_of_the_first(root, frame):
    ours = kit_entry_class(frame)(frame, width=100)
    theirs = customtkinter.CTkEntry(frame, width=100)
    for entry in (ours, theirs):
        entry.configure(width=160, height=40, border_color="#FF0000", fg_color="#101010")
    root.update_idletasks()
    assert drawing(ours) == drawing(theirs)
    assert len(ours._canvas.find_all()) == 20
