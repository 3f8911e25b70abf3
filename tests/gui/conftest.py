import pytest

from window_driver import channels, run_window


@pytest.fixture
def window(monkeypatch):
    """window(scenario) runs GUI with fresh recording channels; returns (recorder, queues, events, made)."""
    def run(scenario, busy=False):
        recorder, queues, events = channels()
        if busy:
            events["get_receipt"].flag.set()
        _, made = run_window(monkeypatch, scenario, queues, events)
        return recorder, queues, events, made
    return run
