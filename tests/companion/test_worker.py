"""The receipt worker's contract with the window and the files it leaves in the output folder."""
import csv
import datetime
import os
import pathlib
import queue
import subprocess
import sys
import threading

import pytest

import quillmarkers_model as quillmarkers
from shop_profile import named_shop

DAY = {"年": 2026, "月": 12, "日": 7}
# What a sanitizer run sets for every Python process; a child started with a bare environment keeps it.
SANITIZER_VARIABLES = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")


pytestmark = pytest.mark.usefixtures("no_tk_garbage")


def request(folder, buyer="林記茶行", **changes):
    """A request for the shop in `folder` (given a profile naming the shop, unless it has one)."""
    named_shop(folder)
    r = {"版本": "一般格式", "買受人": buyer, "買受人統一編號": "22099131", "品名": ["烏龍茶", "蛋糕"],
         "數量": [2, 3], "單件價格": [350, 90], "存檔路徑": str(folder) + "/", "顯示免用統一發票章": True,
         "顯示負責人章": False, "顯示日期": True, **DAY}
    r.update(changes)
    return r


class RecordingEvent(threading.Event):
    """A real event that also remembers each set and clear."""

    def __init__(self):
        super().__init__()
        self.calls = []

    def set(self):
        self.calls.append("set")
        super().set()

    def clear(self):
        self.calls.append("clear")
        super().clear()


@pytest.fixture
def log(tmp_path):
    model = quillmarkers.Try_Except_Model()
    model.log_path = str(tmp_path / "log" / "error.log")
    return model


def run_worker(log, *requests):
    """Runs a worker over the requests followed by None; returns (busy event, worker)."""
    q, busy = queue.Queue(), RecordingEvent()
    for r in (*requests, None):
        q.put(r)
    worker = quillmarkers.Receipt_Worker(q, busy, log)
    worker.start()
    assert worker.join(60)
    return busy, worker


def ledger(folder):
    """The ledger's rows, text cells ="…" read as their text (as the README tells a reader)."""
    text = (folder / "收據清冊.csv").read_bytes().decode("utf-8")
    assert text.startswith("\ufeff收據號碼,日期,買受人,買受人統一編號,品項數,總額,檔案,版本,狀態,作廢原因\r\n")
    rows = list(csv.reader(text[1:].splitlines()))[1:]
    return [[c[2:-1].replace('""', '"') if c.startswith('="') else c for c in row] for row in rows]


def log_text(log):
    path = pathlib.Path(log.log_path)
    return path.read_text(encoding="utf-8") if path.exists() else ""


def test_requests_made_in_order_busy_around_each_and_nothing_after_none(tmp_path, log, capsys):
    out = tmp_path / "out"
    q, busy = queue.Queue(), RecordingEvent()
    for r in (request(out, "甲"), request(out, "乙", 數量="2"), request(out, "丙"), None, request(out, "late")):
        q.put(r)
    worker = quillmarkers.Receipt_Worker(q, busy, log)
    worker.start()
    assert worker.join(60)
    assert busy.calls == ["set", "clear"] * 3 and not busy.is_set()
    assert worker.done == 3 and q.qsize() == 1  # the request after None is left alone
    month = out / "2026-12"
    assert [row[:3] for row in ledger(out)] == [["收據-20261207-001", "2026-12-07", "甲"],
                                               ["收據-20261207-002", "2026-12-07", "丙"]]
    assert ledger(out)[0][3:] == ["22099131", "2", "970", "2026-12/收據-20261207-001.pdf; 2026-12/收據-20261207-001.png",
                                  "一般格式", "已開立", ""]  # no 作廢原因
    assert (month / "收據-20261207-001.pdf").read_bytes().startswith(b"%PDF")
    assert (month / "收據-20261207-002.png").read_bytes().startswith(b"\x89PNG")
    assert "'買受人': '乙'" in log_text(log) and "收據未開立" in log_text(log)
    assert (out / "賣方資料.toml").exists()
    capsys.readouterr()


@pytest.mark.parametrize("name, changes", [
    ("quantity not a list", {"數量": 5}),
    ("missing key", {"單件價格": None}),
    ("folder is a file", {"存檔路徑": "FILE"}),
    ("folder not text", {"存檔路徑": 7}),
    ("folder with a NUL", {"存檔路徑": "/tmp/receiptora\x00/"}),
    ("huge text", {"品名": ["茶" * 5_000_000, "蛋糕"]}),
    ("a NUL in an item name", {"品名": ["茶\x00", "蛋糕"]}),
    ("huge quantity and a wrong one", {"數量": [10 ** 6000, "1"]}),
    ("negative total", {"單件價格": [-350, 90]}),
    ("zero total", {"數量": [0, 0]}),
])
def test_failing_request_is_logged_with_the_request_and_the_next_is_made(tmp_path, log, capsys, name, changes):
    out = tmp_path / "out"
    (tmp_path / "file").write_text("")
    bad = request(out, "壞", **changes)
    if changes.get("存檔路徑") == "FILE":
        bad["存檔路徑"] = str(tmp_path / "file") + "/"
    bad = {k: v for k, v in bad.items() if v is not None}
    _, worker = run_worker(log, bad, request(out, "好"))
    assert worker.done == 2
    assert [row[:3:2] for row in ledger(out)] == [["收據-20261207-001", "好"]]  # no number used
    assert "'買受人': '壞'" in log_text(log)
    assert len(log_text(log)) < 30_000  # the request is cut to a sane length
    capsys.readouterr()


