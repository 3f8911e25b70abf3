"""The kit's CTkFrame draws itself in one pass, into exactly what customtkinter's own draws,
before and after it is laid out."""
import customtkinter
import pytest

import quillmarkers_model as quillmarkers

pytestmark = pytest.mark.gui

kit = quillmarkers.Customtkinter_Model()


def drawing(frame):
    canvas = frame._canvas
    items = [(canvas.type(item), canvas.gettags(item), canvas.coords(item),
              {name: value[4] for name, value in canvas.itemconfigure(item).items()})
             for item in canvas.find_all()]
    return items, canvas.cget("bg"), sorted(canvas.gettags(item)[0] for item in canvas._aa_circle_canvas_ids)


@pytest.mark.parametrize("options", [
    pytest.param({}, id="theme"),
    pytest.param({"fg_color": "transparent"}, id="transparent"),
    pytest.param({"width": 395, "height": 100, "border_width": 2, "border_color": "#FF0000"}, id="border"),
    pytest.param({"height": 10}, id="too-low-for-corners"),
    pytest.param({"corner_radius": 0}, id="square"),
])
def test_the_kits_frame_draws_as_customtkinters_own(root, frame, options):
    ours, theirs = kit.CTkFrame(frame, **options), customtkinter.CTkFrame(frame, **options)
    assert isinstance(ours, customtkinter.CTkFrame)
    assert drawing(ours) == drawing(theirs)
    for column, widget in enumerate((ours, theirs)):
        widget.grid(row=0, column=column, sticky="nsew", ipadx=30, ipady=20)
    root.update_idletasks()
    assert drawing(ours) == drawing(theirs)
