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
    ("A1,乙,,,茶,1,10,,", "買受人 '乙' 與第 2 行 收據 'A1' 的不同"),
    (",甲,,2026-12-07,茶,1,10,,", "收據 欄是空的"),
    ("B,甲,12345678,2026-12-07,茶,1,10,,", "統一編號 '12345678' 不是有效的統一編號"),
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
    assert problems[0].startswith(f"{tmp_path / 'short.csv'}:1: 缺少欄位 買受人, 統一編號, 日期")
    assert problems[1] == f"{tmp_path / 'list.json'}: receipt 2: not a receipt request (an object with the window's keys)"


@pytest.mark.parametrize("cell", ["2026-12-07", "2026/12/07", "2026.12.07", "115/12/07", "民國 115/12/07",
                                  "民國115年12月7日", "115年12月7日", "2026年12月7日", "２０２６／１２／０７",
                                  " 115 年 12 月 07 日 "])
def test_dates_as_a_spreadsheet_writes_them(cell):
    assert batch.receipt_date(cell) == (2026, 12, 7)


@pytest.mark.parametrize("cell", ["民國 2026/12/07", "115/2/30", "2026-12", "115年12月", "12/07/2026", "明天"])
def test_dates_that_are_no_day_are_refused_in_chinese(cell):
    with pytest.raises(batch.BadLine, match="^日期 .* 不是有效的日期"):
        batch.receipt_date(cell)


@pytest.mark.parametrize("cell, value", [("1,680", 1680), ("-12,345,678", -12345678), ("１６８０", 1680),
                                         ("１，６８０", 1680), (" 7 ", 7), ("", 0), ("1_000", 1000)])
def test_numbers_as_a_spreadsheet_writes_them(cell, value):
    assert batch.whole_number(cell, "單價") == value


@pytest.mark.parametrize("cell", ["1,68", "1,6800", ",680", "1.5", "三"])
def test_numbers_with_misplaced_separators_are_refused(cell):
    with pytest.raises(batch.BadLine, match="^單價 .* 不是整數"):
        batch.whole_number(cell, "單價")


@pytest.mark.parametrize("cell, result", [("", ""), ("04595257", "04595257"), ("０４５９５２５７", "04595257"),
                                          ("12345678", None), ("-1234567", None), ("4595257", "開頭的 0"),
                                          ("0459525", "開頭的 0")])
def test_buyer_tax_id_is_checked(cell, result):
    if result is None or result == "開頭的 0":
        with pytest.raises(batch.BadLine, match="統一編號") as error:
            batch.buyer_tax_id(cell)
        assert (result == "開頭的 0") == ("開頭的 0" in str(error.value))
    else:
        assert batch.buyer_tax_id(cell) == result


def test_note_column_gives_each_item_its_note(tmp_path):
    path = tmp_path / "notes.csv"
    path.write_text("收據,買受人,統一編號,日期,品名,數量,單價,備註\n"
                    "A,甲,,民國115年12月7日,茶,\"1,200\",1,含運\n"
                    "A,,,,杯,2,30,\n", encoding="utf-8")
    (_, request), = batch.read_csv(path, "/out/")[0]
    assert (request["品名"], request["數量"], request["備註"]) == (["茶", "杯"], [1200, 2], ["含運", ""])


def test_json_amounts_of_any_length_read_exactly_and_deep_nesting_is_one_files_error(tmp_path):
    digits = "1" + "0" * 4998 + "7"  # 5,000 digits: past Python's int() limit
    (tmp_path / "long.json").write_text('[{"買受人": "甲", "單件價格": [' + digits + ', -3]}, {"買受人": "乙"}]',
                                        encoding="utf-8")
    (tmp_path / "deep.json").write_text("[" * 100_000 + "]" * 100_000, encoding="utf-8")
    requests, problems = batch.read_files([tmp_path / "deep.json", tmp_path / "long.json"], "/out/")
    assert [r["買受人"] for _, r in requests] == ["甲", "乙"]
    assert requests[0][1]["單件價格"] == [10 ** 4999 + 7, -3]
    assert problems == [f"{tmp_path / 'deep.json'}: 巢狀層數太多，不是收據請求 · nested too deeply to be a receipt request"]


@pytest.mark.parametrize("asked, receipts, most", [
    (100_000, 50, "processors"), (3, 1, 1), (0, 10, 1), (-7, 10, 1), (1, 10, 1), (2, 0, 1),
])
def test_jobs_clamped_to_processors_and_receipts(asked, receipts, most):
    import os
    processors = len(os.sched_getaffinity(0))
    assert batch.usable_jobs(asked, receipts) == (min(processors, 50) if most == "processors" else most)


@pytest.mark.parametrize("home", ["/home/王小明", "/home/王小明/"])
def test_default_folder_is_the_one_the_window_names(monkeypatch, home):
    monkeypatch.setenv("HOME", home)
    assert batch.default_folder() == "/home/王小明/quillmarkers/Receiptora/"