def test_numbers_per_day_never_overwrite_and_two_workers_share_the_folder(tmp_path, log, capsys):
    out = tmp_path / "out"
    (out / "2026-12").mkdir(parents=True)
    (out / "2026-12" / "收據-20261207-001.pdf").write_bytes(b"an older receipt")
    queues = [queue.Queue(), queue.Queue()]
    workers = [quillmarkers.Receipt_Worker(q, threading.Event(), log) for q in queues]
    for i in range(6):
        for q in queues:
            q.put(request(out, f"w{i}"))
    queues[0].put(request(out, "next day", 日=8))
    for q, w in zip(queues, workers):
        q.put(None)
        w.start()
    assert all(w.join(60) for w in workers)
    numbers = sorted(row[0] for row in ledger(out))
    # The older receipt is taken into the book (and the ledger) at the first start, never overwritten.
    assert numbers == [f"收據-20261207-{n:03d}" for n in range(1, 14)] + ["收據-20261208-001"]
    assert (out / "2026-12" / "收據-20261207-001.pdf").read_bytes() == b"an older receipt"
    capsys.readouterr()


@pytest.mark.parametrize("make_profile, problem, issued", [
    (lambda f: f.write_text('"商號名稱" = "林記"\n"統一編號" = "12345678"\n', encoding="utf-8"),
     '統一編號 "12345678" 檢查碼不符', 2),
    (lambda f: f.symlink_to(f.with_name("elsewhere.toml")), "（未使用賣方資料）", 0),  # no shop's name
])
def test_invalid_profile_is_logged_once_whatever_became_of_the_receipts(tmp_path, log, capsys, make_profile,
                                                                        problem, issued):
    out = tmp_path / "out"
    out.mkdir()
    make_profile(out / "賣方資料.toml")
    run_worker(log, request(out, "甲"), request(out, "乙"))
    assert len(list(out.glob("2026-12/*.pdf"))) == issued
    text = log_text(log)
    assert text.count(problem) == 1
    assert text.count("收據仍已開立" if issued else "請先填寫賣方資料（receiptora profile）") == (1 if issued else 2)
    capsys.readouterr()


def test_unfinished_requests_counted_and_logged_when_the_host_gives_up(tmp_path, log, capsys):
    q = queue.Queue()
    for r in (request(tmp_path, "甲"), request(tmp_path, "乙"), None):
        q.put(r)
    worker = quillmarkers.Receipt_Worker(q, threading.Event(), log)  # never started
    assert worker.unfinished == 2
    assert worker.abandon() == 2
    assert log_text(log).count("程式關閉前還沒輪到這張收據") == 2
    assert worker.unfinished == 0
    capsys.readouterr()


def in_fresh_process(home, code, *args):
    """Runs Python code in a new process whose HOME is `home` (the book is opened once per process)."""
    subprocess.run([sys.executable, "-c", code, *args], check=True, timeout=120, capture_output=True,
                   env={"HOME": str(home), "XDG_DATA_HOME": str(home / "data"), "PATH": "/usr/bin:/bin",
                        **{k: v for k, v in os.environ.items() if k in SANITIZER_VARIABLES}})


def test_a_receipt_left_pending_in_the_window_folder_is_finished_when_the_worker_starts(tmp_path, log):
    import sqlite3
    out = tmp_path / "quillmarkers" / "Receiptora"
    # A receipt issued, then set back to what a kill after step 1 of the journal leaves.
    assert quillmarkers.issue_receipts([request(str(out) + "/")], jobs=1)[0] == ["收據-20261207-001"]
    for suffix in (".pdf", ".png"):
        (out / "2026-12" / f"收據-20261207-001{suffix}").unlink()
    with sqlite3.connect(out / "收據簿.sqlite3") as book:
        book.execute("UPDATE receipts SET state = 'pending', owner = '999999999'")
    # A fresh process (the book is opened once per process), its window folder under HOME.
    child = ("import queue, threading, quillmarkers_model as q\n"
             "box = queue.Queue(); box.put(None)\n"
             "w = q.Receipt_Worker(box, threading.Event()); w.start(); assert w.join(60)\n")
    in_fresh_process(tmp_path, child)
    with sqlite3.connect(out / "收據簿.sqlite3") as book:
        assert book.execute("SELECT state FROM receipts").fetchall() == [("issued",)]
    assert (out / "2026-12" / "收據-20261207-001.pdf").read_bytes().startswith(b"%PDF")


