"""The batch command's file readers: encodings, grouping of lines into orders, bad lines, keys."""
import json
import os

import pytest

from receiptora import batch, orders


def read(paths, folder="/out/"):
    """(orders with a request as (place, request), problems) of the files."""
    found = list(orders.read_files(paths, folder))
    return [(o.place, o.request) for o in found if o.request], [p for o in found for p in o.problems]

HEADER = "收據,買受人,統一編號,日期,品名,數量,單價,版本,顯示負責人章\n"
GOOD = HEADER + ("A1,林記茶行,22099131,2026-12-07,烏龍茶,2,350,,是\n"
                 "A2,陳小姐,,115/12/08,蛋糕,3,90,貓咪格式,\n"
                 "A1,,,,\"禮盒, 大\",1,1200,,\n")


@pytest.mark.parametrize("encoding", ["utf-8", "utf-8-sig", "cp950"])
def test_lines_with_one_receipt_value_form_one_receipt(tmp_path, encoding):
    path = tmp_path / "items.csv"
    path.write_bytes(GOOD.encode(encoding))
    requests, problems = read([path])
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
    requests, problems = read([path])
    assert problems[0] == f"{path}:5: {message}" or problems[0].startswith(f"{path}:5: {message}")
    key = line.split(",")[0]
    assert sorted(r["買受人"] for _, r in requests) == sorted({"A1": ["陳小姐"], "B": ["林記茶行", "陳小姐"],
                                                               "": ["林記茶行", "陳小姐"]}[key])


def test_missing_column_and_json_entries(tmp_path):
    (tmp_path / "short.csv").write_text("收據,品名\nA,茶\n", encoding="utf-8")
    (tmp_path / "one.json").write_text(json.dumps({"買受人": "甲", "存檔路徑": "/mine/"}), encoding="utf-8")
    (tmp_path / "list.json").write_text(json.dumps([{"買受人": "乙"}, 5]), encoding="utf-8")
    requests, problems = read([tmp_path / n for n in ("short.csv", "one.json", "list.json")])
    assert [(r["買受人"], r["存檔路徑"]) for _, r in requests] == [("甲", "/mine/"), ("乙", "/out/")]
    assert problems[0].startswith(f"{tmp_path / 'short.csv'}:1: 缺少欄位 買受人, 統一編號, 日期")
    assert problems[1] == f"{tmp_path / 'list.json'}:1（第 2 筆）: 不是收據請求（應為含視窗各欄位的物件）"


@pytest.mark.parametrize("cell", ["2026-12-07", "2026/12/07", "2026.12.07", "115/12/07", "民國 115/12/07",
                                  "民國115年12月7日", "115年12月7日", "2026年12月7日", "２０２６／１２／０７",
                                  " 115 年 12 月 07 日 "])
def test_dates_as_a_spreadsheet_writes_them(cell):
    assert orders.receipt_date(cell) == (2026, 12, 7)


@pytest.mark.parametrize("cell, refusal", [
    ("民國 2026/12/07", "不是有效的日期"), ("115/2/30", "不是有效的日期"), ("2026-12", "不是有效的日期"),
    ("115年12月", "不是有效的日期"), ("12/07/2026", "不是有效的日期"), ("明天", "不是有效的日期"),
    ("0001-01-01", "不在 民國 1 年至 民國 200 年之間"), ("999/12/31", "不在 民國 1 年至 民國 200 年之間"),
    ("9999-12-31", "不在 民國 1 年至 民國 200 年之間"), ("1911-12-31", "不在 民國 1 年至 民國 200 年之間"),
])
def test_dates_that_are_no_day_are_refused_in_chinese(cell, refusal):
    with pytest.raises(orders.BadLine, match=f"^日期 .* {refusal}"):
        orders.receipt_date(cell)


@pytest.mark.parametrize("cell, value", [("1,680", 1680), ("-12,345,678", -12345678), ("１６８０", 1680),
                                         ("１，６８０", 1680), (" 7 ", 7), ("", 0), ("1_000", 1000)])
def test_numbers_as_a_spreadsheet_writes_them(cell, value):
    assert orders.whole_number(cell, "單價") == value


@pytest.mark.parametrize("cell", ["1,68", "1,6800", ",680", "1.5", "三"])
def test_numbers_with_misplaced_separators_are_refused(cell):
    with pytest.raises(orders.BadLine, match="^單價 .* 不是整數"):
        orders.whole_number(cell, "單價")


@pytest.mark.parametrize("cell, result", [("", ""), ("04595257", "04595257"), ("０４５９５２５７", "04595257"),
                                          ("12345678", None), ("-1234567", None), ("4595257", "開頭的 0"),
                                          ("0459525", "開頭的 0")])
def test_buyer_tax_id_is_checked(cell, result):
    if result is None or result == "開頭的 0":
        with pytest.raises(orders.BadLine, match="統一編號") as error:
            orders.buyer_tax_id(cell)
        assert (result == "開頭的 0") == ("開頭的 0" in str(error.value))
    else:
        assert orders.buyer_tax_id(cell) == result


def test_note_column_gives_each_item_its_note(tmp_path):
    path = tmp_path / "notes.csv"
    path.write_text("收據,買受人,統一編號,日期,品名,數量,單價,備註\n"
                    "A,甲,,民國115年12月7日,茶,\"1,200\",1,含運\n"
                    "A,,,,杯,2,30,\n", encoding="utf-8")
    (_, request), = read([path])[0]
    assert (request["品名"], request["數量"], request["備註"]) == (["茶", "杯"], [1200, 2], ["含運", ""])


