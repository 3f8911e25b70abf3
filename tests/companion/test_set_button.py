import pathlib

import customtkinter
import pytest

import quillmarkers_model as quillmarkers

pytestmark = pytest.mark.gui

PICTURES = pathlib.Path(__file__).resolve().parents[2] / "model" / "格式範本"
FOLDER = str(PICTURES / "資料夾.png")
HELP = str(PICTURES / "問號001.png")
CALENDAR = str(PICTURES / "日曆001.png")

Set_Button = quillmarkers.Customtkinter_Model().Set_Button


def count_calls(widget, method):
    """Replaces widget.<method> on this instance by a wrapper that records each call."""
    calls = []
    original = getattr(widget, method)

    def wrapper(*args, **kwargs):
        calls.append(kwargs)
        return original(*args, **kwargs)

    setattr(widget, method, wrapper)
    return calls


@pytest.mark.parametrize(
    "options, text, width, cell",
    [
        ({}, "", 140, (0, 0)),
        ({"text": "輸出單據"}, "輸出單據", 140, (0, 0)),
        ({"image_path": FOLDER}, "", 40, (0, 0)),
        ({"image_path": FOLDER, "text": "開啟"}, "開啟", 140, (0, 0)),
        ({"image_path": FOLDER, "width": 60, "row": 2, "column": 3}, "", 60, (2, 3)),
        ({"text": "a", "width": 90, "row": 1}, "a", 90, (1, 0)),
    ],
)
def test_defaults(frame, options, text, width, cell):
    button = Set_Button().add_button(frame, button_name="b", **options)
    assert isinstance(button, customtkinter.CTkButton)
    assert button.cget("text") == text
    assert button.cget("width") == width
    info = button.grid_info()
    assert (info["row"], info["column"]) == cell
    assert button.master is frame


@pytest.mark.parametrize("padx, pady", [(50, 10), ((178, 55), (3, 7)), ([4, 9], 0)])
def test_padding_is_applied_exactly(frame, padx, pady):
    button = Set_Button().add_button(frame, text="x", padx=padx, pady=pady)
    info = button.grid_info()
    expected = lambda v: v if isinstance(v, int) else tuple(v)  # noqa: E731
    assert info["padx"] == expected(padx)
    assert info["pady"] == expected(pady)


def test_cget_returns_what_was_set(frame):
    kit = Set_Button()
    caption = "".join(["輸出", "單據"])
    kit.add_button(frame, button_name="輸出單據", text=caption, width=140)
    assert kit.cget("輸出單據", "text") is caption
    for text in ["輸出中.", "輸出中..", "輸出單據"]:
        fresh = "".join(list(text))  # an equal but distinct object each time
        kit.configure("輸出單據", text=fresh)
        assert kit.cget("輸出單據", "text") is fresh
        assert kit.button("輸出單據").cget("text") == text
    assert kit.cget("輸出單據", "width") == 140
    assert kit.cget("輸出單據", "hover") is True  # never set: read from the widget


def test_unnamed_buttons_are_created_but_not_addressable(frame):
    kit = Set_Button()
    button = kit.add_button(frame, text="x")
    assert button.winfo_exists()
    with pytest.raises(KeyError):
        kit.cget("x", "text")


@pytest.mark.parametrize(
    "initial, same, other",
    [
        ({"text": "輸出單據"}, {"text": "輸出單據"}, {"text": "輸出中."}),
        ({"fg_color": "transparent"}, {"fg_color": "transparent"}, {"fg_color": "#3B8ED0"}),
        ({"width": 140}, {"width": 140}, {"width": 120}),
        ({}, {"hover": True}, {"hover": False}),  # never set: compared with the widget's value
    ],
)
def test_unchanged_options_do_not_touch_the_widget(frame, initial, same, other):
    kit = Set_Button()
    button = kit.add_button(frame, button_name="b", **initial)
    calls = count_calls(button, "configure")
    draws = count_calls(button, "_draw")
    for _ in range(3):
        kit.configure("b", **same)
    assert calls == [] and draws == []
    kit.configure("b", button_event=None, **other)  # no event was given: only `other` changes
    assert calls == [other]


def test_unknown_name_raises_key_error(frame):
    kit = Set_Button()
    kit.add_button(frame, button_name="a", text="a")
    with pytest.raises(KeyError):
        kit.cget("b", "text")
    with pytest.raises(KeyError):
        kit.configure("b", text="x")


def test_button_event_runs_and_can_be_replaced(frame):
    kit = Set_Button()
    seen = []
    button = kit.add_button(frame, button_name="b", text="b", button_event=lambda: seen.append("first"))
    button.invoke()
    kit.configure("b", button_event=lambda: seen.append("second"))
    button.invoke()
    assert seen == ["first", "second"]


def test_picture_can_be_replaced(frame):
    kit = Set_Button()
    button = kit.add_button(frame, button_name="p", image_path=FOLDER, size=(25, 25))
    first = button.cget("image")
    kit.configure("p", image_path=FOLDER)
    assert button.cget("image") is first
    kit.configure("p", image_path=HELP, size=(30, 30))
    assert button.cget("image") is not first
    assert button.cget("image").cget("size") == (30, 30)
    assert kit.cget("p", "image_path") == HELP


def test_pictures_sharing_a_cell_sit_apart_and_each_takes_its_own_clicks(root, frame):
    kit = Set_Button()
    clicked = []
    buttons = [
        kit.add_button(frame, image_path=path, button_event=lambda n=n: clicked.append(n), size=(25, 25),
                       padx=padx, row=0, column=0, fg_color="transparent")
        for n, (path, padx) in enumerate([(FOLDER, (178, 55)), (CALENDAR, (128, 105)), (HELP, (78, 155))])
    ]
    root.update()
    xs = [b.winfo_x() for b in buttons]
    assert xs[0] - xs[1] == 50 and xs[1] - xs[2] == 50
    for left, right in [(buttons[2], buttons[1]), (buttons[1], buttons[0])]:
        assert left.winfo_x() + left.winfo_width() <= right.winfo_x()
    for n, button in enumerate(buttons):
        assert button.winfo_ismapped()
        x = button.winfo_rootx() + button.winfo_width() // 2
        y = button.winfo_rooty() + button.winfo_height() // 2
        hit = root.winfo_containing(x, y)
        while hit is not None and hit is not button:
            hit = hit.master
        assert hit is button, f"picture {n} is covered"
