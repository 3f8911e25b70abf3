"""A batch killed with SIGKILL again and again: the book recovers at the next run, so no
saved receipt lacks its record or ledger line, no number is issued twice, each kill leaves at
most one unfinished number per thread, and a final run issues every missing receipt."""
import csv
import json
import os
import random
import re
import signal
import sqlite3
import subprocess
import sys
import time

import pytest
from pathlib import Path

from shop_profile import named_shop

COMMAND = str(Path(sys.executable).with_name("receiptora"))
KILLS, RECEIPTS, JOBS = 20, 40, 2


def test_twenty_kills_lose_nothing_and_issue_nothing_twice(tmp_path):
    env = dict(os.environ, XDG_DATA_HOME=str(tmp_path / "data"))
    requests = [{"版本": "一般格式", "買受人": f"買受人{i}", "買受人統一編號": "", "品名": ["茶"] * 7, "數量": [1] * 7,
                 "單件價格": [i + 1] * 7, "存檔路徑": "", "顯示免用統一發票章": False, "顯示負責人章": False,
                 "顯示日期": True, "年": 2026, "月": 12, "日": 7} for i in range(RECEIPTS)]
    (tmp_path / "in.json").write_text(json.dumps(requests), encoding="utf-8")
    out = named_shop(tmp_path / "out")
    run = [COMMAND, "render", "--jobs", str(JOBS), "--output", str(out), str(tmp_path / "in.json")]
    rng = random.Random(14)
    for _ in range(KILLS):
        process = subprocess.Popen(run, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0.3, 1.2))
        process.send_signal(signal.SIGKILL)
        process.wait()

    final = subprocess.run(run, env=env, capture_output=True, text=True, timeout=300)  # recovers, then issues
    assert final.returncode == 0, final.stderr
    listing = subprocess.run([COMMAND, "list", "--output", str(out), "--format", "json"], env=env,
                             capture_output=True, text=True, timeout=120)
    assert listing.returncode == 0, listing.stderr
    rows = json.loads(listing.stdout)
    states = {row["number"]: row["state"] for row in rows}
    ledger = list(csv.reader((out / "收據清冊.csv").read_text(encoding="utf-8-sig").splitlines()))[1:]
    ledger_numbers = [line[0] for line in ledger]
    saved = {p.stem for p in (out / "2026-12").iterdir() if re.fullmatch(r"收據-\d{8}-\d{3}\.(pdf|png)", p.name)}
    assert all(states.get(n) == "issued" for n in saved), "a saved receipt without its record"
    assert saved <= set(ledger_numbers), "a saved receipt without its ledger line"
    assert len(ledger_numbers) == len(set(ledger_numbers)), "a number in the ledger twice"
    assert "pending" not in states.values()
    unfinished = [n for n, s in states.items() if s == "unfinished"]
    assert len(unfinished) <= KILLS * JOBS
    with sqlite3.connect(out / "收據簿.sqlite3") as book:
        issued = book.execute("SELECT batch_key, count(*) FROM receipts WHERE state = 'issued' "
                              "GROUP BY batch_key").fetchall()
    assert len(issued) == RECEIPTS and all(count == 1 for _, count in issued)


@pytest.mark.parametrize("stop", [signal.SIGINT, signal.SIGTERM])
def test_ctrl_c_or_sigterm_finishes_what_is_under_way_and_says_what_was_made(tmp_path, stop):
    requests = [{"版本": "一般格式", "買受人": f"買受人{i}", "買受人統一編號": "", "品名": ["茶"], "數量": [1],
                 "單件價格": [i + 1], "存檔路徑": "", "顯示免用統一發票章": False, "顯示負責人章": False,
                 "顯示日期": True, "年": 2026, "月": 12, "日": 7} for i in range(2000)]
    (tmp_path / "in.json").write_text(json.dumps(requests), encoding="utf-8")
    out = named_shop(tmp_path / "out")
    process = subprocess.Popen([COMMAND, "render", "--jobs", "2", "--output", str(out), str(tmp_path / "in.json")],
                               env=dict(os.environ, XDG_DATA_HOME=str(tmp_path / "data")), stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 60
    while not list(out.glob("2026-12/*.pdf")) and time.monotonic() < deadline:
        time.sleep(0.05)
    process.send_signal(stop)
    stdout, stderr = process.communicate(timeout=120)
    assert process.returncode == 130, stderr
    assert "Traceback" not in stderr and "執行被中斷" in stdout
    table = next(out.glob("開立結果-*.csv"))
    states = [row[4] for row in csv.reader(table.read_text(encoding="utf-8-sig").splitlines()[1:])]
    with sqlite3.connect(out / "收據簿.sqlite3") as book:
        issued = book.execute("SELECT count(*) FROM receipts WHERE state = 'issued'").fetchone()[0]
    ledger = (out / "收據清冊.csv").read_text(encoding="utf-8-sig").splitlines()[1:]
    assert 0 < states.count("已開立") == issued == len(ledger) < len(requests)
    assert f"已開立 {issued} 張收據" in stdout
