"""`receiptora render`: receipts from files without the window."""
import csv
import json
import os
import subprocess
import sys
from pathlib import Path

COMMAND = str(Path(sys.executable).with_name("receiptora"))


def test_good_receipts_made_in_order_and_a_bad_line_reported(tmp_path):
    (tmp_path / "items.csv").write_bytes(
        "收據,買受人,統一編號,日期,品名,數量,單價\n"
        "A,林記茶行,22099131,2026-12-07,烏龍茶,2,350\n"
        "B,陳小姐,,2026-12-07,蛋糕,三,90\n"
        "A,,,,蛋糕,3,90\n".encode("cp950"))
    request = {"版本": "貓咪格式", "買受人": "王先生", "買受人統一編號": "", "品名": ["禮盒"], "數量": [1],
               "單件價格": [1200], "存檔路徑": "/ignored/", "顯示免用統一發票章": False, "顯示負責人章": False,
               "顯示日期": False, "年": 2026, "月": 12, "日": 8}
    (tmp_path / "one.json").write_text(json.dumps(request), encoding="utf-8")
    out = tmp_path / "out"
    env = dict(os.environ, XDG_DATA_HOME=str(tmp_path / "data"))

    def render(*extra):
        return subprocess.run([COMMAND, "render", "--output", str(out), str(tmp_path / "items.csv"),
                               str(tmp_path / "one.json"), *extra], capture_output=True, text=True, timeout=120,
                              env=env)
    result = render()
    assert result.returncode == 1
    refused = f"{tmp_path / 'items.csv'}:3: 數量 '三' is not a whole number"
    assert refused in result.stderr
    assert result.stdout == ("issued: 收據-20261207-001, 收據-20261208-001\n"
                             "1 refused; see above and the error log\n"
                             f"2 receipt(s) saved in {out}\n")
    assert refused in (tmp_path / "data/quillmarkers/Receiptora/error.log").read_text(encoding="utf-8")
    rows = list(csv.reader((out / "收據清冊.csv").read_text(encoding="utf-8-sig").splitlines()))[1:]
    assert [(r[0], r[2], r[4], r[5], r[7]) for r in rows] == [
        ("收據-20261207-001", "林記茶行", "2", "970", "一般格式"),
        ("收據-20261208-001", "王先生", "1", "1200", "貓咪格式")]
    assert (out / "2026-12" / "收據-20261208-001.png").read_bytes().startswith(b"\x89PNG")

    again = render()  # the same files again: nothing issued twice
    assert again.stdout.splitlines()[0] == "2 receipt(s) skipped: issued by an earlier run of the same file " \
                                           "(--again issues them anew)"
    assert render("--again").stdout.startswith("issued: 收據-20261207-002, 收據-20261208-002\n")
    rows = list(csv.reader((out / "收據清冊.csv").read_text(encoding="utf-8-sig").splitlines()))[1:]
    assert len(rows) == 4