@pytest.mark.parametrize("profile", [b"\xff\xfe" + '"商號名稱" = "林記"\n'.encode("utf-16-le"),
                                     '"商號名稱" = "林記"\n'.encode("cp950"),
                                     '"商號名稱" = "林記"\n"統一編號" = 22099131 x\n'.encode()])
def test_a_receipt_saved_under_any_profile_is_never_logged_as_not_made(tmp_path, log, profile):
    out = tmp_path / "out"
    out.mkdir()
    (out / "賣方資料.toml").write_bytes(profile)
    run_worker(log, request(out))
    assert (out / "2026-12" / "收據-20261207-001.pdf").exists()
    assert "the receipt was not made" not in log_text(log)


def test_a_failing_warm_up_is_logged_and_the_requests_are_still_made(tmp_path):
    window_folder = tmp_path / "quillmarkers" / "Receiptora"
    window_folder.mkdir(parents=True)
    (tmp_path / "elsewhere.sqlite3").write_bytes(b"")
    (window_folder / "收據簿.sqlite3").symlink_to(tmp_path / "elsewhere.sqlite3")  # a book never opened
    out, log_path = tmp_path / "out", tmp_path / "error.log"
    # A fresh process: the worker readies the window folder's book when it starts.
    child = ("import queue, sys, threading, quillmarkers_model as q\n"
             "log = q.Try_Except_Model(); log.log_path = sys.argv[1]\n"
             f"box = queue.Queue(); box.put({request(out)!r}); box.put(None)\n"
             "w = q.Receipt_Worker(box, threading.Event(), log); w.start(); assert w.join(60)\n")
    in_fresh_process(tmp_path, child, str(log_path))
    assert "啟動時預先準備收據簿失敗" in log_path.read_text(encoding="utf-8")
    assert (out / "2026-12" / "收據-20261207-001.pdf").exists() and len(ledger(out)) == 1


def test_the_window_is_answered_and_a_double_press_issues_once(tmp_path, log):
    from receiptora.hand_over import ReceiptQueue
    today = datetime.date.today()
    out, day = tmp_path / "out", {"年": today.year, "月": today.month, "日": today.day}
    good = request(out, "甲", **day)
    odd = request(out, "乙", 品名=["烏龍茶", "", "蛋糕"], 數量=[2, 1, 3], 單件價格=[0, 500, 90],
                  買受人統一編號="12345678", **day)
    answers, q = [], ReceiptQueue()
    for r in (good, dict(good), odd, request(out, "丙", 單件價格=[-350, 90], **day), None):
        q.put(r)  # handed over within a moment: the copy of the first is its double press
    worker = quillmarkers.Receipt_Worker(q, threading.Event(), log, feedback=answers.append)
    worker.start()
    assert worker.join(60)
    assert [a["kind"] for a in answers] == ["issued", "double", "flagged", "refused"]
    assert answers[1]["title"] == "連按兩次，只開立一張"
    assert answers[2]["body"].splitlines()[:3] == [
        "第 1 列沒有單價，金額 0", "第 2 列沒有品名，金額 500 元計入合計", "買受人統一編號「12345678」檢查碼不符"]
    assert [label for label, _ in answers[2]["actions"]] == ["作廢這張"]
    assert "合計為負數（-430 元）" in answers[3]["title"]
    assert [row[2] for row in ledger(out)] == ["甲", "乙"]
    number = ledger(out)[1][0]
    assert answers[2]["actions"][0][1]() == f"已作廢 {number}（作廢原因：開立內容有誤）"


@pytest.mark.parametrize("profile, kind, said", [
    (None, "refused", "收據未開立：請先填寫賣方資料（receiptora profile）"),
    ('"商號名稱" = "林記"\n', "issued", "免用統一發票專用章缺「統一編號」、「負責人」、「地址」"),
])
def test_the_window_hears_what_the_profile_leaves_out(tmp_path, log, profile, kind, said):
    out, today = tmp_path / "out", datetime.date.today()
    made = request(out, 年=today.year, 月=today.month, 日=today.day)  # nothing odd to flag
    (out / "賣方資料.toml").unlink()
    if profile:
        (out / "賣方資料.toml").write_text(profile, encoding="utf-8")
    answers, q = [], queue.Queue()
    for r in (made, None):
        q.put(r)
    worker = quillmarkers.Receipt_Worker(q, threading.Event(), log, feedback=answers.append)
    worker.start()
    assert worker.join(60)
    assert [a["kind"] for a in answers] == [kind]
    assert said in answers[0]["title"] + answers[0]["body"]
    assert [label for label, _ in answers[0]["actions"]] == (["填寫賣方資料"] if kind == "refused" else [])
    assert len(list(out.glob("*/*.pdf"))) == (kind == "issued")
