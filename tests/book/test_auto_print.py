"""自動列印 = 是: the receipt worker prints each receipt it saves; without a printer the
receipt is still saved and the failure is in the error log."""
import queue
import subprocess
import threading
import time

import quillmarkers_model

REQUEST = {"版本": "一般格式", "買受人": "林記茶行", "買受人統一編號": "", "品名": ["烏龍茶"], "數量": [2],
           "單件價格": [350], "顯示免用統一發票章": False, "顯示負責人章": False, "顯示日期": True,
           "年": 2026, "月": 12, "日": 7}


def issue_with_worker(folder, auto_print):
    (folder / "賣方資料.toml").write_text(f'"商號名稱" = "林記茶行"\n"自動列印" = "{auto_print}"\n', encoding="utf-8")
    requests = queue.Queue()
    requests.put(dict(REQUEST, 存檔路徑=str(folder) + "/"))
    requests.put(None)
    worker = quillmarkers_model.Receipt_Worker(requests, threading.Event())
    worker.start()
    assert worker.join(60)
    return folder / "2026-12" / "收據-20261207-001.pdf"


def printed_receipts(cups_folder, since):
    texts = []
    for path in cups_folder.glob("*.pdf") if cups_folder.is_dir() else ():
        if path.stat().st_mtime >= since:
            texts.append(subprocess.run(["pdftotext", str(path), "-"], capture_output=True, text=True).stdout)
    return texts


def test_each_saved_receipt_is_printed(tmp_path, cups_pdf, monkeypatch):
    monkeypatch.setenv("XDG_DATA_HOME", str(tmp_path / "data"))
    since = time.time() - 1
    assert issue_with_worker(tmp_path, "是").exists()
    deadline = time.monotonic() + 60
    while not any("20261207-001" in t for t in printed_receipts(cups_pdf, since)):
        assert time.monotonic() < deadline, "the receipt was never printed"
        time.sleep(0.3)


def test_a_failed_print_is_logged_and_the_receipt_kept(tmp_path, monkeypatch):
    monkeypatch.setenv("XDG_DATA_HOME", str(tmp_path / "data"))
    monkeypatch.setenv("CUPS_SERVER", str(tmp_path / "no-cups.sock"))  # read when the worker's thread starts
    assert issue_with_worker(tmp_path, "是").read_bytes().startswith(b"%PDF")
    log = (tmp_path / "data" / "quillmarkers" / "Receiptora" / "error.log").read_text(encoding="utf-8")
    assert "列印 收據-20261207-001\n列印服務（CUPS）沒有在執行" in log