def test_json_amounts_of_any_length_read_exactly_and_deep_nesting_is_one_files_error(tmp_path):
    digits = "1" + "0" * 4998 + "7"  # 5,000 digits: past Python's int() limit
    (tmp_path / "long.json").write_text('[{"買受人": "甲", "單件價格": [' + digits + ', -3]}, {"買受人": "乙"}]',
                                        encoding="utf-8")
    (tmp_path / "deep.json").write_text("[" * 100_000 + "]" * 100_000, encoding="utf-8")
    requests, problems = read([tmp_path / "deep.json", tmp_path / "long.json"])
    assert [r["買受人"] for _, r in requests] == ["甲", "乙"]
    assert requests[0][1]["單件價格"] == [10 ** 4999 + 7, -3]
    assert problems == [f"{tmp_path / 'deep.json'}: 巢狀層數太多，不是收據請求"]


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


SHEET = HEADER + ("A1,林記茶行,22099131,2026-12-07,烏龍茶,2,350,,是\n"
                  "A2,陳小姐,,,蛋糕,3,90,貓咪格式,\n"
                  "A1,,,,\"禮盒, 大\",1,1200,,\n")


def keys_of(tmp_path, name, data):
    path = tmp_path / name
    path.write_bytes(data)
    return {o.label: o.key for o in orders.read_files([path], "/out/") if o.request}


@pytest.mark.parametrize("case, name, data, same", [
    ("renamed", "renamed.csv", SHEET.encode(), {"A1", "A2"}),
    ("Big5", "items.csv", SHEET.encode("cp950"), {"A1", "A2"}),
    ("UTF-16", "items.csv", SHEET.encode("utf-16"), {"A1", "A2"}),
    ("rows added and re-sorted", "items.csv", (HEADER + "A9,新客,,2026-12-09,茶,1,1\n" + SHEET[len(HEADER):]).encode(),
     {"A1", "A2", "A9"}),
    ("date reformatted", "items.csv", SHEET.replace("2026-12-07", "115/12/7").encode(), {"A1", "A2"}),
    ("price fixed", "items.csv", SHEET.replace(",1200,", ",1300,").encode(), {"A2"}),
    ("blank date filled", "items.csv", SHEET.replace("A2,陳小姐,,,", "A2,陳小姐,,2026-12-08,").encode(), {"A1"}),
])
def test_an_orders_key_is_what_it_says_not_the_file(tmp_path, monkeypatch, case, name, data, same):
    before = keys_of(tmp_path, "items.csv", SHEET.encode())
    import datetime

    class Tomorrow(datetime.date):  # a blank date keyed blank: another day gives the same key
        @classmethod
        def today(cls):
            return datetime.date(2027, 1, 2)
    monkeypatch.setattr(orders.datetime, "date", Tomorrow)
    after = keys_of(tmp_path, name, data)
    assert {label for label in before if after.get(label) == before[label]} == same - {"A9"}, case
    assert all(key.startswith("order:") for key in after.values())


def test_json_key_is_the_requests_content(tmp_path):
    request = {"買受人": "甲", "品名": ["茶"], "數量": [1], "單件價格": [123456789]}

    def text(value, **options):  # a price of 5,001 digits: past Python's int() limit
        return json.dumps(value, **options).replace("123456789", "1" + "0" * 5000)
    keys = [keys_of(tmp_path, "a.json", text([request]).encode())[""],
            keys_of(tmp_path, "b.json", text(dict(reversed(request.items())), indent=2).encode("utf-16"))[""],
            keys_of(tmp_path, "c.json", text(dict(request, 存檔路徑="/else/")).encode())[""],
            keys_of(tmp_path, "d.json", text(dict(request, 買受人="乙")).encode())[""]]
    assert keys[0] == keys[1] == keys[2] != keys[3]


def test_a_bad_byte_names_its_line_and_refuses_only_its_order(tmp_path):
    path = tmp_path / "big5.csv"
    path.write_bytes(SHEET.encode("cp950").replace("蛋糕".encode("cp950"), b"\xff\xfe"))
    requests, problems = read([path])
    assert [r["買受人"] for _, r in requests] == ["林記茶行"]
    assert problems[0] == f"{path}:3: 有無法辨識的位元組（檔案不是 UTF-8，也不是 Big5）"


@pytest.mark.parametrize("case, make, refusal", [
    ("folder", lambda p: p.mkdir(), "是資料夾，不是檔案"),
    ("FIFO", lambda p: os.mkfifo(p), "不是一般檔案（裝置或管線），不讀取"),
    ("device", lambda p: p.symlink_to("/dev/zero"), "不是一般檔案（裝置或管線），不讀取"),
    ("missing", lambda p: None, "找不到這個檔案"),
    ("too large", lambda p: (p.touch(), os.truncate(p, orders.SIZE_LIMIT + 1)), "超過一個檔案的上限"),
])
@pytest.mark.parametrize("suffix", [".csv", ".json"])
def test_only_regular_files_within_the_limit_are_read(tmp_path, case, make, refusal, suffix):
    path = tmp_path / f"in{suffix}"
    make(path)
    ((found,)) = orders.read_files([path], "/out/")
    assert found.request is None and found.label is None
    assert found.problems[0].startswith(f"{path}: ") and refusal in found.problems[0], case


@pytest.mark.parametrize("labels, apart", [
    ("AABBC", {}),  # each order's lines together: nothing kept, however long the sheet
    ("ABA", {"A": 3}),
    ("AABAA", {"A": 5}),
    ("ABAB", {"A": 3, "B": 4}),
])
def test_only_orders_whose_lines_stand_apart_are_remembered_with_their_last_line(labels, apart):
    assert orders.scattered([(n, n, [label]) for n, label in enumerate(labels, 1)], 0) == apart
