"""The whole app as a shop uses it: the `receiptora` command on the display, a receipt typed
with real key events and issued with a real click, and the PDF it saves read back."""
import csv
import datetime
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

import pytest

from app_window import wait_until_still
from shop_profile import named_shop

pytestmark = [pytest.mark.gui,
              pytest.mark.skipif(shutil.which("xdotool") is None or shutil.which("pdftotext") is None,
                                 reason="xdotool and pdftotext are needed")]

ITEMS = [("Oolong", "2", "350"), ("Cake", "3", "90")]


def offsets(window):
    """Where the buyer field, the first two item rows and the output button lie in the window."""
    def scenario(w):
        w.pump(0.3)
        w.app.update_idletasks()

        def centre(widget):
            return (widget.winfo_rootx() - w.app.winfo_rootx() + widget.winfo_width() // 2,
                    widget.winfo_rooty() - w.app.winfo_rooty() + widget.winfo_height() // 2)
        scenario.found = {"buyer": centre(w.buyer_entries()[0]), "output": centre(w.output_button())}
        for row in range(len(ITEMS)):
            for title in ("商品名稱", "商品數量", "商品單價"):
                scenario.found[title, row] = centre(w.cell(title, row))
    window(scenario)
    return scenario.found


def xdotool(*args):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True, timeout=30).stdout


def test_typed_receipt_is_saved_as_a_pdf_with_its_content(window, tmp_path):
    places = offsets(window)
    (tmp_path / ".fonts").mkdir()  # customtkinter installs its font there
    named_shop(tmp_path / "quillmarkers" / "Receiptora")  # a shop with its profile: no profile form first
    env = dict(os.environ, HOME=str(tmp_path), XDG_DATA_HOME=str(tmp_path / "data"))
    command = Path(sys.executable).with_name("receiptora")
    app = subprocess.Popen([str(command)], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        found = xdotool("search", "--sync", "--onlyvisible", "--name", "Receiptora").split()
        geometry = dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell", found[0]).split())
        x0, y0 = int(geometry["X"]), int(geometry["Y"])
        wait_until_still(found[0])  # drawn, and its refresh ticks running

        def click(place):
            xdotool("mousemove", "--sync", str(x0 + place[0]), str(y0 + place[1]), "click", "1")

        def type_into(place, text):
            click(place)
            xdotool("type", "--delay", "20", text)
        type_into(places["buyer"], "Lin Tea House")
        for row, texts in enumerate(ITEMS):
            for title, text in zip(("商品名稱", "商品數量", "商品單價"), texts):
                type_into(places[title, row], text)
        click(places["output"])  # after the keys on the display's queue: the window reads them first

        folder = tmp_path / "quillmarkers" / "Receiptora"
        deadline = time.monotonic() + 30
        while not (folder / "收據清冊.csv").exists() and time.monotonic() < deadline:
            time.sleep(0.1)
        rows = list(csv.reader((folder / "收據清冊.csv").read_text(encoding="utf-8-sig").splitlines()))
    finally:
        app.terminate()
        app.communicate(timeout=10)
    number, date, buyer = rows[1][:3]
    date = date.removeprefix('="').removesuffix('"')  # the ledger keeps its dates as text cells
    assert buyer == "Lin Tea House" and rows[1][5] == "970"
    pdf = folder / date[:7] / f"{number}.pdf"
    text = subprocess.run(["pdftotext", "-layout", str(pdf), "-"], check=True, capture_output=True,
                          text=True).stdout
    roc_year = str(datetime.date.fromisoformat(date).year - 1911)
    for expected in ("Lin Tea House", "Oolong", "Cake", "970", "玖佰柒拾", roc_year):
        assert expected in text, expected
