"""The guards around the window for the operator's slips, driven with real keys and clicks
(xdotool on Xvfb): the day badge, a double press, Ctrl+N, Ctrl+A, a pasted picture, the
統一編號 checked as typed and a total below zero refused, with the real worker answering."""
import csv
import datetime
import queue
import shutil
import subprocess
import threading
import time
import tkinter

import customtkinter
import pytest

from shop_profile import named_shop

import GUI
import quillmarkers_model
from receiptora.hand_over import ReceiptQueue
from window_driver import run_window, widgets

pytestmark = [pytest.mark.gui,
              pytest.mark.skipif(shutil.which("xdotool") is None or shutil.which("xclip") is None,
                                 reason="xdotool and xclip are needed")]


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True, capture_output=True, timeout=30)


def click(widget, *then):
    x = widget.winfo_rootx() + widget.winfo_width() // 2
    y = widget.winfo_rooty() + widget.winfo_height() // 2
    xdotool("mousemove", "--sync", str(x), str(y), "click", "1", *then)


def until(w, condition, what):
    """Lets the event loop run until condition() holds (at most 30 s, then fails naming what)."""
    end = time.monotonic() + 30
    while not condition():
        assert time.monotonic() < end, what
        w.app.update()
        time.sleep(0.01)


def labels(w, start):
    return [label for label in widgets(w.app, tkinter.Label)
            if str(label.cget("text")).startswith(start) and label.winfo_ismapped()]


def toast_says(w, text):
    return any(text in str(label.cget("text")) for label in widgets(w.app, tkinter.Label))


@pytest.fixture
def guarded(monkeypatch, tmp_path):
    """The window as the app runs it: guards on, the app's queue, the real worker answering."""
    monkeypatch.setenv("HOME", str(tmp_path))
    named_shop(tmp_path / "quillmarkers" / "Receiptora")  # the window's output folder
    quillmarkers_model.guard_slips(True)
    q, busy = ReceiptQueue(on_put=quillmarkers_model.expect), threading.Event()
    log = quillmarkers_model.Try_Except_Model()
    log.log_path = str(tmp_path / "error.log")
    worker = quillmarkers_model.Receipt_Worker(q, busy, log, feedback=quillmarkers_model.answer)
    worker.start()
    try:
        yield Guarded(monkeypatch, q, busy)
    finally:
        quillmarkers_model.guard_slips(False)
        q.put(None)
        assert worker.join(60)


class Guarded:
    def __init__(self, monkeypatch, q, busy):
        self.monkeypatch, self.queue, self.busy = monkeypatch, q, busy

    def __call__(self, scenario):
        return run_window(self.monkeypatch, scenario, {"get_receipt": self.queue, "end": queue.Queue()},
                          {"get_receipt": self.busy, "end": threading.Event()})


def ledger(tmp_path):
    path = tmp_path / "quillmarkers" / "Receiptora" / "收據清冊.csv"
    return list(csv.reader(path.read_text(encoding="utf-8-sig").splitlines()))[1:] if path.exists() else []


def test_the_slips_of_a_day_at_the_counter(guarded, tmp_path):
    today = datetime.date.today()

    def scenario(w):
        w.pump(0.3)
        buyer, tax_id = w.buyer_entries()
        # The day badge: a past day picked in the date window stays named on the main window.
        assert labels(w, "收據日期") == []
        date_button = [b for b in widgets(w.app, customtkinter.CTkButton)
                       if b.cget("text") == "" and b.cget("state") == "normal"][1]
        click(date_button)
        until(w, lambda: getattr(GUI, "calendar", None) is not None, "the date window opens")
        past = 5 if today.day != 5 else 6
        day = next(b for b in GUI.calendar.data["日曆按鈕"].values() if b.cget("text") == str(past))
        until(w, day.winfo_ismapped, "the calendar is drawn")
        click(day)
        until(w, lambda: GUI.calendar.get_day()["日"] == past, "the click picks the day")
        day.winfo_toplevel().destroy()
        until(w, lambda: labels(w, "收據日期"), "the badge shows")
        (badge,) = labels(w, "收據日期")
        roc = f"{today.year - 1911}年{today.month}月{past}日"
        assert badge.cget("text") == f"收據日期：{roc}（不是今天）"
        w.pump(0.1)
        assert badge.winfo_x() + badge.winfo_reqwidth() <= badge.master.winfo_width(), "the whole day shows"
        click(badge)  # one click: today again, through the calendar
        until(w, lambda: not labels(w, "收據日期"), "the badge goes")
        w.ticks()
        assert (w.parameters["年"], w.parameters["月"], w.parameters["日"]) == (today.year, today.month, today.day)

        # Ctrl+A selects all, so typing replaces; a picture on the clipboard pastes nothing.
        click(buyer, "type", "--delay", "10", "old buyer")
        xdotool("key", "ctrl+a", "type", "Lin")
        until(w, lambda: buyer.get() == "Lin", "Ctrl+A and typing replace the text")
        picture = tmp_path / "picture.png"
        picture.write_bytes(bytes.fromhex("89504e470d0a1a0a0000000d49484452000000010000000108060000001f15c489"
                                          "0000000d4944415478da63f8cfc0f01f0005000201a5f6a4a20000000049454e44ae426082"))
        xclip = subprocess.Popen(["xclip", "-selection", "clipboard", "-t", "image/png", "-i", str(picture)])
        try:
            click(tax_id)
            xdotool("key", "ctrl+v", "type", "1")
            until(w, lambda: tax_id.get() == "1", "the paste inserts nothing before the typed 1")
        finally:
            w.app.clipboard_clear()  # takes the clipboard: xclip ends
            w.app.clipboard_append("")
            w.app.update()
            xclip.wait(timeout=30)

        # The 統一編號 is checked as typed: red for a wrong checksum, green for a right one.
        tax_id.delete(0, "end")
        tax_id.insert(0, "12345678")
        assert tax_id.cget("border_color") == "#D03B3B"
        tax_id.delete(0, "end")
        tax_id.insert(0, "04595257")
        assert tax_id.cget("border_color") == "#2E8B57"

        # A double press issues one receipt.
        w.type_row(0, "吐司", "2", "110")
        click(w.output_button(), "sleep", "0.15", "click", "1")
        until(w, lambda: len(ledger(tmp_path)) == 1 and toast_says(w, "已開立"), "the receipt is issued")
        until(w, lambda: guarded.queue.empty() and not guarded.busy.is_set(), "the second press is handled")

        # A total below zero is refused in the window's toast, with no number used.
        w.type_row(0, "退款", "1", "-500")
        click(w.output_button())
        until(w, lambda: toast_says(w, "合計為負數（-500 元）"), "the refusal is shown on the window")

        # A row that cannot be read is named on the window; Tk's own message box says 確定.
        w.type_row(0, "茶", "1.5", "350")
        click(w.output_button())
        until(w, lambda: toast_says(w, "第 1 列的數量或單價不是整數"), "the toast names the row")
        assert w.app.tk.eval("namespace eval ::tk {::msgcat::mc &OK}") == "確定(&O)"

        # Ctrl+N: a new receipt, every field empty.
        xdotool("key", "ctrl+n")
        until(w, lambda: buyer.get() == tax_id.get() == w.cell("商品單價", 0).get() == "", "Ctrl+N empties")
        scenario.rows = ledger(tmp_path)

    guarded(scenario)
    assert [row[2] for row in scenario.rows] == ["Lin"]
