"""`receiptora render`: receipts from files without the window."""
import csv
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

from shop_profile import named_shop

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
    out = named_shop(tmp_path / "out")
    env = dict(os.environ, XDG_DATA_HOME=str(tmp_path / "data"))

    def render(*extra):
        return subprocess.run([COMMAND, "render", "--output", str(out), str(tmp_path / "items.csv"),
                               str(tmp_path / "one.json"), *extra], capture_output=True, text=True, timeout=120,
                              env=env)
    result = render()
    assert result.returncode == 1
    refused = f"{tmp_path / 'items.csv'}:3: 數量 '三' 不是整數"
    assert refused in result.stderr
    table = next(out.glob("開立結果-*.csv"))
    assert result.stdout == ("已開立 2 張收據（收據-20261207-001 … 收據-20261208-001），存於 " + str(out) + "\n"
                             "1 張未能開立，原因列於上方，也寫入錯誤紀錄\n"
                             f"開立結果：{table}\n")
    assert refused in (tmp_path / "data/quillmarkers/Receiptora/error.log").read_text(encoding="utf-8")
    rows = list(csv.reader((out / "收據清冊.csv").read_text(encoding="utf-8-sig").splitlines()))[1:]
    assert [(r[0], r[2], r[4], r[5], r[7]) for r in rows] == [
        ("收據-20261207-001", "林記茶行", "2", "970", "一般格式"),
        ("收據-20261208-001", "王先生", "1", "1200", "貓咪格式")]
    assert (out / "2026-12" / "收據-20261208-001.png").read_bytes().startswith(b"\x89PNG")
    assert [row[1:5] for row in results(table)] == [
        ["A", "收據-20261207-001", "970", "已開立"], ["B", "", "", "未開立"], ["", "收據-20261208-001", "1200", "已開立"]]

    again = render()  # the same files again: nothing issued twice
    assert again.stdout.splitlines()[:2] == [f"已開立 0 張收據，存於 {out}", "略過 2 張：先前已開立（--again 全部重新開立）"]
    assert render("--again").stdout.startswith("已開立 2 張收據（收據-20261207-002 … 收據-20261208-002）")
    rows = list(csv.reader((out / "收據清冊.csv").read_text(encoding="utf-8-sig").splitlines()))[1:]
    assert len(rows) == 4


def results(table):
    """The rows of a result table 開立結果-….csv after its header."""
    return list(csv.reader(table.read_text(encoding="utf-8-sig").splitlines()))[1:]


def test_a_sheet_whose_name_is_not_utf8_and_whose_lines_are_mostly_refused(tmp_path):
    sheet = tmp_path / os.fsdecode(b"\xff\xfe\xe8\xa8\x82\xe5\x96\xae.csv")
    lines = ["收據,買受人,統一編號,日期,品名,數量,單價", "A,甲,,2026-12-07,茶,1,5"]
    lines += [f"R{i},乙,1234,2026-12-07,茶,1,5" for i in range(1005)]  # a 統一編號 a spreadsheet cut short
    sheet.write_text("\n".join(lines) + "\n", encoding="utf-8")
    out = named_shop(tmp_path / "out")
    result = subprocess.run([COMMAND, "render", "--output", str(out), str(sheet)], capture_output=True, text=True,
                            timeout=120, env=dict(os.environ, XDG_DATA_HOME=str(tmp_path / "data")))
    assert result.returncode == 1 and "Traceback" not in result.stderr, result.stderr
    assert "1005 張未能開立" in result.stdout
    rows = results(next(out.glob("開立結果-*.csv")))
    assert rows[0][1:5] == ["A", "收據-20261207-001", "5", "已開立"] and "\ufffd" in rows[0][0]
    refused = [row for row in rows if row[4] == "未開立"]
    assert len(refused) == 1001 and "另有 5 張" in refused[-1][5], "the first 1,000 refusals and a count"


def test_an_edited_sheet_issues_only_the_orders_not_seen_before(tmp_path):
    """Rows added, a refused line fixed, the sheet renamed, saved as Big5 and run on another
    day (its blank dates then mean another day): only the new and the fixed orders issue."""
    header = "收據,買受人,統一編號,日期,品名,數量,單價\n"
    first = header + "A,林記,,2026-12-07,茶,2,350\nB,陳,,,餅,三,90\nC,王,,,糖,1,20\nA,,,,杯,1,50\n"
    edited = header + "D,新客,,2026-12-09,茶,1,100\nC,王,,,糖,1,20\nA,林記,,2026/12/7,茶,2,350\nA,,,,杯,1,50\n" \
                      "B,陳,,,餅,3,90\n"
    (tmp_path / "orders.csv").write_text(first, encoding="utf-8")
    (tmp_path / "orders-fixed.csv").write_bytes(edited.encode("cp950"))
    out = named_shop(tmp_path / "out")

    def render(name, zone, *extra):  # -12 and +14 hours: never the same day
        return subprocess.run([COMMAND, "render", "--output", str(out), str(tmp_path / name), *extra],
                              capture_output=True, text=True, timeout=120, env=dict(os.environ, TZ=zone))
    assert render("orders.csv", "Etc/GMT+12").stdout.startswith("已開立 2 張收據")
    second = render("orders-fixed.csv", "Etc/GMT-14")
    assert second.returncode == 0, second.stderr
    assert second.stdout.splitlines()[:2] == [second.stdout.splitlines()[0], "略過 2 張：先前已開立（--again 全部重新開立）"]
    table = Path(second.stdout.rstrip("\n").rpartition("開立結果：")[2])
    assert [(row[1], row[4]) for row in results(table)] == [("D", "已開立"), ("C", "先前已開立"), ("A", "先前已開立"),
                                                          ("B", "已開立")]
    assert render("orders-fixed.csv", "Etc/GMT-14", "--again").stdout.startswith("已開立 4 張收據")


