"""Pressing "輸出單據": the receipt request, the font check and the dispatch."""
import os

import pytest

import GUI
from window_driver import ProxyOs, RecordingMessageBox

pytestmark = pytest.mark.gui

KEYS = ["版本", "買受人", "買受人統一編號", "品名", "數量", "單件價格", "存檔路徑",
        "顯示免用統一發票章", "顯示負責人章", "顯示日期", "年", "月", "日"]


def press_with(window, rows=(), buyer=("", ""), template=None, presses=1, busy=False):
    """Types the rows and the buyer, picks the template, presses; returns the queued requests."""
    def scenario(w):
        for i, row in enumerate(rows):
            w.type_row(i, *row)
        w.type_buyer(*buyer)
        if template is not None:
            w.menu().set(template)
        for _ in range(presses):
            w.output_button().invoke()

    _, queues, _, _ = window(scenario, busy=busy)
    return queues["get_receipt"].items[:-1]  # the last item is the shutdown's None


# The row rules are core's (core/tests/request_rows_test.cpp): here only that the press uses them.
@pytest.mark.parametrize("row, sent", [
    (("茶", "\u3000３\u3000", "-１_０"), ("茶", 3, -10)),
    (("", "2", ""), None),
])
def test_row_rules(window, row, sent):
    (request,) = press_with(window, rows=[row])
    items = list(zip(request["品名"], request["數量"], request["單件價格"]))
    assert items == ([sent] if sent else [])


def test_request_keys_and_values(window, capsys):
    (request,) = press_with(window, rows=[("咖啡", "2", "60"), ("", "", ""), ("蛋糕", "1", "90")],
                            buyer=("王小明", "12345678"))
    assert list(request) == KEYS
    assert request["版本"] == "一般格式"
    assert (request["買受人"], request["買受人統一編號"]) == ("王小明", "12345678")
    assert request["品名"] == ["咖啡", "蛋糕"]
    assert request["數量"] == [2, 1] and request["單件價格"] == [60, 90]
    assert request["存檔路徑"] == os.path.expanduser("~") + "/quillmarkers/Receiptora/"
    assert (request["顯示免用統一發票章"], request["顯示負責人章"], request["顯示日期"]) == (False, False, True)
    out = capsys.readouterr().out.splitlines()
    assert out == [repr(request)]


def test_a_row_that_does_not_convert_refuses_the_press_and_keeps_the_rows(window, capsys):
    def scenario(w):
        for i, row in enumerate([("甲", "2", "10"), ("", "abc", ""), ("乙", "1.5", "7")]):
            w.type_row(i, *row)
        w.output_button().invoke()
        scenario.kept = [w.entry_table.get()[col][2] for col in range(3)]

    _, queues, _, _ = window(scenario)
    assert queues["get_receipt"].items == [None]  # only the shutdown's None
    assert capsys.readouterr().out == "金額輸入錯誤 --> 第 3 列的數量或單價不是整數，收據未輸出\n"
    assert scenario.kept == ["乙", "1.5", "7"]


def test_empty_table_sends_three_empty_lists(window):
    (request,) = press_with(window)
    assert (request["品名"], request["數量"], request["單件價格"]) == ([], [], [])


@pytest.mark.parametrize("template, version", [("貓咪格式", "貓咪格式"), ("一般格式", "一般格式"), ("其他", None)])
def test_template_choice(window, monkeypatch, template, version):
    monkeypatch.setattr(GUI, "os", ProxyOs(os, ["simhei.ttf"]))
    (request,) = press_with(window, template=template)
    assert request.get("版本") == version
    assert ("版本" in request) == (version is not None)


def test_long_numbers_are_sent_and_printed_in_full(window, capsys):
    quantity = "9" * 6000
    (request,) = press_with(window, rows=[("大", quantity, "-1")])
    assert request["數量"][0] == int("9" * 3000) * (10 ** 3000) + int("9" * 3000)
    assert request["單件價格"] == [-1]
    assert "'數量': [" + quantity + "]" in capsys.readouterr().out


def test_two_presses_queue_two_distinct_requests(window, capsys):
    first, second = press_with(window, rows=[("茶", "1", "1")], presses=2)
    assert first == second and first is not second
    assert first["品名"] is not second["品名"]
    assert len(capsys.readouterr().out.splitlines()) == 2


def test_press_while_busy_prints_and_queues_nothing(window, monkeypatch, capsys):
    box = RecordingMessageBox()
    monkeypatch.setattr(GUI, "messagebox", box)
    monkeypatch.setattr(GUI, "os", ProxyOs(os, []))
    assert press_with(window, rows=[("茶", "1", "1")], template="貓咪格式", busy=True) == []
    assert capsys.readouterr().out == ""
    assert len(box.shown) == 1  # the font check still ran


@pytest.mark.parametrize("listing, notices, listings", [
    (["arial.ttf", "simhei.ttf"], 0, 3),    # present: folder listed at every press
    (["arial.ttf"], 1, 1),                  # absent: one notice, then never again
    (["SimHei.ttf", "simhei.TTF"], 1, 1),   # other letter case does not count
])
def test_font_check(window, monkeypatch, listing, notices, listings):
    box = RecordingMessageBox()
    fake_os = ProxyOs(os, listing)
    monkeypatch.setattr(GUI, "messagebox", box)
    monkeypatch.setattr(GUI, "os", fake_os)
    requests = press_with(window, template="貓咪格式", presses=3)
    assert len(requests) == 3
    assert len(box.shown) == notices
    if notices:
        assert box.shown[0] == ("軟體提示", "此模板的收據需要安裝simhei.ttf的字型才能正常使用。")
    folders = len(set(fake_os.listed))
    assert len(fake_os.listed) == listings * folders


def test_font_check_failure_prints_a_line_and_retries(window, monkeypatch, capsys):
    box = RecordingMessageBox()
    fake_os = ProxyOs(os, PermissionError(13, "Permission denied"))
    monkeypatch.setattr(GUI, "messagebox", box)
    monkeypatch.setattr(GUI, "os", fake_os)
    requests = press_with(window, template="貓咪格式", presses=2)
    assert len(requests) == 2 and box.shown == []
    failures = [line for line in capsys.readouterr().out.splitlines() if line.startswith("檢查字型失敗 --> ")]
    assert failures == ["檢查字型失敗 --> [Errno 13] Permission denied"] * 2


def test_general_template_lists_no_fonts(window, monkeypatch):
    fake_os = ProxyOs(os, [])
    monkeypatch.setattr(GUI, "os", fake_os)
    press_with(window, presses=2)
    assert fake_os.listed == []


def test_font_check_on_this_machine_lists_only_real_folders(window, monkeypatch, capsys):
    box = RecordingMessageBox()
    fake_os = ProxyOs(os, None)
    monkeypatch.setattr(GUI, "messagebox", box)
    monkeypatch.setattr(GUI, "os", fake_os)
    requests = press_with(window, template="貓咪格式")
    assert len(requests) == 1
    assert "檢查字型失敗" not in capsys.readouterr().out
    assert fake_os.listed and all(os.path.isdir(folder) for folder in fake_os.listed)
    installed = any("simhei.ttf" in os.listdir(folder) for folder in fake_os.listed)
    assert len(box.shown) == (0 if installed else 1)
