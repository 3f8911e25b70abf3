"""A person at the keyboard: real key and mouse events through xdotool on the X display."""
import shutil
import subprocess

import customtkinter
import pytest

from window_driver import widgets

pytestmark = [pytest.mark.gui,
              pytest.mark.skipif(shutil.which("xdotool") is None, reason="xdotool is not installed")]


def xdotool(w, *args):
    """Runs xdotool while the window keeps handling the events it sends."""
    process = subprocess.Popen(["xdotool", *args])
    while process.poll() is None:
        w.pump(0.02)
    assert process.returncode == 0
    w.pump(0.05)


def click(w, widget):
    w.app.update_idletasks()
    x = widget.winfo_rootx() + widget.winfo_width() // 2
    y = widget.winfo_rooty() + widget.winfo_height() // 2
    xdotool(w, "mousemove", "--sync", str(x), str(y), "click", "1")


def type_into(w, widget, text):
    click(w, widget)
    xdotool(w, "type", "--delay", "20", text)


def test_operator_types_a_receipt_and_issues_it(window):
    def scenario(w):
        w.pump(0.5)
        buyer, number = w.buyer_entries()
        type_into(w, buyer, "Lin Tea House")
        type_into(w, number, "12345678")
        for row, (name, quantity, price) in enumerate([("Oolong", "2", "350"), ("Cake", "3", "90")]):
            type_into(w, w.cell("商品名稱", row), name)
            type_into(w, w.cell("商品數量", row), quantity)
            type_into(w, w.cell("商品單價", row), price)
        stamp = widgets(w.app, customtkinter.CTkCheckBox)[0]
        click(w, stamp)
        w.ticks(1)
        scenario.total = w.total_caption()
        click(w, w.output_button())
        w.pump(0.2)

    _, queues, _, _ = window(scenario)
    assert scenario.total == "總額970元"
    request = queues["get_receipt"].items[0]
    assert request["買受人"] == "Lin Tea House"
    assert request["買受人統一編號"] == "12345678"
    assert (request["品名"], request["數量"], request["單件價格"]) == (["Oolong", "Cake"], [2, 3], [350, 90])
    assert request["顯示免用統一發票章"] is True
    assert request["顯示負責人章"] is False


def test_tab_goes_from_the_buyer_through_the_items_row_by_row(window):
    def scenario(w):
        w.pump(0.5)
        # No click: the cursor already stands in 買受人 once the window has the keyboard.
        title = widgets(w.app, customtkinter.CTkLabel)[0]
        xdotool(w, "mousemove", "--sync", str(title.winfo_rootx() + 5), str(title.winfo_rooty() + 5))
        xdotool(w, "type", "--delay", "20", "Lin")
        for keys in ("Tab", "1", "Tab", "a", "Tab", "2", "Tab", "3", "Tab", "b", "shift+Tab", "9"):
            xdotool(w, *(["key", keys] if "Tab" in keys else ["type", keys]))
        scenario.buyer = (w.set_table.get("買受人"), w.set_table.get("統一編號"))
        scenario.rows = [column[:2] for column in w.entry_table.get()[:3]]

    window(scenario)
    assert scenario.buyer == ("Lin", "1")
    # Shift+Tab from the second row's name returns to the first row's unit price (the line
    # total takes no focus) and, its text selected, the 9 replaces the 3.
    assert scenario.rows == [["a", "b"], ["2", ""], ["9", ""]]
