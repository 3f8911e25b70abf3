"""The 收據簿 window's 常客 and 品項 views and its 複製圖片 button, driven with real clicks and keys
(xdotool on Xvfb); the clipboard is read back with xclip as a paste would."""
import shutil
import subprocess
import tkinter

import customtkinter
import pytest

from book_helpers import issue
from receiptora import _book
from test_book_window import all_widgets, run_book_window

pytestmark = [pytest.mark.gui,
              pytest.mark.skipif(shutil.which("xdotool") is None, reason="xdotool is not installed")]


@pytest.fixture
def shop(tmp_path, monkeypatch):
    """December: 林記茶行 three times (one void), 陳小姐 twice; November: 陳小姐 once."""
    monkeypatch.setenv("XDG_DATA_HOME", str(tmp_path / "data"))
    numbers = issue(tmp_path, ["林記茶行", "陳小姐", "林記茶行"], tax_ids=["04595257", "", "04595257"],
                    items=[[("烏龍茶", 2, 450), ("運費", 1, 80)], [("蛋黃酥禮盒", 3, 480)], [("烏龍茶", 1, 450)]])
    numbers += issue(tmp_path, ["陳小姐", "林記茶行"], day=8, tax_ids=["", "04595257"],
                     items=[[("蛋黃酥禮盒", 1, 480), ("烏龍茶", 1, 450)], [("烏龍茶", 10, 450)]])
    issue(tmp_path, ["陳小姐"], day=20, month=11, tax_ids=[""], items=[[("蛋黃酥禮盒", 10, 480)]])
    _book.void(str(tmp_path), numbers[2], "打錯")
    return tmp_path, numbers


def view_canvas(w):
    """The views' table: the canvas with a 張數 column (made when a view is first shown)."""
    return next(c for c in all_widgets(w.app, tkinter.Canvas, exact=True)
                if any(c.type(i) == "text" and c.itemcget(i, "text").startswith("張數") for i in c.find_all()))


def table(w):
    """The view's headings and drawn rows (empty rows left out)."""
    canvas = view_canvas(w)
    texts = [canvas.itemcget(i, "text") for i in canvas.find_all() if canvas.type(i) == "text"]
    rows = [texts[i:i + 6] for i in range(6, len(texts), 6)]
    return [t for t in texts[:6] if t], [r for r in rows if r[0]]


def click_heading(w, text):
    canvas = view_canvas(w)
    item = next(i for i in canvas.find_all() if canvas.type(i) == "text" and canvas.itemcget(i, "text") == text)
    x0, y0, x1, y1 = canvas.bbox(item)
    w.click(canvas, x=(x0 + x1) // 2, y=(y0 + y1) // 2)


def test_regulars_and_items_by_month_and_year_sorted_by_a_click(shop, monkeypatch):
    folder, numbers = shop
    seen = {}

    def scenario(w):
        w.pump(0.3)
        w.click(w.button("常客"))
        seen["month"] = table(w)
        click_heading(w, "合計 ▼")
        seen["ascending"] = table(w)[1]
        w.click(w.button("全年"))
        seen["year"] = table(w)[1]
        w.click(w.button("品項"))
        seen["items"] = table(w)
        search = all_widgets(w.app, customtkinter.CTkEntry)[0]
        search.insert(0, "禮盒")
        seen["found"] = table(w)[1]
        seen["caption"] = next(label.cget("text") for label in all_widgets(w.app, customtkinter.CTkLabel)
                               if label.cget("text").startswith("115年："))
        search.delete(0, "end")
        w.click(w.button("常客"))
        w.click(search)
        w.xdotool("key", "Down", "Down", "Return")  # 林記茶行, then 陳小姐, and her receipts
        seen["receipts"] = [r[0] for r in w.rows()]
        seen["status"] = w.status()

    run_book_window(monkeypatch, folder, scenario)
    headings, rows = seen["month"]
    assert headings == ["買受人", "統一編號", "張數", "合計 ▼", "最近日期"]
    assert [r[:5] for r in rows] == [["林記茶行", "04595257", "2", "5,480", "115/12/08"],  # the void one left out
                                     ["陳小姐", "", "2", "2,370", "115/12/08"]]
    assert [r[0] for r in seen["ascending"]] == ["陳小姐", "林記茶行"]
    assert [r[:4] for r in seen["year"]] == [["林記茶行", "04595257", "2", "5,480"], ["陳小姐", "", "3", "7,170"]]
    headings, rows = seen["items"]
    assert headings == ["品名", "數量", "金額 ▼", "張數", "最近單價", "最近日期"]
    assert rows == [["蛋黃酥禮盒", "14", "6,720", "3", "480", "115/12/08"],
                    ["烏龍茶", "13", "5,850", "3", "450", "115/12/08"],
                    ["運費", "1", "80", "1", "80", "115/12/07"]]
    assert [r[0] for r in seen["found"]] == ["蛋黃酥禮盒"]
    assert seen["caption"] == "115年：3 項品項（只算已開立的收據，不含作廢），符合搜尋的 1 項"
    assert seen["receipts"] == [numbers[1], numbers[3]]  # 陳小姐's receipts of the month
    assert seen["status"] == "本月 陳小姐 的收據"


@pytest.mark.skipif(shutil.which("xclip") is None, reason="xclip is not installed")
def test_copy_picture_pastes_the_receipt_png_and_a_void_one_as_its_copy(shop, monkeypatch):
    folder, numbers = shop
    seen = {}

    def pasted():
        return subprocess.run(["xclip", "-selection", "clipboard", "-o", "-t", "image/png"], capture_output=True,
                              timeout=30).stdout

    def scenario(w):
        w.pump(0.3)
        for row in (0, 2):  # an issued receipt, then the void one
            w.click_row(row)
            w.click(w.button("複製圖片"))
            w.pump(0.3)
            seen[row] = (w.status(), pasted())
        w.click(w.button("常客"))
        w.click(w.button("複製圖片"))
        seen["view"] = w.status()
        w.click(w.button("收據"))
        w.click_row(0)
        display = w.app.winfo_screen()
        monkeypatch.delenv("DISPLAY")  # as on a machine without a desktop: said, never raised
        w.button("複製圖片").invoke()  # xdotool needs the display too
        seen["no display"] = w.status()
        monkeypatch.setenv("DISPLAY", display)

    run_book_window(monkeypatch, folder, scenario)
    month = folder / "2026-12"
    assert seen[0] == (f"已複製 {numbers[0]} 的圖片，可以貼到聊天或郵件", (month / f"{numbers[0]}.png").read_bytes())
    assert seen[2] == (f"已複製 {numbers[2]}-作廢 的圖片，可以貼到聊天或郵件",
                       (month / f"{numbers[2]}-作廢.png").read_bytes())
    assert seen["view"] == "請先切換到「收據」清單，選一張收據"
    assert seen["no display"] == "複製圖片失敗：沒有桌面畫面（未設定 DISPLAY），無法使用剪貼簿"
    log = (folder / "data" / "quillmarkers" / "Receiptora" / "error.log").read_text(encoding="utf-8")
    assert "收據簿 複製圖片\n" in log