def test_a_new_folder_gets_the_default_folders_profile_and_says_so(tmp_path):
    default = tmp_path / "quillmarkers" / "Receiptora"
    default.mkdir(parents=True)
    profile = '# 我的店\n"商號名稱" = "林記茶行"\n'
    (default / "賣方資料.toml").write_text(profile, encoding="utf-8")
    (tmp_path / "items.csv").write_text("收據,買受人,統一編號,日期,品名,數量,單價\nA,,,2026-12-07,茶,1,350\n",
                                        encoding="utf-8")
    out = tmp_path / "new"
    # A bare environment, so the default folder comes from HOME alone; a sanitizer run's own variables stay.
    sanitizer = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")
    env = {"HOME": str(tmp_path), "PATH": "/usr/bin:/bin", **{k: v for k, v in os.environ.items() if k in sanitizer}}
    result = subprocess.run([COMMAND, "render", "--output", str(out), str(tmp_path / "items.csv")], env=env,
                            capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert f"{out} 沒有賣方資料，已複製預設輸出資料夾的 {default / '賣方資料.toml'}" in result.stderr
    assert (out / "賣方資料.toml").read_text(encoding="utf-8") == profile
    pdf = out / "2026-12" / "收據-20261207-001.pdf"
    text = subprocess.run(["pdftotext", str(pdf), "-"], capture_output=True, text=True, check=True).stdout
    assert "林記茶行" in text


def test_hostile_input_ends_in_messages_and_the_good_receipt(tmp_path):
    good = {"版本": "一般格式", "買受人": "王先生", "買受人統一編號": "", "品名": ["禮盒"], "數量": [1],
            "單件價格": [1200], "顯示免用統一發票章": False, "顯示負責人章": False, "顯示日期": True,
            "年": 2026, "月": 12, "日": 8}
    nul = {**good, "買受人": "壞", "存檔路徑": str(tmp_path / "out") + "\x00x/"}
    text = json.dumps([good, nul]).replace("1200", "1" + "0" * 4999)  # a price of 5,000 digits
    (tmp_path / "list.json").write_text(text, encoding="utf-8")
    (tmp_path / "deep.json").write_text("[" * 50_000 + "]" * 50_000, encoding="utf-8")
    out = tmp_path / "out"
    named_shop(tmp_path / "quillmarkers" / "Receiptora")  # the default folder, under HOME
    result = subprocess.run([COMMAND, "render", "--jobs", "100000", str(tmp_path / "deep.json"),
                             str(tmp_path / "list.json")], capture_output=True, text=True, timeout=120,
                            env={**os.environ, "HOME": str(tmp_path)})
    assert result.returncode == 1, result.stderr
    assert f"{tmp_path / 'deep.json'}: 巢狀層數太多" in result.stderr
    assert f"{tmp_path / 'list.json'}:1（第 2 筆）: " in result.stderr and "存檔路徑" in result.stderr
    home_out = tmp_path / "quillmarkers" / "Receiptora"
    rows = list(csv.reader((home_out / "收據清冊.csv").read_text(encoding="utf-8-sig").splitlines()))[1:]
    assert [(r[2], r[5]) for r in rows] == [("王先生", '="1' + "0" * 4999 + '"')]  # exact, as a text cell
    assert not out.exists()


@pytest.mark.parametrize("encoding", ["cp950", "utf-16", "utf-16-be", "utf-8-sig"])
def test_a_profile_saved_by_notepad_is_read(tmp_path, encoding):
    out = tmp_path / "out"
    out.mkdir()
    text = '"商號名稱" = "林記茶行"\n"地址" = "臺北市"\n'
    (out / "賣方資料.toml").write_bytes(("\ufeff" if encoding == "utf-16-be" else "").encode(encoding) +
                                       text.encode(encoding))
    (tmp_path / "items.csv").write_text("收據,買受人,統一編號,日期,品名,數量,單價\nA,,,2026-12-07,茶,1,350\n",
                                        encoding="utf-8")
    result = subprocess.run([COMMAND, "render", "--output", str(out), str(tmp_path / "items.csv")],
                            capture_output=True, text=True, timeout=120, env=dict(os.environ, HOME=str(tmp_path)))
    # Read whole: the only word on it is what its 專用章 lacks.
    assert result.returncode == 0, result.stderr
    assert result.stderr == "receiptora: 免用統一發票專用章缺「統一編號」、「負責人」：請在賣方資料.toml 填寫。\n"
    text = subprocess.run(["pdftotext", str(out / "2026-12" / "收據-20261207-001.pdf"), "-"], capture_output=True,
                          text=True, check=True).stdout
    assert "林記茶行" in text and "臺北市" in text


def test_a_total_of_zero_or_below_is_refused_without_a_number(tmp_path):
    sheet = tmp_path / "items.csv"
    sheet.write_text("收據,買受人,統一編號,日期,品名,數量,單價\n"
                     "負,王先生,,2026-12-07,退款,1,-500\n"
                     "零,王先生,,2026-12-07,贈品,1,0\n"
                     "折,王先生,,2026-12-07,蛋糕,2,300\n"
                     "折,,,,折扣,1,-100\n", encoding="utf-8")
    out = named_shop(tmp_path / "out")
    result = subprocess.run([COMMAND, "render", "--output", str(out), str(sheet)], capture_output=True, text=True,
                            timeout=120, env=dict(os.environ, XDG_DATA_HOME=str(tmp_path / "data")))
    assert result.returncode == 1
    why = "：收據是收到款項的憑證，合計須大於 0"
    assert f"{sheet}:2: 合計為負數（-500 元）{why}" in result.stderr
    assert f"{sheet}:3: 合計為 0 元{why}" in result.stderr
    rows = list(csv.reader((out / "收據清冊.csv").read_text(encoding="utf-8-sig").splitlines()))[1:]
    assert [(r[0], r[5]) for r in rows] == [("收據-20261207-001", "500")]  # a discount line stays allowed


def test_a_changed_order_is_held_named_with_its_receipt_and_issued_when_asked(tmp_path):
    header = "收據,買受人,統一編號,日期,品名,數量,單價\n"
    (tmp_path / "orders.csv").write_text(header + "A05,林記,,2026-12-07,茶,2,350\n", encoding="utf-8")
    out = named_shop(tmp_path / "out")

    def render(*extra):
        return subprocess.run([COMMAND, "render", "--output", str(out), str(tmp_path / "orders.csv"), *extra],
                              capture_output=True, text=True, timeout=120,
                              env=dict(os.environ, XDG_DATA_HOME=str(tmp_path / "data")))
    assert render().returncode == 0
    (tmp_path / "orders.csv").write_text(header + "A05,林記,,2026-12-07,茶,3,350\n", encoding="utf-8")
    held = render()
    assert held.returncode == 1 and "已開立 0 張收據" in held.stdout
    assert "待確認 1 張：訂單內容與先前開立的收據不同，未開立：A05（收據-20261207-001）；確認要開立請加 --again A05" \
        in held.stdout
    table = Path(held.stdout.rstrip("\n").rpartition("開立結果：")[2])
    assert [row[1:5] for row in results(table)] == [["A05", "收據-20261207-001", "1050", "待確認"]]
    assert render().returncode == 1, "held again until the operator says so"
    issued = render("--again", "A05")
    assert issued.returncode == 0 and issued.stdout.startswith("已開立 1 張收據（收據-20261207-002）")
    assert render().stdout.splitlines()[1] == "略過 1 張：先前已開立（--again 全部重新開立）"


@pytest.mark.parametrize("fault, lines, said", [
    # a file where the error log's folder would be; the refused line B is what the log would get
    ("error log", ["A,甲,,2026-12-07,茶,1,5", "B,乙,,2026-12-07,茶,三,5"], "receiptora: 錯誤紀錄無法寫入"),
    # a folder where the ledger would be: the receipt is issued, its line is not, and the run fails
    ("ledger", ["A,甲,,2026-12-07,茶,1,5"], "receiptora: 收據清冊："),
])
def test_a_file_the_run_cannot_write_is_said_and_fails_the_run(tmp_path, fault, lines, said):
    sheet = tmp_path / "items.csv"
    sheet.write_text("\n".join(["收據,買受人,統一編號,日期,品名,數量,單價", *lines]) + "\n", encoding="utf-8")
    out = named_shop(tmp_path / "out")
    if fault == "error log":
        (tmp_path / "data").write_text("")
    else:
        (out / "收據清冊.csv").mkdir()
    result = subprocess.run([COMMAND, "render", "--output", str(out), str(sheet)], capture_output=True, text=True,
                            timeout=120, env=dict(os.environ, XDG_DATA_HOME=str(tmp_path / "data")))
    assert result.returncode == 1 and "Traceback" not in result.stderr, result.stderr
    assert said in result.stderr
    assert result.stdout.startswith("已開立 1 張收據（收據-20261207-001）")
