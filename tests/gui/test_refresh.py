"""The 500 ms refresh tick: grand total, busy caption, chosen day, line totals."""
import json
from pathlib import Path

import pytest

import GUI
from window_driver import RecordingButtons, channels, run_window

pytestmark = pytest.mark.gui


# The amounts rule is checked case by case in core's tests (amounts_test.cpp); from the same table
# only what shows that the tick reads every typed row into it: a sum, and a refusal.
TOTALS = {case["label"]: case for case in json.loads(
    (Path(__file__).parents[2] / "core" / "tests" / "cases" / "grand_total.json").read_text(encoding="utf-8"))}


@pytest.mark.parametrize("label", ["sum", "bad_quantity_with_price"])
def test_grand_total_caption(window, label):
    case = TOTALS[label]
    rows = list(zip("abc", case["quantities"], case["prices"]))
    seen = {}

    def scenario(w):
        for i, row in enumerate(rows):
            w.type_row(i, *row)
        w.ticks(1)
        seen["caption"] = w.total_caption()
        seen["totals"] = [w.line_total(i) for i in range(len(rows))]

    window(scenario)
    assert seen["caption"] == case["caption"]
    if label == "bad_quantity_with_price":
        assert seen["totals"][0] == ""  # the bad row shows no line total


def test_line_totals_follow_typing_at_the_next_tick(window):
    seen = []

    def scenario(w):
        w.type_row(0, "茶", "3", "50")
        seen.append(w.line_total(0))      # not yet: totals follow at the tick
        w.ticks(1)
        seen.append(w.line_total(0))
        w.type_row(0, "茶", "", "50")
        w.ticks(1)
        seen.append(w.line_total(0))

    window(scenario)
    assert seen == ["", "150 元", ""]


def record_captions(monkeypatch):
    made = []
    real = GUI.Set_Button

    def recording():
        buttons = RecordingButtons(real())
        made.append(buttons)
        return buttons
    monkeypatch.setattr(GUI, "Set_Button", recording)
    return made


def test_busy_caption_cycles_while_busy_and_rests_when_idle(monkeypatch):
    made = record_captions(monkeypatch)
    recorder, queues, events = channels()
    busy = events["get_receipt"].flag
    shown = []

    def scenario(w):
        busy.set()
        w.ticks(5)  # at least four busy ticks, even on a loaded machine
        busy.clear()
        w.ticks(1)
        shown.append(w.output_button().cget("text"))

    run_window(monkeypatch, scenario, queues, events)
    captions = made[0].captions
    busy_part = captions[:captions.index("輸出單據")]
    # Busy ticks step through the cycle from rest; every idle tick restores the caption.
    assert busy_part[:4] == ["輸出中.", "輸出中..", "輸出中...", "輸出中."]
    assert set(captions[len(busy_part):]) == {"輸出單據"}
    assert shown == ["輸出單據"]


def test_second_busy_read_keeps_the_caption(monkeypatch):
    made = record_captions(monkeypatch)
    recorder, queues, events = channels()

    def scenario(w):
        # First tick: not busy, then busy on the second read: caption left as it is.
        events["get_receipt"].answers = [False, True]
        w.ticks(1)

    run_window(monkeypatch, scenario, queues, events)
    # The tick that read False then True set no caption; later idle ticks restore it.
    assert events["get_receipt"].is_set_calls >= 2
    assert made[0].captions.count("輸出單據") == events["get_receipt"].is_set_calls // 2 - 1


def test_standalone_tick_survives_placeholder_channels(monkeypatch):
    monkeypatch.setattr(GUI, "__name__", "__main__")
    seen = {}

    def scenario(w):
        w.type_row(0, "茶", "2", "30")
        w.ticks(2)
        seen["total"] = (w.total_caption(), w.line_total(0))

    run_window(monkeypatch, scenario, "X", "X")
    assert seen["total"] == ("總額60元", "60 元")


def test_failing_line_totals_stop_the_refresh_and_are_logged(window, monkeypatch, tmp_path):
    GUI.try_except.log_path = str(tmp_path / "error.log")
    real = GUI.Entry_Table
    calls = []

    class Failing(real):
        def get(self):
            calls.append(1)
            return super().get()

        def update(self):
            raise RuntimeError("line totals broke")

    monkeypatch.setattr(GUI, "Entry_Table", Failing)
    window(lambda w: w.ticks(3))
    assert len(calls) == 1  # one tick ran; the next was never scheduled
    log = (tmp_path / "error.log").read_text(encoding="utf-8")
    assert "line totals broke" in log and log.split("\n", 1)[0].endswith(" aa")
