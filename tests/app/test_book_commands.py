"""The book commands, end to end through the `receiptora` command (the rules themselves are
tested in C++: store/tests/book_test.cpp, issuing/tests/issue_test.cpp)."""
import csv
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

from shop_profile import named_shop

COMMAND = str(Path(sys.executable).with_name("receiptora"))


def receiptora(*args, env):
    return subprocess.run([COMMAND, *args], capture_output=True, text=True, timeout=120, env=env)


@pytest.fixture(scope="module")
def shop(tmp_path_factory):
    """An output folder with three receipts: two in December, one in January."""
    root = tmp_path_factory.mktemp("shop")
    env = dict(os.environ, XDG_DATA_HOME=str(root / "data"))

    def request(buyer, tax_id, price, month, day):
        return {"版本": "一般格式", "買受人": buyer, "買受人統一編號": tax_id, "品名": ["茶"], "數量": [2],
                "單件價格": [price], "存檔路徑": "", "顯示免用統一發票章": False, "顯示負責人章": False,
                "顯示日期": True, "年": 2026 + (month == 1), "月": month, "日": day}
    requests = [request("林記茶行", "22099131", 10 ** 25, 12, 7), request("王小明", "", 45, 12, 7),
                request("陳", "", 1, 1, 2)]
    (root / "in.json").write_text(json.dumps(requests), encoding="utf-8")
    out = named_shop(root / "out")
    made = receiptora("render", "--output", str(out), str(root / "in.json"), env=env)
    assert made.returncode == 0, made.stderr
    return out, env


def test_list_formats_carry_the_exact_total_and_the_state(shop):
    out, env = shop
    rows = json.loads(receiptora("list", "--output", str(out), "--month", "2026-12", "--format", "json",
                                 env=env).stdout)
    assert [set(r) for r in rows] == [{"number", "date", "buyer", "buyer_tax_id", "total", "state", "files",
                                       "order"}] * 2
    assert rows[0] == {"number": "收據-20261207-001", "date": "2026-12-07", "buyer": "林記茶行",
                       "buyer_tax_id": "22099131", "total": str(2 * 10 ** 25), "state": "issued",
                       "files": ["2026-12/收據-20261207-001.pdf", "2026-12/收據-20261207-001.png"], "order": ""}
    table = receiptora("list", "--output", str(out), "--buyer", "王", env=env).stdout
    assert "收據-20261207-002" in table and "林記" not in table and "已開立" in table
    lines = list(csv.reader(receiptora("list", "--output", str(out), "--format", "csv", env=env).stdout.splitlines()))
    assert lines[0] == ["number", "date", "buyer", "buyer_tax_id", "total", "state", "files"]
    assert [line[0] for line in lines[1:]] == ["收據-20261207-001", "收據-20261207-002", "收據-20270102-001"]


@pytest.mark.parametrize("period, expected", [
    (["--month", "2026-12"], {"receipts": 2, "void": 0, "total": str(2 * 10 ** 25 + 90),
                              "days": {"2026-12-07": str(2 * 10 ** 25 + 90)}}),
    (["--quarter", "2027Q1"], {"receipts": 1, "void": 0, "total": "2", "days": {"2027-01-02": "2"}}),
    (["--quarter", "2026Q3"], {"receipts": 0, "void": 0, "total": "0", "days": {}}),
])
def test_summary_json(shop, period, expected):
    out, env = shop
    result = receiptora("summary", "--output", str(out), *period, "--format", "json", env=env)
    assert json.loads(result.stdout) == expected


@pytest.mark.parametrize("command, roc, iso", [
    (["list", "--format", "json", "--month"], "115-12", "2026-12"),
    (["list", "--format", "json", "--month"], "115年12月", "2026/12"),
    (["summary", "--format", "json", "--month"], "115/12", "2026-12"),
    (["summary", "--format", "json", "--quarter"], "116Q1", "2027Q1"),
])
def test_both_calendars_name_the_same_period(shop, command, roc, iso):
    out, env = shop
    said_roc, said_iso = (receiptora(*command, period, "--output", str(out), env=env) for period in (roc, iso))
    assert said_roc.returncode == 0, said_roc.stderr
    assert said_roc.stdout == said_iso.stdout and json.loads(said_roc.stdout)


