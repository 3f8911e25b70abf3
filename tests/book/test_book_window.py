"""The 收據簿 window driven by a person's keys and clicks (xdotool on Xvfb): search, open, void
with its dialog, reprint, print to the cups-pdf printer, export."""
import json
import os
import re
import shutil
import subprocess
import time

import customtkinter
import pytest

from book_helpers import COMMAND, cups_pdf_folder, issue, printed_file
from shop_profile import named_shop
from receiptora import _shop

pytestmark = [pytest.mark.gui,
              pytest.mark.skipif(shutil.which("xdotool") is None, reason="xdotool is not installed")]


class Window:
    def __init__(self, app):
        self.app = app

    def pump(self, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.app.update()
            time.sleep(0.005)

    def until(self, ready, timeout=20):
        """Runs the window's events until `ready()` holds or the deadline passes."""
        end = time.monotonic() + timeout
        while not ready() and time.monotonic() < end:
            self.pump(0.02)

    def drawn(self):
        """Runs the window's events until its list shows rows."""
        self.until(lambda: self.rows())

    def xdotool(self, *args):
        process = subprocess.Popen(["xdotool", *args])
        while process.poll() is None:
            self.pump(0.02)
        assert process.returncode == 0
        self.pump(0.1)

    def click(self, widget, x=None, y=None):
        self.app.update_idletasks()
        x = widget.winfo_rootx() + (widget.winfo_width() // 2 if x is None else x)
        y = widget.winfo_rooty() + (widget.winfo_height() // 2 if y is None else y)
        self.xdotool("mousemove", "--sync", str(x), str(y), "click", "1")

    def button(self, text):
        return next(b for b in all_widgets(self.app, customtkinter.CTkButton) if b.cget("text") == text)

    @property
    def list_canvas(self):
        import tkinter
        return all_widgets(self.app, tkinter.Canvas, exact=True)[0]

    def rows(self):
        """The drawn rows' texts (empty rows left out)."""
        canvas = self.list_canvas
        texts = [canvas.itemcget(i, "text") for i in canvas.find_all() if canvas.type(i) == "text"]
        rows = [texts[i:i + 6] for i in range(6, 6 + 14 * 6, 6)]
        return [r for r in rows if r[0]]

    def empty_caption(self):
        canvas = self.list_canvas
        return canvas.itemcget([i for i in canvas.find_all() if canvas.type(i) == "text"][-1], "text")

    def selected_rows(self):
        """The indexes of the drawn rows shown selected."""
        canvas = self.list_canvas
        backgrounds = [i for i in canvas.find_all() if canvas.type(i) == "rectangle"]
        return [r for r, i in enumerate(backgrounds) if canvas.itemcget(i, "fill") == "#1f538d"]

    def click_row(self, index):
        self.click(self.list_canvas, x=60, y=26 * (index + 1) + 13)

    def status(self):
        label = next(lbl for lbl in all_widgets(self.app, customtkinter.CTkLabel) if lbl.grid_info().get("row") == 3)
        return label.cget("text")


def all_widgets(root, kind, exact=False):
    found = []
    for child in root.winfo_children():
        if (type(child) is kind) if exact else isinstance(child, kind):
            found.append(child)
        found.extend(all_widgets(child, kind, exact))
    return found


def run_book_window(monkeypatch, folder, scenario):
    errors = []
    real_mainloop = customtkinter.CTk.mainloop

    def mainloop(app, *args, **kwargs):
        def go():
            try:
                scenario(Window(app))
            except BaseException as error:
                errors.append(error)
            finally:
                app.quit()
        app.after(0, go)
        real_mainloop(app, *args, **kwargs)

    monkeypatch.setattr(customtkinter.CTk, "mainloop", mainloop)
    _shop.book_window(str(folder), 2026, 12)
    if errors:
        raise errors[0]


@pytest.fixture
def book(tmp_path, monkeypatch):
    numbers = issue(tmp_path, ["林記茶行", "陳小姐", "王先生"])
    opened = tmp_path / "opened.txt"
    opener = tmp_path / "opener.sh"
    opener.write_text(f'#!/bin/sh\nprintf "%s\\n" "$@" >> "{opened}"\n')
    opener.chmod(0o755)
    monkeypatch.setattr(_shop, "OPENER", str(opener))
    monkeypatch.setenv("XDG_DATA_HOME", str(tmp_path / "data"))
    return tmp_path, numbers, opened


def wait_for(path, timeout=10):
    end = time.monotonic() + timeout
    while not path.exists() and time.monotonic() < end:
        time.sleep(0.05)
    return path.read_text(encoding="utf-8")


def test_search_follows_each_keystroke_and_open_starts_the_viewer(book, monkeypatch):
    folder, numbers, opened = book

    def scenario(w):
        w.drawn()
        seen = {"all": [r[0] for r in w.rows()]}
        search = all_widgets(w.app, customtkinter.CTkEntry)[0]
        w.click(search)
        # ASCII keys: a character outside the keyboard map makes xdotool remap a key while Tk
        # reads it, and the key is sometimes lost.
        w.xdotool("type", "--delay", "30", "3")
        seen["3"] = [r[2] for r in w.rows()]
        w.xdotool("key", "BackSpace")
        w.xdotool("type", "--delay", "30", "1207-002")
        seen["1207-002"] = [r[0] for r in w.rows()]
        w.click_row(0)
        w.click(w.button("開啟"))
        seen["status"] = w.status()
        test_search_follows_each_keystroke_and_open_starts_the_viewer.seen = seen

    run_book_window(monkeypatch, folder, scenario)
    seen = test_search_follows_each_keystroke_and_open_starts_the_viewer.seen
    assert seen["all"] == numbers
    assert seen["3"] == ["王先生"]  # only 收據-20261207-003 holds a 3
    assert seen["1207-002"] == [numbers[1]]
    assert seen["status"] == f"已開啟 {numbers[1]}"
    assert wait_for(opened) == f"{folder}/2026-12/{numbers[1]}.pdf\n"


def test_the_status_line_says_the_chain_of_signatures_is_whole(book, monkeypatch):
    folder, numbers, _ = book
    seen = {}

    def scenario(w):
        w.until(w.status)
        seen["status"] = w.status()
    run_book_window(monkeypatch, folder, scenario)
    assert seen["status"] == f"驗證鏈完整：{len(numbers)} 張"


def test_void_with_its_dialog_greys_the_row(book, monkeypatch):
    folder, numbers, _ = book

    # The dialogs run event loops of their own, so the keys come from beside the window: from a
    # shell of its own, as a Python thread here could collect the window's Tk variables off its
    # thread. xdotool matches titles in their X encoding: only the number's ASCII part is found.
    find = f"xdotool search --sync --onlyvisible --name {numbers[0][3:]} windowfocus --sync %1"
    answer_dialogs = (f"{find} && sleep 0.4 && xdotool type --delay 30 'wrong total' && xdotool key Return "
                      f"&& sleep 0.6 && {find} && sleep 0.4 && xdotool key Return")

    def scenario(w):
        w.drawn()
        w.click_row(0)
        helper = subprocess.Popen(["sh", "-c", answer_dialogs])
        w.click(w.button("作廢"))
        helper.wait(30)
        w.until(lambda: w.rows()[0][5] == "已作廢")
        canvas = w.list_canvas
        first_row = [i for i in canvas.find_all() if canvas.type(i) == "text"][6:12]
        scenario.colours = {canvas.itemcget(i, "fill") for i in first_row}
        scenario.row, scenario.status = w.rows()[0], w.status()

    run_book_window(monkeypatch, folder, scenario)
    assert scenario.row[5] == "已作廢"
    assert scenario.colours == {"#6f7377"}  # greyed
    assert scenario.status.startswith(f"已作廢 {numbers[0]}")
    assert not (folder / "2026-12" / f"{numbers[0]}.pdf").exists()  # no clean copy left in view:
    assert (folder / "2026-12" / ".原本" / f"{numbers[0]}.pdf").exists()  # the original kept for audit


def test_print_reprint_and_export(book, monkeypatch):
    folder, numbers, _ = book
    cups = cups_pdf_folder()

    def scenario(w):
        w.drawn()
        w.click_row(2)
        w.click(w.button("列印"))
        scenario.printed = w.status()
        w.click(w.button("補印"))
        scenario.reprinted = w.status()
        w.click(w.button("匯出 Excel"))
        scenario.exported = w.status()

    run_book_window(monkeypatch, folder, scenario)
    job = re.search(r"（工作 (\d+)）", scenario.printed)
    assert scenario.printed.startswith(f"{numbers[2]} 已送到印表機") and job, scenario.printed
    text = subprocess.run(["pdftotext", str(printed_file(cups, job[1])), "-"], capture_output=True, text=True,
                          check=True).stdout
    assert numbers[2][3:] in text
    assert scenario.reprinted.startswith("已補印 ") and "送到印表機" in scenario.reprinted, scenario.reprinted
    assert scenario.exported == f"已匯出 {folder}/2026-12/收據簿-2026-12.xlsx"
    assert (folder / "2026-12" / "收據簿-2026-12.xlsx").exists()


def test_a_failure_shows_in_the_window_and_goes_to_the_log(book, monkeypatch):
    folder, numbers, _ = book
    (folder / "2026-12" / f"{numbers[0]}.pdf").unlink()  # removed behind the book's back

    def scenario(w):
        w.drawn()
        w.click(w.button("列印"))
        scenario.nothing_selected = w.status()
        w.click_row(0)
        w.click(w.button("列印"))
        scenario.failed = w.status()

    run_book_window(monkeypatch, folder, scenario)
    assert scenario.nothing_selected == "請先在清單中選一張收據"
    assert scenario.failed.startswith("列印失敗：") and "沒有收據" in scenario.failed, scenario.failed
    log = (folder / "data" / "quillmarkers" / "Receiptora" / "error.log").read_text(encoding="utf-8")
    assert "收據簿 列印\n" in log


def test_the_book_opens_empty_then_follows_what_other_processes_do(tmp_path, monkeypatch):
    folder = tmp_path / "out"  # no receipt yet: no folder, no book
    monkeypatch.setenv("XDG_DATA_HOME", str(tmp_path / "data"))
    seen = {}

    def receiptora(*args):
        subprocess.run([COMMAND, *args, "--output", str(folder)], check=True, capture_output=True, timeout=120)

    def scenario(w):
        w.until(lambda: w.empty_caption().startswith("還沒有收據"))
        seen["empty"], seen["made"] = w.empty_caption(), folder.exists()
        numbers = issue_in_another_process(folder, w, [f"客人{i:02d}" for i in range(20)])
        w.until(lambda: "已開立 20 張" in summary(w))  # the live check sees the other process's receipts
        seen["first"] = [r[0] for r in w.rows()]
        w.click(w.list_canvas, x=60, y=100)
        w.xdotool("click", "5")  # the mouse wheel: three rows down
        w.click_row(2)
        before = (w.rows()[0][0], w.selected_rows())
        receiptora("void", numbers[5], "--reason", "打錯")  # the selected receipt
        issue_in_another_process(folder, w, ["最後一位"], first=21)
        w.until(lambda: "已開立 20 張" in summary(w) and "作廢 1 張" in summary(w))
        seen["kept"] = (before, (w.rows()[0][0], w.selected_rows()))
        seen["voided row"] = w.rows()[2]
        seen["summary"] = summary(w)

    def summary(w):
        return next((lbl.cget("text") for lbl in all_widgets(w.app, customtkinter.CTkLabel)
                     if "已開立" in lbl.cget("text")), "")

    run_book_window(monkeypatch, folder, scenario)
    assert seen["empty"].startswith("還沒有收據。") and "輸出單據" in seen["empty"] and not seen["made"]
    assert seen["first"] == [f"收據-20261207-{n:03d}" for n in range(1, 15)]
    (first, selected), after = seen["kept"]
    assert first == "收據-20261207-004" and selected == [2] and after == (first, selected)
    assert seen["voided row"][0] == "收據-20261207-006" and seen["voided row"][5] == "已作廢"
    assert "已開立 20 張" in seen["summary"] and "作廢 1 張" in seen["summary"]


def test_the_list_is_drawn_before_the_months_figures(book, monkeypatch):
    folder, numbers, _ = book
    seen = {}
    real_mainloop = customtkinter.CTk.mainloop

    def summary(w):
        return next(lbl.cget("text") for lbl in all_widgets(w.app, customtkinter.CTkLabel)
                    if lbl.grid_info().get("row") == 0 and lbl.grid_info().get("columnspan") == 2)

    def watching_mainloop(app, *args, **kwargs):
        w = Window(app)

        def drawn():  # queued after the canvas's own redraw on its first Expose
            seen.setdefault("at first drawing", ([r[0] for r in w.rows()], summary(w)))
        w.list_canvas.bind("<Expose>", lambda event: app.after_idle(drawn), "+")
        real_mainloop(app, *args, **kwargs)

    def scenario(w):
        w.until(lambda: summary(w))
        seen["after"] = summary(w)

    monkeypatch.setattr(customtkinter.CTk, "mainloop", watching_mainloop)
    run_book_window(monkeypatch, folder, scenario)
    assert seen["at first drawing"] == (numbers, "")
    assert seen["after"].startswith("115年12月：已開立 3 張")


def issue_in_another_process(folder, w, buyers, first=1):
    """`receiptora render` in its own process while the window keeps drawing; returns the numbers.
    (No thread: one would collect the window's Tk variables off the main thread.)"""
    named_shop(folder)
    requests = [{"版本": "一般格式", "買受人": buyer, "買受人統一編號": "", "品名": ["烏龍茶"], "數量": [2],
                 "單件價格": [350], "存檔路徑": "/ignored/", "顯示免用統一發票章": False, "顯示負責人章": False,
                 "顯示日期": True, "年": 2026, "月": 12, "日": 7} for buyer in buyers]
    source = folder.parent / f"requests-{first}.json"
    source.write_text(json.dumps(requests), encoding="utf-8")
    render = subprocess.Popen([COMMAND, "render", "--output", str(folder), str(source)],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while render.poll() is None:
        w.pump(0.05)
    assert render.returncode == 0
    return [f"收據-20261207-{n:03d}" for n in range(first, first + len(buyers))]


def test_backup_from_the_window_and_the_date_of_the_last_one(book, monkeypatch, tmp_path_factory):
    import tkinter.filedialog
    folder, numbers, _ = book
    dest = tmp_path_factory.mktemp("usb") / "隨身碟"  # never inside the output folder
    monkeypatch.setattr(tkinter.filedialog, "askdirectory", lambda **options: str(dest))
    seen = {}

    def backup_line(w):
        return next((lbl.cget("text") for lbl in all_widgets(w.app, customtkinter.CTkLabel)
                     if lbl.cget("text").startswith(("還沒有備份過", "上次備份"))), "")

    def scenario(w):
        w.until(lambda: backup_line(w))
        seen["before"] = backup_line(w)
        w.click(w.button("備份"))
        seen["status"], seen["after"] = w.status(), backup_line(w)

    run_book_window(monkeypatch, folder, scenario)
    assert seen["before"].startswith("還沒有備份過")
    (copy,) = dest.iterdir()
    assert seen["status"] == f"已備份 3 張收據與 {seen['status'].split('與 ')[1].split(' ')[0]} 個檔案到 {copy}"
    assert seen["after"].startswith("上次備份：") and (copy / "收據簿.sqlite3").is_file()
