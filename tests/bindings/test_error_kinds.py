"""Failures keep their kind across the boundary: each raises its own class (one class per
process, whichever module raises it), a ReceiptoraError and still the ValueError, OSError or
KeyError its callers caught before."""
import sqlite3

import pytest

import quillmarkers_model
from receiptora import _book, _numbers, _shop
from shop_profile import named_shop

BOOK = "收據簿.sqlite3"


def request(folder, buyer="王小明"):
    return {"版本": "一般格式", "買受人": buyer, "買受人統一編號": "", "品名": ["茶"], "數量": [1], "單件價格": [50],
            "存檔路徑": str(folder), "顯示免用統一發票章": False, "顯示負責人章": False, "顯示日期": True,
            "年": 2026, "月": 12, "日": 7}


def issued(folder):
    """One receipt issued into `folder`; its number."""
    results, _ = quillmarkers_model.issue_receipts([request(folder)], jobs=1)
    assert isinstance(results[0], str), results[0]
    return results[0]


def damaged(folder):
    (folder / BOOK).write_bytes(b"x" * 8192)
    _book.list(folder)


def damaged_export(folder):
    (folder / BOOK).write_bytes(b"x" * 8192)
    _shop.export_month(folder, 2026, 12)


def newer(folder):
    with sqlite3.connect(folder / BOOK) as book:
        book.execute("PRAGMA user_version = 999")
        book.execute("CREATE TABLE t(x)")
    _book.summary(folder, "2026-12-01", "2026-12-31")


def not_found(folder):
    _book.open(folder)
    _book.reprint(folder, "收據-20261207-999")


def voided_twice(folder):
    number = issued(named_shop(folder))
    _book.void(folder, number, "打錯")
    _book.void(folder, number, "打錯")


def ledger_not_written(folder):
    number = issued(named_shop(folder))
    (folder / "收據清冊.csv").unlink()
    (folder / "收據清冊.csv").mkdir()  # no file to append the 作廢 line to
    _book.void(folder, number, "打錯")


def no_shop_named(folder):
    results, _ = quillmarkers_model.issue_receipts([request(folder)], jobs=1)
    raise results[0]


def printer_missing(folder):
    (folder / "a.pdf").write_bytes(b"%PDF-1.4\n")
    _shop.print_pdf(folder / "a.pdf", "沒有這台印表機")


@pytest.mark.parametrize("cause, kind, also", [
    (damaged, "BookDamaged", ValueError),
    (damaged_export, "BookDamaged", ValueError),
    (newer, "BookNewer", ValueError),
    (not_found, "ReceiptNotFound", KeyError),
    (voided_twice, "ReceiptRefused", ValueError),
    (ledger_not_written, "LedgerNotWritten", OSError),
    (no_shop_named, "ProfileIncomplete", ValueError),
    (printer_missing, "PrinterFailed", OSError),
], ids=lambda v: v.__name__ if callable(v) else None)
def test_each_failure_raises_its_kind(tmp_path, cause, kind, also):
    with pytest.raises(getattr(_numbers, kind)) as raised:
        cause(tmp_path)
    assert isinstance(raised.value, _numbers.ReceiptoraError) and isinstance(raised.value, also)
    assert any(ch > "\u2e80" for ch in str(raised.value)), str(raised.value)  # said in Chinese


def test_every_module_binds_the_same_classes():
    for module in (_book, _shop):
        assert module.BookDamaged is _numbers.BookDamaged and module.ReceiptoraError is _numbers.ReceiptoraError
