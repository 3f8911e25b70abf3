"""The batch command's file readers: encodings, grouping of lines into receipts, bad lines."""
import json

import pytest

from receiptora import batch

HEADER = "收據,買受人,統一編號,日期,品名,數量,單價,版本,顯示負責人章\n"
GOOD = HEADER + ("A1,林記茶行,22099131,2026-12-07,烏龍茶,2,350,,是\n"
                 "A2,陳小姐,,115/12/08,蛋糕,3,90,貓咪格式,\n"
                 "A1,,,,\"禮盒, 大\",1,1200,,\n")


@pytest.mark.parametrize("encoding", ["utf-8", "utf-8-sig", "cp950"])
def test_lines_with_one_receipt_value_form_one_receipt(tmp_path, encoding):
    path = tmp_path / "items.csv"
    path.write_bytes(GOOD.encode(encoding))
    requests, problems = batch.read_csv(path, "/out/")
    assert problems == []
    (place1, a1), (_, a2) = requests
    assert place1 == f"{path}:2"
    assert (a1["買受人"], a1["買受人統一編號"], a1["品名"], a1["數量"], a1["單件價格"]) == (
        "林記茶行", "22099131", ["烏龍茶", "禮盒, 大"], [2, 1], [350, 1200])
    assert (a1["年"], a1["月"], a1["日"], a1["版本"], a1["顯示負責人章"], a1["顯示日期"]) == (
        2026, 12, 7, "一般格式", True, True)
    assert (a2["年"], a2["月"], a2["日"], a2["版本"], a2["存檔路徑"]) == (2026, 12, 8, "貓咪格式", "/out/")
    assert list(a2) == ["版本", "買受人", "買受人統一編號", "品名", "數量", "單件價格", "存檔路徑",
                        "顯示免用統一發票章", "顯示負責人章", "顯示日期", "年", "月", "日"]


@pytest.mark.parametrize("line, message", [
    ("B,甲,,2026-12-07,茶,兩,10,,", "數量 '兩'"),
    ("B,甲,,2026-13-07,茶,1,10,,", "日期 '2026-13-07'"),
    ("B,甲,,2026-12-07,茶,1,10,貓格式,", "版本 '貓格式'"),
    ("B,甲,,2026-12-07,茶,1,10,,也許", "顯示負責人章 '也許'"),
    ("A1,乙,,,茶,1,10,,", "買受人 '乙' differs from line 2"),
    (",甲,,2026-12-07,茶,1,10,,", "the 收據 column is empty"),
])
def test_bad_line_named_with_file_and_line_and_its_receipt_left_out(tmp_path, line, message):
    path = tmp_path / "items.csv"
    path.write_text(GOOD + line + "\n", encoding="utf-8")
    requests, problems = batch.read_csv(path, "/out/")
    assert problems[0] == f"{path}:5: {message}" or problems[0].startswith(f"{path}:5: {message}")
    key = line.split(",")[0]
    assert sorted(r["買受人"] for _, r in requests) == sorted({"A1": ["陳小姐"], "B": ["林記茶行", "陳小姐"],
                                                               "": ["林記茶行", "陳小姐"]}[key])


def test_missing_column_and_json_entries(tmp_path):
    (tmp_path / "short.csv").write_text("收據,品名\nA,茶\n", encoding="utf-8")
    (tmp_path / "one.json").write_text(json.dumps({"買受人": "甲", "存檔路徑": "/mine/"}), encoding="utf-8")
    (tmp_path / "list.json").write_text(json.dumps([{"買受人": "乙"}, 5]), encoding="utf-8")
    requests, problems = batch.read_files(
        [tmp_path / n for n in ("short.csv", "one.json", "list.json")], "/out/")
    assert [(r["買受人"], r["存檔路徑"]) for _, r in requests] == [("甲", "/mine/"), ("乙", "/out/")]
    assert problems[0].startswith(f"{tmp_path / 'short.csv'}:1: missing column(s) 買受人, 統一編號, 日期")
    assert problems[1] == f"{tmp_path / 'list.json'}: receipt 2: not a receipt request (an object with the window's keys)"


@pytest.mark.parametrize("home", ["/home/王小明", "/home/王小明/"])
def test_default_folder_is_the_one_the_window_names(monkeypatch, home):
    monkeypatch.setenv("HOME", home)
    assert batch.default_folder() == "/home/王小明/quillmarkers/Receiptora/"
