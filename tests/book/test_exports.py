"""The month as .xlsx (read back with openpyxl) and the monthly report as an A4 PDF."""
import os
import re
import shutil
import subprocess

import openpyxl
import pytest

from book_helpers import issue
from receiptora import _book, _shop


@pytest.fixture
def month(tmp_path):
    numbers = issue(tmp_path, ["林記茶行", "=HYPERLINK(\"x\")", "陳小姐"], tax_ids=["04595257", "", "00123456"])
    _book.void(str(tmp_path), numbers[2], "寫錯金額")
    return tmp_path, numbers


def test_xlsx_types_and_sum_without_void(month):
    folder, numbers = month
    path = _shop.export_month(str(folder), 2026, 12)
    assert path == folder / "2026-12" / "收據簿-2026-12.xlsx"
    sheet = openpyxl.load_workbook(path).active
    rows = list(sheet.iter_rows(values_only=True))
    assert rows[0] == ("號碼", "日期", "買受人", "統一編號", "合計", "狀態")
    assert [r[0] for r in rows[1:4]] == numbers
    assert (sheet["B2"].data_type, rows[1][1]) == ("s", "115/12/07")  # 民國, as people read it
    assert (sheet["D2"].data_type, sheet["D2"].value) == ("s", "04595257")
    assert (sheet["D4"].value, sheet["F4"].value) == ("00123456", "已作廢")
    assert (sheet["C3"].data_type, sheet["C3"].value) == ("s", "=HYPERLINK(\"x\")")  # text, never a formula
    assert [sheet[f"E{r}"].value for r in (2, 3, 4)] == [700, 702, 704]
    assert sheet["E2"].data_type == "n"
    assert sheet["E5"].value == '=SUMIF(F2:F4,"已開立",E2:E4)'
    cached = openpyxl.load_workbook(path, data_only=True).active
    assert cached["E5"].value == 700 + 702


def test_month_report_is_one_a4_page_with_the_figures(month):
    folder, _ = month
    path = _shop.month_report(str(folder), 2026, 12)
    info = subprocess.run(["pdfinfo", str(path)], capture_output=True, text=True, check=True).stdout
    assert re.search(r"^Pages: +1$", info, re.M) and "(A4)" in info
    text = subprocess.run(["pdftotext", str(path), "-"], capture_output=True, text=True, check=True).stdout
    for part in ("115年12月 月報表", "NT$ 1,402", "每日合計", "近十二個月合計", "使用統一發票標準 200,000",
                 "近三個月平均每月 467 元"):
        assert part in text, part


@pytest.mark.parametrize("write", [_shop.export_month, _shop.month_report])
def test_export_before_the_first_receipt_creates_nothing(tmp_path, write):
    with pytest.raises(RuntimeError, match="還沒有開立任何收據"):
        write(str(tmp_path), 2026, 12)
    assert list(tmp_path.iterdir()) == []


def test_xlsx_holds_the_regulars_and_items_of_the_month_and_the_year(tmp_path):
    issue(tmp_path, ["林記茶行", "陳小姐", "林記茶行"], tax_ids=["04595257", "", "04595257"],
          items=[[("烏龍茶", 2, 450), ("運費", 1, 80)], [("蛋黃酥禮盒", 3, 480)], [("烏龍茶", 1, 450)]])
    issue(tmp_path, ["陳小姐"], day=20, month=11, tax_ids=[""], items=[[("蛋黃酥禮盒", 10, 480)]])
    _book.void(str(tmp_path), "收據-20261207-003", "打錯")
    path = _shop.export_month(str(tmp_path), 2026, 12)
    book = openpyxl.load_workbook(path)
    assert book.sheetnames == ["收據 115年12月", "常客 115年12月", "品項 115年12月", "常客 115年", "品項 115年"]
    assert list(book["常客 115年12月"].iter_rows(values_only=True)) == [
        ("買受人", "統一編號", "張數", "合計", "最近日期"),
        ("陳小姐", None, 1, 1440, "115/12/07"),
        ("林記茶行", "04595257", 1, 980, "115/12/07"),
        ("合計", None, "=SUM(C2:C3)", "=SUM(D2:D3)", None)]
    assert [r[:4] for r in book["品項 115年"].iter_rows(values_only=True)][1:] == [
        ("蛋黃酥禮盒", 13, 6240, 2), ("烏龍茶", 2, 900, 1), ("運費", 1, 80, 1), ("合計", None, "=SUM(C2:C4)", None)]
    # What a spreadsheet program computes and shows: gnumeric's ssconvert, one CSV per sheet.
    if shutil.which("ssconvert"):
        # Without the sanitized run's preloaded runtime: ssconvert hangs under it.
        env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
        subprocess.run(["ssconvert", "-S", str(path), str(tmp_path / "sheet.csv")], check=True, capture_output=True,
                       timeout=120, env=env)
        year = (tmp_path / "sheet.csv.3").read_text(encoding="utf-8").splitlines()
        assert year[1:] == ['陳小姐,,2,6240,115/12/07', '林記茶行,04595257,1,980,115/12/07', '合計,,3,7220,']


def display_width(text):
    """Columns of a spreadsheet's width unit a text takes: a CJK character two, others one."""
    import unicodedata
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in str(text))


def test_no_xlsx_caption_is_cut(month):
    """Every text a person reads in the workbook (headings, labels, names, days) fits its column,
    or runs into an empty cell beside it, as spreadsheets show a long text."""
    folder, _ = month
    book = openpyxl.load_workbook(_shop.export_month(str(folder), 2026, 12))
    cut = []
    for sheet in book:
        for row in sheet.iter_rows():
            for cell in row:
                if not isinstance(cell.value, str) or cell.value.startswith("="):
                    continue
                width = sheet.column_dimensions[cell.column_letter].width
                beside = sheet.cell(row=cell.row, column=cell.column + 1).value
                if display_width(cell.value) > width and beside is not None:
                    cut.append(f"{sheet.title}!{cell.coordinate} {cell.value}")
    assert cut == []
