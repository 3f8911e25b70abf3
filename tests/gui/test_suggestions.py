"""Buyers and items suggested from the book while the operator types: real key and mouse events
through xdotool, the list taken by keyboard and by mouse, dismissed, and a row hidden for good."""
import json
import shutil
import subprocess
import sys
from pathlib import Path

import pytest
import quillmarkers_model

from shop_profile import named_shop

from test_end_to_end import click, type_into, xdotool

pytestmark = [pytest.mark.gui,
              pytest.mark.skipif(shutil.which("xdotool") is None, reason="xdotool is not installed")]

RECEIPTS = [  # buyer, 統一編號, items (name, quantity, unit price), day
    ("Lin Tea House", "12345675", [("Oolong", 2, 350), ("Green cake", 1, 90)], 1),
    ("Lin Tea House", "12345675", [("Oolong", 1, 360)], 2),
    ("Linden Bakery", "04595257", [("Egg yolk cake", 6, 480)], 3),
]


@pytest.fixture(scope="module")
def book_folder(tmp_path_factory):
    folder = named_shop(tmp_path_factory.mktemp("shop"))
    requests = [{"版本": "一般格式", "買受人": buyer, "買受人統一編號": tax_id, "品名": [i[0] for i in items],
                 "數量": [i[1] for i in items], "單件價格": [i[2] for i in items], "存檔路徑": "/ignored/",
                 "顯示免用統一發票章": False, "顯示負責人章": False, "顯示日期": True,
                 "年": 2026, "月": 12, "日": day} for buyer, tax_id, items, day in RECEIPTS]
    source = folder / "requests.json"
    source.write_text(json.dumps(requests), encoding="utf-8")
    command = str(Path(sys.executable).with_name("receiptora"))
    subprocess.run([command, "render", "--jobs", "1", "--output", str(folder), str(source)], check=True,
                   capture_output=True, timeout=300)
    return folder


@pytest.fixture
def suggesting(book_folder):
    quillmarkers_model.suggest_from(str(book_folder))
    yield book_folder
    quillmarkers_model.suggest_from(None)


def shown():
    from receiptora import _suggest
    return _suggest.shown()


def suggestion_window(w):
    import tkinter
    found = [t for t in w.app.winfo_children() if isinstance(t, tkinter.Toplevel) and t.overrideredirect()]
    assert len(found) <= 1  # made once, reused
    return found[0] if found else None


def key(w, *keys):
    xdotool(w, "key", "--delay", "30", *keys)


def test_a_buyer_and_an_item_taken_by_keyboard(window, suggesting):
    def scenario(w):
        w.pump(0.5)
        buyer, number = w.buyer_entries()
        type_into(w, buyer, "lin")
        scenario.buyers = shown()
        popup = suggestion_window(w)
        scenario.under_entry = (popup.winfo_viewable(), popup.winfo_rooty() >= buyer.winfo_rooty()
                                + buyer.winfo_height(), popup.winfo_rootx() == buyer.winfo_rootx())
        key(w, "Down", "Down", "Up")
        scenario.highlighted = shown()[1]
        key(w, "Return")
        scenario.buyer = (w.set_table.get("買受人"), w.set_table.get("統一編號"), popup.winfo_viewable())
        scenario.focus = w.app.focus_get() is buyer._entry
        type_into(w, w.cell("商品數量", 0), "3")
        type_into(w, w.cell("商品名稱", 0), "OO")
        scenario.items = shown()
        key(w, "Down", "Return")
        scenario.row = [column[0] for column in w.entry_table.get()[:3]]
        scenario.popups = len([t for t in w.app.winfo_children() if t.winfo_class() == "Toplevel"])

    window(scenario)
    # Lin Tea House: two receipts; Linden Bakery: one. "lin" matches either case.
    assert scenario.buyers == ([("Lin Tea House", "12345675"), ("Linden Bakery", "04595257")], -1)
    assert scenario.under_entry == (True, True, True)
    assert scenario.highlighted == 0
    assert scenario.buyer == ("Lin Tea House", "12345675", False)
    assert scenario.focus
    assert scenario.items == ([("Oolong", "360")], -1)  # its last unit price
    assert scenario.row == ["Oolong", "3", "360"]  # the quantity typed stays
    assert scenario.popups == 1


