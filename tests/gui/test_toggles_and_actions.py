"""The option toggles and the three picture buttons."""
import os

import customtkinter
import pytest

import GUI
from window_driver import widgets

pytestmark = pytest.mark.gui


def boxes(w):
    return widgets(w.app, customtkinter.CTkCheckBox)


def test_switch_and_check_boxes_reach_the_next_request(window):
    def scenario(w):
        switch = widgets(w.app, customtkinter.CTkSwitch)[0]
        first, second = boxes(w)
        switch.toggle()
        first.toggle()
        w.output_button().invoke()           # date off, exemption stamp on
        switch.toggle()
        first.toggle()
        second.toggle()
        w.output_button().invoke()           # date on, exemption off, owner's seal on

    _, queues, _, _ = window(scenario)
    first, second = queues["get_receipt"].items[:2]
    keys = ("顯示日期", "顯示免用統一發票章", "顯示負責人章")
    assert [first[k] for k in keys] == [False, True, False]
    assert [second[k] for k in keys] == [True, False, True]


def test_handler_with_neither_on_nor_off_changes_nothing(window):
    seen = {}

    def scenario(w):
        first, second = boxes(w)
        w.parameters["顯示免用統一發票章"] = "untouched"
        first.cget("command")()               # variable still holds its false start value
        seen["value"] = w.parameters["顯示免用統一發票章"]
        seen["other"] = w.parameters["顯示負責人章"]

    window(scenario)
    assert seen == {"value": "untouched", "other": False}


class Recorder:
    def __init__(self, fail_first=False, answer=True):
        self.calls, self.fail_first, self.answer = [], fail_first, answer

    def __call__(self, *args, **kwargs):
        self.calls.append(args)
        if self.fail_first and len(self.calls) == 1:
            raise OSError("no secure browser")
        return self.answer


def picture_button(w, position):
    """Picture buttons from the left: 0 help, 1 date, 2 folder."""
    pictures = [b for b in widgets(w.app, customtkinter.CTkButton)
                if b.cget("image") is not None and b.cget("state") != "disabled"]
    return sorted(pictures, key=lambda b: b.winfo_x())[position]


@pytest.mark.parametrize("fail_first, answer, opened", [
    (False, True, ["https"]),
    (False, False, ["https"]),        # a browser that did not open is no error
    (True, True, ["https", "http"]),  # an error falls back to the plain address once
])
def test_help_page(window, monkeypatch, fail_first, answer, opened):
    open_ = Recorder(fail_first, answer)

    class Browser:
        open = staticmethod(open_)

    monkeypatch.setattr(GUI, "webbrowser", Browser)

    def scenario(w):
        w.pump(0.1)
        picture_button(w, 0).invoke()

    window(scenario)
    schemes = [args[0].split(":")[0] for args in open_.calls]
    assert schemes == opened
    if len(open_.calls) == 2:
        assert open_.calls[0][0].split("://")[1] == open_.calls[1][0].split("://")[1]


def test_help_page_failure_is_logged_under_its_name(window, monkeypatch, tmp_path):
    monkeypatch.setattr(GUI.try_except, "log_path", str(tmp_path / "error.log"))
    def no_browser(url):
        raise OSError("no browser")

    monkeypatch.setattr(GUI, "webbrowser", type("Browser", (), {"open": staticmethod(no_browser)}))
    window(lambda w: (w.pump(0.1), picture_button(w, 0).invoke()))
    assert (tmp_path / "error.log").read_text(encoding="utf-8").split("\n", 1)[0].endswith(" button_event_005")


def test_open_folder_starts_the_file_manager_each_click_and_reaps_it(window, monkeypatch, tmp_path):
    import subprocess
    calls, pids = [], []

    def popen(command):
        calls.append(command)
        process = subprocess.Popen(["true"])  # a file manager that ends at once
        pids.append(process.pid)
        return process

    class Processes:
        Popen = staticmethod(popen)

    monkeypatch.setattr(GUI, "subprocess", Processes)
    monkeypatch.setenv("HOME", str(tmp_path))

    def scenario(w):
        w.pump(0.1)
        picture_button(w, 2).invoke()
        picture_button(w, 2).invoke()
        w.pump(1)

    window(scenario)
    folder = str(tmp_path) + "/quillmarkers/Receiptora/"
    assert calls == [["xdg-open", folder]] * 2
    assert (tmp_path / "quillmarkers" / "Receiptora").is_dir()
    assert [pid for pid in pids if os.path.exists(f"/proc/{pid}")] == []  # no zombie left


def test_date_window_marks_today_and_the_picked_day_reaches_the_request(window, monkeypatch):
    import time
    calls = []
    real_attributes = customtkinter.CTkToplevel.attributes
    real_pictures = GUI.Image

    def attributes(self, *args):
        calls.append((time.monotonic(), "attributes", args))
        return real_attributes(self, *args)

    class Pictures:
        LANCZOS = real_pictures.LANCZOS

        @staticmethod
        def open(path, *args, **kwargs):
            calls.append((time.monotonic(), "open", str(path).rsplit("/", 1)[-1]))
            return real_pictures.open(path, *args, **kwargs)

    monkeypatch.setattr(customtkinter.CTkToplevel, "attributes", attributes)
    seen = {}

    def scenario(w):
        w.pump(0.1)
        monkeypatch.setattr(GUI, "Image", Pictures)
        start = time.monotonic()
        picture_button(w, 1).invoke()
        top = [t for t in w.app.winfo_children() if isinstance(t, customtkinter.CTkToplevel)][-1]
        w.pump(0.05)
        seen["window"] = (top.title(), top.geometry().split("+")[0])
        w.pump(0.4)
        seen["timeline"] = [(round((t - start) * 1000), what, args) for t, what, args in calls]
        p = w.parameters
        today = f'{p["年"]}-{p["月"]}-{p["日"]}'
        seen["today_colour"] = GUI.calendar.data["日曆按鈕"][today].cget("fg_color")
        other = next(k for k in GUI.calendar.data["日曆按鈕"] if k != today)
        GUI.calendar.data["日曆按鈕"][other].invoke()
        w.ticks(1)
        seen["picked"] = other
        seen["other_colour"] = GUI.calendar.data["日曆按鈕"][other].cget("fg_color")
        first = GUI.calendar
        picture_button(w, 1).invoke()      # reopening: the newer calendar counts, the first stays open
        tops = [t for t in w.app.winfo_children() if isinstance(t, customtkinter.CTkToplevel)]
        seen["newer"] = GUI.calendar is not first and len(tops) == 2
        w.output_button().invoke()

    _, queues, _, _ = window(scenario)
    request = queues["get_receipt"].items[0]
    assert seen["window"] == ("日期", "250x250")
    timeline = seen["timeline"]
    topmost = [(ms, args) for ms, what, args in timeline if what == "attributes"]
    assert topmost[0][1] == ("-topmost", True) and topmost[1][1] == ("-topmost", False)
    assert topmost[1][0] - topmost[0][0] >= 100
    icon = [ms for ms, what, name in timeline if what == "open" and name == "logo.ico"]
    assert len(icon) == 1 and icon[0] >= 250
    assert seen["today_colour"] == "#3B8ED0"
    assert seen["other_colour"] == "#3B8ED0"
    assert f'{request["年"]}-{request["月"]}-{request["日"]}' == seen["picked"]
    assert seen["newer"]
