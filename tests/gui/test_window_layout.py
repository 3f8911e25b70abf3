"""The main window as built: start-up state, controls, layout and shutdown."""
import gc
import weakref

import customtkinter
import pytest

import GUI
from window_driver import widgets

pytestmark = pytest.mark.gui


def test_start_up_state_before_the_first_tick(window):
    seen = {}

    def scenario(w):
        seen["caption"] = w.total_caption()
        seen["parameters"] = dict(w.parameters)
        seen["resizable"] = w.app.resizable()
        seen["title"] = w.app.title()
        menu = widgets(w.app, customtkinter.CTkOptionMenu)[0]
        seen["menu"] = (menu.get(), menu.cget("values"))
        boxes = widgets(w.app, customtkinter.CTkCheckBox)
        seen["boxes"] = [(b.cget("text"), b.cget("variable").get(), b.get()) for b in boxes]
        switch = widgets(w.app, customtkinter.CTkSwitch)[0]
        seen["switch"] = (switch.cget("text"), switch.get())

    window(scenario)
    assert seen["caption"] == "總額0元"
    p = seen["parameters"]
    assert list(p)[:5] == ["顯示免用統一發票章", "顯示負責人章", "顯示日期", "格式列表", "check_simhei.ttf"]
    assert (p["顯示日期"], p["顯示免用統一發票章"], p["顯示負責人章"]) == (True, False, False)
    assert seen["resizable"] == (False, False)
    assert seen["title"] == "Receiptora軟體"
    assert seen["menu"] == ("一般格式", ["一般格式", "貓咪格式"])
    # Check boxes start unchecked with variables that read neither "on" nor "off".
    assert [text for text, _, _ in seen["boxes"]] == ["免用統一發票章", "負責人章\u3000\u3000\u3000"]
    for _, variable, state in seen["boxes"]:
        assert variable not in ("on", "off")
        assert state not in ("on",)
    assert seen["switch"] == ("日期", "on")


def test_record_starts_with_one_clock_reading():
    import datetime
    before = datetime.date.today()
    p = GUI.Parameters().parameters
    after = datetime.date.today()
    assert list(p) == ["顯示免用統一發票章", "顯示負責人章", "顯示日期", "格式列表", "check_simhei.ttf", "年", "月", "日"]
    assert (p["年"], p["月"], p["日"]) in {(d.year, d.month, d.day) for d in (before, after)}
    assert all(type(p[k]) is int for k in ("年", "月", "日"))


def test_closing_sends_three_signals_in_order(window):
    recorder, queues, events, _ = window(lambda w: w.ticks(1))
    assert recorder.calls == [("put", "end", None), ("set", "end"), ("put", "get_receipt", None)]


def test_standalone_touches_no_channel(monkeypatch, capsys):
    from window_driver import run_window
    monkeypatch.setattr(GUI, "__name__", "__main__")

    def scenario(w):
        w.type_row(0, "茶", "2", "30")
        w.output_button().invoke()

    run_window(monkeypatch, scenario, "X", "X")
    out = capsys.readouterr().out
    assert "'品名': ['茶'], '數量': [2], '單件價格': [30]" in out


def test_picture_buttons_are_fifty_apart_with_help_leftmost(window):
    seen = {}

    def scenario(w):
        w.pump(0.2)
        pictures = [b for b in widgets(w.app, customtkinter.CTkButton)
                    if b.cget("image") is not None and b.cget("state") != "disabled"]
        seen["x"] = [(b.cget("command"), b.winfo_x(), b.winfo_width()) for b in pictures]

    window(scenario)
    folder, date, help_ = seen["x"]
    assert help_[1] + 50 == date[1] and date[1] + 50 == folder[1]
    assert max(width for _, _, width in seen["x"]) <= 50  # neighbours never overlap


def pictures_without(missing):
    """The bound picture opener, with one file of the template folder missing."""
    real = GUI.Image

    class Pictures:
        LANCZOS = real.LANCZOS

        @staticmethod
        def open(path, *args, **kwargs):
            if str(path).endswith(missing):
                raise FileNotFoundError(2, "No such file or directory", str(path))
            return real.open(path, *args, **kwargs)

    return Pictures


@pytest.mark.parametrize("missing, logos", [("logo.png", 0), ("logo(僅文字).png", 1)])
def test_missing_logo_picture_skips_the_rest_of_the_logo_bar(window, monkeypatch, capsys, missing, logos):
    monkeypatch.setattr(GUI, "Image", pictures_without(missing))
    seen = {}

    def scenario(w):
        seen["logos"] = len([b for b in widgets(w.app, customtkinter.CTkButton) if b.cget("state") == "disabled"])
        seen["title"] = [label for label in widgets(w.app, customtkinter.CTkLabel) if label.cget("text") == "Receiptora軟體"]
        seen["total"] = w.total_caption()
        seen["boxes"] = len(widgets(w.app, customtkinter.CTkCheckBox))

    window(scenario)
    assert seen["logos"] == logos
    assert seen["title"] == []
    assert (seen["total"], seen["boxes"]) == ("總額0元", 2)
    lines = capsys.readouterr().out.strip().splitlines()
    assert len(lines) == 1 and missing in lines[0]


def test_missing_icon_prints_one_line_and_builds_the_rest(window, monkeypatch, capsys):
    monkeypatch.setattr(GUI, "Image", pictures_without("logo.ico"))
    seen = {}
    window(lambda w: seen.update(buttons=len(widgets(w.app, customtkinter.CTkButton))))
    lines = capsys.readouterr().out.strip().splitlines()
    assert len(lines) == 1 and "logo.ico" in lines[0]
    assert seen["buttons"] == 6  # two logos, output, three pictures


# The line-total rule is core's (core/tests/amounts_test.cpp): here only that update uses it.
@pytest.mark.parametrize("quantity, price, shown", [
    ("３", "1_000", "3000 元"),
    ("1.5", "2", ""),
])
def test_update_shows_line_totals(window, quantity, price, shown):
    seen = {}

    def scenario(w):
        w.type_row(2, "茶", quantity, price)
        w.entry_table.update()
        seen["rows"] = [w.line_total(r) for r in range(7)]
        w.type_row(2)  # clearing empties the line total again
        w.entry_table.update()
        seen["cleared"] = w.line_total(2)

    window(scenario)
    assert seen["rows"] == ["", "", shown, "", "", "", ""]
    assert seen["cleared"] == ""


def test_window_state_is_released_when_gui_returns(window):
    refs = {}

    def scenario(w):
        refs["table"] = weakref.ref(w.entry_table)
        refs["app"] = weakref.ref(w.app)
        w.ticks(1)

    _, _, _, made = window(scenario)
    made.clear()
    gc.collect()
    assert refs["table"]() is None
    assert refs["app"]() is None
