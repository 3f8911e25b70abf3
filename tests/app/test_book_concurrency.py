"""Commands at once on one output folder: two runs of the same sheet, with list, void, reprint
and ledger --rebuild running again and again meanwhile, then a run killed with SIGKILL half-way
and run again. Afterwards every order is issued once and every record has its ledger lines
exactly once (the rule itself: store/book_ledger.hpp, tested in C++ too)."""
import collections
import csv
import json
import os
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest
from shop_profile import named_shop

pytestmark = pytest.mark.usefixtures("no_tk_garbage")
COMMAND = str(Path(sys.executable).with_name("receiptora"))
ORDERS = 160


def receiptora(*args, env):
    return subprocess.run([COMMAND, *args], capture_output=True, text=True, timeout=300, env=env)


def test_lines_stay_exact_under_commands_at_once_and_a_kill(tmp_path):
    env = dict(os.environ, XDG_DATA_HOME=str(tmp_path / "data"))
    out = named_shop(tmp_path / "out")

    def sheet(name, count, first=0):
        requests = [{"版本": "一般格式", "買受人": f"客{i}", "買受人統一編號": "", "品名": ["茶"], "數量": [1],
                     "單件價格": [i + 1], "存檔路徑": "", "顯示免用統一發票章": False, "顯示負責人章": False,
                     "顯示日期": True, "年": 2026, "月": 12, "日": 7} for i in range(first, first + count)]
        (tmp_path / name).write_text(json.dumps(requests), encoding="utf-8")
        return [COMMAND, "render", "--jobs", "2", "--output", str(out), str(tmp_path / name)]

    assert receiptora(*sheet("first.json", 3)[1:], env=env).returncode == 0
    voided, reprinted = "收據-20261207-001", "收據-20261207-002"
    run = sheet("orders.json", ORDERS)
    batches = [subprocess.Popen(run, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE) for _ in range(2)]
    failures = []

    def again_and_again(*args):
        while any(b.poll() is None for b in batches):
            result = receiptora(*args, "--output", str(out), env=env)
            if result.returncode != 0 and "已經作廢" not in result.stderr:
                failures.append((args, result.stderr))

    others = [threading.Thread(target=again_and_again, args=args) for args in
              (("list",), ("void", voided, "--reason", "退貨"), ("reprint", reprinted), ("ledger", "--rebuild"))]
    for thread in others:
        thread.start()
    for batch in batches:
        _, error = batch.communicate(timeout=300)
        assert batch.returncode == 0, error
    for thread in others:
        thread.join()
    assert not failures, failures

    saved = len(list((out / "2026-12").glob("*.pdf")))
    killed = subprocess.Popen(sheet("more.json", 60, ORDERS), env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 120
    while len(list((out / "2026-12").glob("*.pdf"))) == saved and killed.poll() is None:
        assert time.monotonic() < deadline, "the run saved no receipt"
        time.sleep(0.01)  # killed once it has saved its first receipt: half-way through its sheet
    killed.send_signal(signal.SIGKILL)
    killed.wait()
    assert receiptora(*sheet("more.json", 60, ORDERS)[1:], env=env).returncode == 0  # recovers, issues the rest

    rows = json.loads(receiptora("list", "--output", str(out), "--format", "json", env=env).stdout)
    ledger = list(csv.reader((out / "收據清冊.csv").read_text(encoding="utf-8-sig").splitlines()))[1:]
    lines = collections.Counter((line[0], line[8]) for line in ledger)
    expected = collections.Counter()
    for row in rows:
        expected[(row["number"], {"void": "已開立", "unfinished": "未完成"}.get(row["state"], "已開立"))] += 1
        if row["state"] == "void":
            expected[(row["number"], "作廢")] += 1
    assert lines == expected
    buyers = collections.Counter(row["buyer"] for row in rows if row["state"] in ("issued", "void"))
    assert all(buyers[f"客{i}"] == 1 for i in range(ORDERS + 60))  # 客0..2 of the first sheet too: same orders