def test_month_for_the_accountant_in_either_calendar(shop, tmp_path):
    out, env = shop
    for month, name in (("115-12", "給會計-115年12月"), ("2026-12", "給會計-115年12月-2")):
        made = receiptora("month", month, "--to", str(tmp_path), "--output", str(out), env=env)
        assert made.returncode == 0, made.stderr
        assert "檢查結果：無誤" in made.stdout and name in made.stdout
        folder = tmp_path / name
        assert sorted(p.name for p in (folder / "收據").iterdir()) == ["收據-20261207-001.pdf", "收據-20261207-002.pdf"]
        assert {p.name for p in folder.iterdir()} == {"收據", "收據簿-115年12月.xlsx", "月報表-115年12月.pdf", "說明.txt"}


def test_people_read_roc_dates_and_machines_iso(shop):
    out, env = shop
    table = receiptora("list", "--output", str(out), "--month", "115-12", env=env).stdout
    assert "115/12/07" in table and "2026-12-07" not in table
    summary = receiptora("summary", "--output", str(out), "--month", "2026-12", env=env).stdout
    assert "115/12/07" in summary and "2026" not in summary
    quarter = receiptora("summary", "--output", str(out), "--quarter", "116Q1", env=env).stdout
    assert "116年1月" in quarter and "116年3月" in quarter


@pytest.mark.parametrize("args, message", [
    (["summary", "--quarter", "2026Q5"], "「2026Q5」不是季別，請寫成 115Q4 或 2026Q4"),
    (["list", "--month", "2026-13"], "「2026-13」不是月份，請寫成 115-12 或 2026-12"),
    (["summary", "--month", "115/13"], "「115/13」不是月份"),
    (["void", "收據-20261207-099", "--reason", "x"], "沒有收據 收據-20261207-099"),
    (["reprint", "收據-20261207-099"], "沒有收據 收據-20261207-099"),
    (["void", "收據-\x1b[2J099", "--reason", "\x1b]0;x\x07"], "沒有收據 收據-[2J099"),
])
def test_refusals_exit_1_with_a_message(shop, args, message):
    out, env = shop
    result = receiptora(*args, "--output", str(out), env=env)
    assert result.returncode == 1 and message in result.stderr
    assert "\x1b" not in result.stderr and "Errno" not in result.stderr


@pytest.mark.parametrize("damage", ["truncated", "a folder", "newer"])
def test_check_names_a_damaged_book_and_changes_no_byte(shop, tmp_path, damage):
    import shutil
    import sqlite3
    out, env = shop
    copy = tmp_path / "copy"
    shutil.copytree(out, copy)
    book = copy / "收據簿.sqlite3"
    if damage == "truncated":
        book.write_bytes(book.read_bytes()[:3000])
    elif damage == "a folder":
        book.unlink()
        book.mkdir()
    else:
        db = sqlite3.connect(book)
        db.execute("PRAGMA user_version = 99")
        db.close()
    before = {p: p.read_bytes() for p in copy.rglob("*") if p.is_file()}
    checked = receiptora("check", "--output", str(copy), env=env)
    assert checked.returncode == 1 and "收據簿" in checked.stderr and "Traceback" not in checked.stderr, checked.stderr
    assert {p: p.read_bytes() for p in copy.rglob("*") if p.is_file()} == before, "no byte changed, none added"


def test_ctrl_c_ends_a_command_with_one_line_and_status_130(shop, monkeypatch, capsys):
    from receiptora import __main__, _book

    def interrupted(*args):
        raise KeyboardInterrupt
    monkeypatch.setattr(_book, "list", interrupted)
    assert __main__.main(["list", "--output", str(shop[0])]) == 130
    assert capsys.readouterr().err.strip() == "receiptora list: 已中斷（Ctrl+C）"


def test_void_reprint_and_ledger_rebuild(tmp_path):
    env = dict(os.environ, XDG_DATA_HOME=str(tmp_path / "data"))
    request = {"版本": "一般格式", "買受人": "甲", "買受人統一編號": "", "品名": ["茶"], "數量": [1],
               "單件價格": [5], "存檔路徑": "", "顯示免用統一發票章": False, "顯示負責人章": False,
               "顯示日期": True, "年": 2026, "月": 12, "日": 7}
    (tmp_path / "one.json").write_text(json.dumps(request), encoding="utf-8")
    out = named_shop(tmp_path / "out")
    assert receiptora("render", "-o", str(out), str(tmp_path / "one.json"), env=env).returncode == 0
    number, month = "收據-20261207-001", out / "2026-12"
    original = (month / f"{number}.pdf").read_bytes()

    reprint = receiptora("reprint", number, "-o", str(out), env=env)
    assert reprint.returncode == 0 and (month / f"{number}-補印.pdf").exists()
    void = receiptora("void", number, "--reason", "打錯", "-o", str(out), env=env)
    assert void.returncode == 0 and (month / f"{number}-作廢.png").exists()
    again = receiptora("void", number, "--reason", "打錯", "-o", str(out), env=env)
    assert again.returncode == 1 and "已經作廢" in again.stderr
    assert not (month / f"{number}.pdf").exists()  # no clean copy left in view: kept in .原本, untouched
    assert (month / ".原本" / f"{number}.pdf").read_bytes() == original

    ledger = out / "收據清冊.csv"
    before = ledger.read_bytes()
    ledger.write_text("broken")
    assert receiptora("ledger", "--rebuild", "-o", str(out), env=env).returncode == 0
    assert ledger.read_bytes() == before
    states = [row[8] for row in csv.reader(before.decode("utf-8-sig").splitlines()[1:])]
    assert states == ["已開立", "作廢"]