def test_an_item_taken_by_mouse_and_the_list_dismissed(window, suggesting):
    def scenario(w):
        w.pump(0.5)
        cell = w.cell("商品名稱", 1)
        type_into(w, cell, "cake")
        scenario.items = shown()
        key(w, "Escape")
        scenario.after_escape = shown()
        xdotool(w, "type", "--delay", "20", "s")  # typing on: no name holds "cakes"
        scenario.after_typing = shown()
        key(w, "BackSpace")
        popup = suggestion_window(w)
        w.app.update_idletasks()
        row_height = popup.winfo_height() // 2
        xdotool(w, "mousemove", "--sync", str(popup.winfo_rootx() + 40),
                str(popup.winfo_rooty() + row_height + row_height // 2), "click", "1")
        scenario.row = [column[1] for column in w.entry_table.get()[:3]]
        scenario.focus = w.app.focus_get() is cell._entry
        scenario.hidden = not popup.winfo_viewable()

    window(scenario)
    assert scenario.items == ([("Egg yolk cake", "480"), ("Green cake", "90")], -1)
    assert scenario.after_escape == ([], -1)
    assert scenario.after_typing == ([], -1)
    assert scenario.row == ["Green cake", "", "90"]
    assert scenario.focus and scenario.hidden


def test_delete_hides_a_suggestion_for_good_and_the_profile_form_shows_it_again(window, suggesting, monkeypatch):
    def scenario(w):
        w.pump(0.5)
        buyer, _ = w.buyer_entries()
        type_into(w, buyer, "Lin")
        key(w, "Down", "Delete")
        scenario.after_delete = shown()
        scenario.text = w.set_table.get("買受人")
        key(w, "Escape", "BackSpace", "n")
        scenario.typed_again = shown()

    window(scenario)
    assert scenario.after_delete == ([("Linden Bakery", "04595257")], 0)
    assert scenario.text == "Lin"  # Delete went to the list, not the text
    assert scenario.typed_again == ([("Linden Bakery", "04595257")], -1)

    listed = []

    def restore(app):
        listed.append([label.cget("text") for label in labels(app) if "Lin Tea House" in label.cget("text")])
        next(b for b in buttons(app) if b.cget("text") == "恢復").invoke()

    def nothing_hidden(app):
        listed.append([label.cget("text") for label in labels(app) if label.cget("text").startswith("不再建議")])

    for check in (restore, nothing_hidden):
        run_profile_form(monkeypatch, suggesting, check)
    assert listed == [["買受人　Lin Tea House（12345675）"], []]


def labels(app):
    import customtkinter
    return [w for w in all_widgets(app) if isinstance(w, customtkinter.CTkLabel)]


def buttons(app):
    import customtkinter
    return [w for w in all_widgets(app) if isinstance(w, customtkinter.CTkButton)]


def all_widgets(root):
    for child in root.winfo_children():
        yield child
        yield from all_widgets(child)


def run_profile_form(monkeypatch, folder, scenario):
    """The 賣方資料 form on folder; scenario(app) runs inside its event loop, then it closes."""
    import customtkinter
    from receiptora import _shop

    def mainloop(app, *args, **kwargs):
        app.update()
        try:
            scenario(app)
        finally:
            app.destroy()

    monkeypatch.setattr(customtkinter.CTk, "mainloop", mainloop)
    _shop.profile_form(str(folder), False)


def test_a_book_that_cannot_be_read_leaves_typing_alone_and_says_so_once(window, tmp_path, monkeypatch):
    (tmp_path / "收據簿.sqlite3").write_bytes(b"not a database " * 300)
    monkeypatch.setenv("XDG_DATA_HOME", str(tmp_path / "data"))
    quillmarkers_model.suggest_from(str(tmp_path))

    def scenario(w):
        w.pump(0.5)
        type_into(w, w.buyer_entries()[0], "Lin")
        scenario.buyer = w.set_table.get("買受人")
        scenario.list = shown()

    try:
        window(scenario)
    finally:
        quillmarkers_model.suggest_from(None)
    assert scenario.buyer == "Lin" and scenario.list == ([], -1)
    log = (tmp_path / "data" / "quillmarkers" / "Receiptora" / "error.log").read_text(encoding="utf-8")
    assert log.count("讀不到常用的買受人與品項") == 1, log


LAZY = r"""
import sys
import customtkinter, quillmarkers_model
quillmarkers_model.suggest_from(sys.argv[1])
app = customtkinter.CTk()
entry = quillmarkers_model.Set_Table(app).add_entry_name("買受人")
app.update()
def sqlite():
    return "libsqlite3" in open("/proc/self/maps").read()
before = sqlite()
entry._entry.focus_force()
app.update()
entry._entry.event_generate("<KeyPress>", keysym="L")
app.update_idletasks()
from receiptora import _suggest
print(before, sqlite(), len(_suggest.shown()[0]))
"""


def test_nothing_of_the_book_is_loaded_before_the_first_keystroke(book_folder):
    result = subprocess.run([sys.executable, "-c", LAZY, str(book_folder)], capture_output=True, text=True,
                            timeout=60)
    assert result.stdout.split() == ["False", "True", "2"], result.stderr
