"""Hostile input and misuse: the window keeps its size, its tick, its requests and its day."""
import io
import tkinter

import customtkinter
import pytest

import GUI
from window_driver import run_window, widgets

pytestmark = pytest.mark.gui


def test_huge_texts_keep_the_window_size(window):
    seen = {}

    def scenario(w):
        w.ticks(1)
        w.app.update_idletasks()
        seen["before"] = (w.app.winfo_width(), w.app.winfo_height())
        w.type_row(0, "茶" * 3000, "-" + "9" * 400, "9" * 400)  # total and line total of 800 digits
        w.type_buyer("陳" * 3000, "1" * 3000)
        w.ticks(1)
        w.app.update_idletasks()
        seen["after"] = (w.app.winfo_width(), w.app.winfo_height())
        seen["caption"] = w.total_caption()

    window(scenario)
    assert seen["after"] == seen["before"]
    assert seen["caption"] == "金額超過上限"


def handlers(w):
    """The commands the operator reaches: output press, switch, check boxes, date window."""
    picture_buttons = [b for b in widgets(w.app, customtkinter.CTkButton) if b.cget("text") == ""]
    return [w.output_button().cget("command"), widgets(w.app, customtkinter.CTkSwitch)[0].cget("command"),
            *(b.cget("command") for b in widgets(w.app, customtkinter.CTkCheckBox)),
            picture_buttons[-2].cget("command")]


def test_handler_called_after_its_window_closed_raises(window):
    kept = []
    window(lambda w: kept.extend(handlers(w)))
    assert len(kept) == 5
    for handler in kept:
        with pytest.raises(RuntimeError, match="window of this handler is closed"):
            handler()


class ClosedOut(io.StringIO):
    encoding = "utf-8"


@pytest.mark.parametrize("stream, printed", [
    (io.TextIOWrapper(io.BytesIO(), encoding="cp950"), "陳\\u5586"),  # 喆 is not in cp950
    (ClosedOut(), None),
])
def test_a_failing_print_never_stops_the_hand_over(window, monkeypatch, tmp_path, stream, printed):
    GUI.try_except.log_path = str(tmp_path / "error.log")

    def scenario(w):
        w.type_buyer("陳喆", "")
        w.type_row(0, "王堃", "1", "5")
        if printed is None:
            stream.close()
        monkeypatch.setattr("sys.stdout", stream)
        w.output_button().invoke()
        monkeypatch.undo()

    _, queues, _, _ = window(scenario)
    assert queues["get_receipt"].items[0]["買受人"] == "陳喆"
    if printed:
        stream.seek(0)
        assert printed in stream.buffer.read().decode("cp950")
    else:
        assert "print_request" in (tmp_path / "error.log").read_text(encoding="utf-8")


def test_a_second_window_keeps_its_own_day(monkeypatch):
    seen = []

    def scenario(w):
        if not seen:  # first window: pick another day in its date window
            [b for b in widgets(w.app, customtkinter.CTkButton) if b.cget("text") == ""][-2].invoke()
            p = w.parameters
            today = f'{p["年"]}-{p["月"]}-{p["日"]}'
            next(b for k, b in GUI.calendar.data["日曆按鈕"].items() if k != today).invoke()
        w.ticks(1)
        p = w.parameters
        seen.append((p["年"], p["月"], p["日"]))
        w.output_button().invoke()

    run_window(monkeypatch, scenario, *channels_pair())
    monkeypatch.undo()  # the driver's patches, so the second window gets them once
    queues, events = channels_pair()
    run_window(monkeypatch, scenario, queues, events)
    created = GUI.Parameters().parameters
    assert seen[0] != seen[1] == (created["年"], created["月"], created["日"])
    sent = queues["get_receipt"].items[0]
    assert (sent["年"], sent["月"], sent["日"]) == seen[1]


def channels_pair():
    from window_driver import channels
    _, queues, events = channels()
    return queues, events


def test_unreadable_cell_is_never_taken_for_blank_and_the_tick_goes_on(window, capsys):
    class Odd:
        def get(self):
            return 5

    seen = []

    def scenario(w):
        w.entry_table.entry[w.entry_table.name_to_random_string["商品數量"]][0] = Odd()
        w.type_row(1, "茶", "2", "30")
        w.ticks(1)
        seen.append((w.line_total(0), w.line_total(1), w.total_caption()))
        w.type_row(1, "茶", "3", "30")  # a changed quantity is computed again on the next tick
        w.ticks(1)
        seen.append((w.line_total(0), w.line_total(1), w.total_caption()))
        w.output_button().invoke()

    _, queues, _, _ = window(scenario)
    assert seen == [("", "60 元", "金額輸入錯誤"), ("", "90 元", "金額輸入錯誤")]
    assert queues["get_receipt"].items == [None]  # the press was refused: only the shutdown's None
    assert capsys.readouterr().out == "讀取錯誤 --> 第 1 列有一格無法讀取，收據未輸出\n"


def test_poll_intervals_are_slowed_while_open_and_restored(window):
    trackers = (customtkinter.AppearanceModeTracker, customtkinter.ScalingTracker)
    before = [t.update_loop_interval for t in trackers]
    during = []
    window(lambda w: during.extend(t.update_loop_interval for t in trackers))
    assert during == [5000, 5000]
    assert [t.update_loop_interval for t in trackers] == before


def test_start_up_failure_leaves_no_tcl_background_error(monkeypatch, capfd):
    def broken():
        raise RuntimeError("no record")

    monkeypatch.setattr(GUI, "Parameters", broken)
    with pytest.raises(RuntimeError, match="no record"):
        run_window(monkeypatch, lambda w: None, *channels_pair())
    root = tkinter.Tk()
    root.after(300, root.destroy)
    root.mainloop()
    assert "application has been destroyed" not in capfd.readouterr().err