def test_void_of_several_numbers_and_of_a_whole_run(tmp_path):
    env = dict(os.environ, XDG_DATA_HOME=str(tmp_path / "data"))
    out = named_shop(tmp_path / "out")
    sheet = tmp_path / "orders.csv"
    sheet.write_text("收據,買受人,統一編號,日期,品名,數量,單價\nA,甲,,2026-12-07,茶,1,5\nB,乙,,2026-12-07,茶,1,6\n",
                     encoding="utf-8")
    assert receiptora("render", "-o", str(out), str(sheet), env=env).returncode == 0
    sheet.write_text(sheet.read_text(encoding="utf-8") + "C,丙,,2026-12-07,茶,1,7\nD,丁,,2026-12-07,茶,1,8\n",
                     encoding="utf-8")
    second = receiptora("render", "-o", str(out), str(sheet), env=env)  # issues C and D only
    second_run = second.stdout.rstrip("\n").rpartition("開立結果：")[2]

    undo = receiptora("void", "--run", str(second_run), "--reason", "重複執行", "-o", str(out), env=env)
    assert undo.returncode == 1 and "--yes" in undo.stderr, "without a terminal, --yes says the run is meant"
    undo = receiptora("void", "--run", str(second_run), "--reason", "重複執行", "--yes", "-o", str(out), env=env)
    assert undo.returncode == 0, undo.stderr
    several = receiptora("void", "收據-20261207-001", "收據-20261207-099", "--reason", "打錯", "-o", str(out), env=env)
    assert several.returncode == 1 and "收據-20261207-099" in several.stderr and "1 張未能作廢" in several.stderr
    listed = json.loads(receiptora("list", "-o", str(out), "--format", "json", env=env).stdout)
    # C and D are drawn at once: either may take the lower number.
    assert sorted((r["buyer"], r["state"]) for r in listed) == sorted([("甲", "void"), ("乙", "issued"),
                                                                      ("丙", "void"), ("丁", "void")])


def test_undoing_a_run_voids_only_what_the_book_says_the_run_issued(tmp_path):
    env = dict(os.environ, XDG_DATA_HOME=str(tmp_path / "data"))
    out, other = named_shop(tmp_path / "out"), named_shop(tmp_path / "other")
    sheet = tmp_path / "orders.csv"
    sheet.write_text("收據,買受人,統一編號,日期,品名,數量,單價\nA,甲,,2026-12-07,茶,1,5\n", encoding="utf-8")

    def run(folder):
        made = receiptora("render", "-o", str(folder), str(sheet), env=env)
        return Path(made.stdout.rstrip("\n").rpartition("開立結果：")[2])
    first, foreign = run(out), run(other)
    sheet.write_text(sheet.read_text(encoding="utf-8") + "B,乙,,2026-12-07,茶,1,6\n", encoding="utf-8")
    second = run(out)  # issues B; A is 先前已開立
    edited = second.read_text(encoding="utf-8-sig").replace("先前已開立", "已開立")
    second.write_text(edited, encoding="utf-8-sig")  # a hand edit: A claimed by the second run

    def void(table):
        return receiptora("void", "--run", str(table), "--reason", "重做", "--yes", "-o", str(out), env=env)
    refused = void(foreign)  # a table of another folder: its run is not in this book
    assert refused.returncode == 1 and "另一個輸出資料夾" in refused.stderr, refused.stderr
    undone = void(second.name)  # a bare name, run elsewhere: the table is found in the output folder
    assert undone.returncode == 0, undone.stderr
    assert "不作廢 收據-20261207-001" in undone.stderr and "已作廢 收據-20261207-002" in undone.stdout
    first.unlink()  # the table gone: the book still knows the run
    assert void(first.name).returncode == 0
    states = {r["buyer"]: r["state"] for r in json.loads(receiptora("list", "-o", str(out), "--format", "json",
                                                                    env=env).stdout)}
    assert states == {"甲": "void", "乙": "void"}
    again = receiptora("render", "-o", str(out), str(sheet), env=env)  # undone orders are issued anew
    assert "已開立 2 張" in again.stdout, again.stdout


