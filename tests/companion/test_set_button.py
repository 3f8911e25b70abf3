import pathlib

import customtkinter
import pytest

import quillmarkers_model as quillmarkers

pytestmark = pytest.mark.gui

PICTURES = pathlib.Path(__file__).resolve().parents[2] / "modules" / "GUI" / "格式範本"
FOLDER, HELP, CALENDAR = (str(PICTURES / name) for name in ("資料夾.png", "問號001.png", "日曆001.png"))

Set_Button = quillmarkers.Customtkinter_Model().Set_Button


def count_calls(widget, method):
    """Wraps widget.<method> on this instance; returns the list of keyword sets it receives."""
    calls, original = [], getattr(widget, method)
    setattr(widget, method, lambda *a, **k: (calls.append(k), original(*a, **k))[1])
    return calls


# options -> (text, width, row, column, padx, pady) of the button made
@pytest.mark.parametrize(
    "options, expected",
    [
        ({}, ("", 140, 0, 0, 0, 0)),
        ({"text": "輸出單據", "padx": 50, "pady": 10}, ("輸出單據", 140, 0, 0, 50, 10)),
        ({"image_path": FOLDER, "padx": (178, 55)}, ("", 40, 0, 0, (178, 55), 0)),
        ({"image_path": FOLDER, "text": "開啟", "pady": [4, 9]}, ("開啟", 140, 0, 0, 0, (4, 9))),
        ({"image_path": FOLDER, "width": 60, "row": 2, "column": 3}, ("", 60, 2, 3, 0, 0)),
    ],
)
def test_defaults_and_placement(frame, options, expected):
    button = Set_Button().add_button(frame, button_name="b", **options)
    assert isinstance(button, customtkinter.CTkButton) and button.master is frame
    info = button.grid_info()
    assert (button.cget("text"), button.cget("width"), info["row"], info["column"], info["padx"], info["pady"]) == expected


def test_cget_returns_exactly_what_was_set(frame):
    kit = Set_Button()
    caption = "".join(["輸出", "單據"])
    kit.add_button(frame, button_name="輸出單據", text=caption)
    assert kit.cget("輸出單據", "text") is caption
    for text in ["輸出中.", "輸出中..", "輸出單據"]:
        fresh = "".join(list(text))  # equal to an earlier value, but a distinct object
        kit.configure("輸出單據", text=fresh)
        assert kit.cget("輸出單據", "text") is fresh
        assert kit.button("輸出單據").cget("text") == text
    assert kit.cget("輸出單據", "hover") is True  # never set: read from the widget


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
    calls, draws = count_calls(button, "configure"), count_calls(button, "_draw")
    for _ in range(3):
        kit.configure("b", **same)
    assert calls == [] and draws == []
    kit.configure("b", button_event=None, **other)  # no event was given: only `other` changes
    assert calls == [other]


def test_names(frame):
    kit = Set_Button()
    unnamed = kit.add_button(frame, text="x")
    assert unnamed.winfo_exists()
    for call in (lambda: kit.cget("x", "text"), lambda: kit.configure("x", text="y")):
        with pytest.raises(KeyError):
            call()


def test_event_and_picture_can_be_replaced(frame):
    kit = Set_Button()
    seen = []
    button = kit.add_button(frame, button_name="b", image_path=FOLDER, button_event=lambda: seen.append(1))
    button.invoke()
    kit.configure("b", button_event=lambda: seen.append(2))
    button.invoke()
    assert seen == [1, 2]
    first = button.cget("image")
    kit.configure("b", image_path=FOLDER)
    assert button.cget("image") is first
    kit.configure("b", image_path=HELP, size=(30, 30))
    assert button.cget("image") is not first and button.cget("image").cget("size") == (30, 30)


def test_pictures_sharing_a_cell_sit_apart_and_each_takes_its_own_clicks(root, frame):
    kit = Set_Button()
    buttons = [
        kit.add_button(frame, image_path=path, button_event=lambda: None, size=(25, 25), padx=padx, row=0, column=0,
                       fg_color="transparent")
        for path, padx in [(FOLDER, (178, 55)), (CALENDAR, (128, 105)), (HELP, (78, 155))]
    ]
    root.update()
    assert [b.winfo_x() - buttons[2].winfo_x() for b in buttons] == [100, 50, 0]
    for left, right in [(buttons[2], buttons[1]), (buttons[1], buttons[0])]:
        assert left.winfo_x() + left.winfo_width() <= right.winfo_x()
    for n, button in enumerate(buttons):
        hit = root.winfo_containing(button.winfo_rootx() + button.winfo_width() // 2,
                                    button.winfo_rooty() + button.winfo_height() // 2)
        while hit is not None and hit is not button:
            hit = hit.master
        assert hit is button, f"picture {n} is covered"