def test_a_backup_is_an_output_folder_of_its_own(shop, tmp_path):
    out, env = shop
    made = receiptora("backup", str(tmp_path / "備份"), "--output", str(out), env=env)
    assert made.returncode == 0, made.stderr
    (copy,) = (tmp_path / "備份").iterdir()
    assert copy.name.startswith("收據備份-") and str(copy) in made.stdout
    listed = [receiptora("list", "--output", str(folder), "--format", "json", env=env).stdout for folder in (out, copy)]
    assert listed[0] == listed[1].replace(str(copy), str(out)) and "收據-20270102-001" in listed[1]
    checked = receiptora("check", "--output", str(copy), env=env)
    assert checked.returncode == 0 and "全部相符" in checked.stdout, checked.stdout + checked.stderr
    assert "驗證鏈完整：3 張" in checked.stdout
    assert (copy / "收據簽章金鑰.pem").stat().st_mode & 0o777 == 0o600, "the key copied, still private"
    (copy / "2026-12" / "收據-20261207-002.png").write_bytes(b"another picture")
    checked = receiptora("check", "--output", str(copy), env=env)
    assert checked.returncode == 1
    assert "收據-20261207-002  2026-12/收據-20261207-002.png  檔案內容與收據簿記錄的 SHA-256 不同" in checked.stdout


def test_list_prints_no_terminal_controls_and_its_csv_runs_no_formula(tmp_path):
    env = dict(os.environ, XDG_DATA_HOME=str(tmp_path / "data"))
    request = {"版本": "一般格式", "買受人": "=HYPERLINK(\"http://x\")\x1b[2J\x1b]0;pwned\x07\u202e", "買受人統一編號": "",
               "品名": ["茶"], "數量": [1], "單件價格": [5], "存檔路徑": "", "顯示免用統一發票章": False,
               "顯示負責人章": False, "顯示日期": True, "年": 2026, "月": 12, "日": 7}
    (tmp_path / "one.json").write_text(json.dumps(request), encoding="utf-8")
    out = named_shop(tmp_path / "out")
    assert receiptora("render", "-o", str(out), str(tmp_path / "one.json"), env=env).returncode == 0
    for fmt in ("table", "json", "csv"):
        printed = receiptora("list", "-o", str(out), "--format", fmt, env=env).stdout
        assert not any(c in printed for c in "\x1b\x07\u202e"), fmt
    (row,) = list(csv.reader(receiptora("list", "-o", str(out), "--format", "csv", env=env).stdout.splitlines()))[1:]
    assert row[2] == "'=HYPERLINK(\"http://x\")[2J]0;pwned"


@pytest.mark.parametrize("args", [[b"void", b"\xe6\x94\xb6\xff", b"--reason", b"x"], [b"reprint", b"\xff"],
                                  [b"list", b"--buyer", b"\xfe"], [b"void", b"x", b"--reason", b"\xff"]])
def test_arguments_that_are_not_utf8_get_a_message(shop, args):
    out, env = shop
    result = subprocess.run([COMMAND.encode(), *args, b"--output", str(out).encode()], capture_output=True, env=env,
                            timeout=120)
    assert result.returncode == 1 and b"Traceback" not in result.stderr
    assert "不是有效的 UTF-8 文字" in result.stderr.decode("utf-8", "replace")


@pytest.mark.parametrize("args", [["void", "收據-20261207-001", "--reason", "x"], ["reprint", "收據-20261207-001"],
                                  ["list"], ["summary", "--month", "2026-12"], ["check"], ["backup", "/nowhere"]])
def test_a_mistyped_output_folder_gets_no_book(tmp_path, args):
    (tmp_path / "Documents").mkdir()
    result = receiptora(*args, "--output", str(tmp_path / "Documents"), env=dict(os.environ, HOME=str(tmp_path)))
    assert result.returncode == 1 and "沒有收據簿" in result.stderr, result.stderr
    assert list((tmp_path / "Documents").iterdir()) == []
