"""How soon the suggestion list shows after a keystroke, in the receipt window over a book of
100,000 receipts with 2,000 buyers and 2,000 items (target ≤ 10 ms): median and max over 200
keystrokes in the buyer entry and 200 in an item-name cell, each a real KeyPress through Tk's
bindings up to the list drawn; the first keystroke (the module loaded, the book opened and its
counts read) apart. Needs a display and build/tests/bench/fill_book (scripts/test builds it):

    xvfb-run -a -s "-screen 0 1600x1200x24 -dpi 96" .venv/bin/python bench/bench_suggest.py [VARIETY]
"""
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import customtkinter
import quillmarkers_model

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "gui"))
from window_driver import channels, run_window  # noqa: E402

FILL = Path(__file__).resolve().parent.parent / "build" / "tests" / "bench" / "fill_book"
RECEIPTS = 100_000
VARIETY = int(sys.argv[1]) if len(sys.argv) > 1 else 2000  # buyers and items in the book
KEYS = ["1", "2", "BackSpace", "3", "BackSpace", "BackSpace", "4", "5", "BackSpace", "BackSpace"]


class Patch:
    def setattr(self, owner, name, value):
        setattr(owner, name, value)


def keystrokes(app, entry, start_text, count):
    """Milliseconds from each KeyPress to the list drawn; the entry starts with start_text."""
    from receiptora import _suggest  # noqa: F401  (loaded by the first keystroke before this)
    inner = entry._entry
    entry.delete(0, "end")
    entry.insert(0, start_text)
    inner.focus_force()
    app.update()
    times, empty = [], 0
    for n in range(count):
        keysym = KEYS[n % len(KEYS)]
        start = time.perf_counter()
        inner.event_generate("<KeyPress>", keysym=keysym)
        app.update_idletasks()
        times.append((time.perf_counter() - start) * 1000)
        empty += not _suggest.shown()[0]
    return times, empty


def first_keystroke(app, entry):
    inner = entry._entry
    entry.insert(0, "客戶")
    inner.focus_force()
    app.update()
    start = time.perf_counter()
    inner.event_generate("<KeyPress>", keysym="1")
    app.update_idletasks()
    return (time.perf_counter() - start) * 1000


def main():
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([str(FILL), folder, str(RECEIPTS), str(1 / 12), str(VARIETY)], check=True)
        quillmarkers_model.suggest_from(folder)
        figures = {}

        def scenario(w):
            w.pump(0.3)
            buyer, _ = w.buyer_entries()
            figures["first"] = first_keystroke(w.app, buyer)
            figures["buyer"] = keystrokes(w.app, buyer, "客戶", 200)
            figures["item"] = keystrokes(w.app, w.cell("商品名稱", 0), "品項", 200)

        _, queues, events = channels()
        run_window(Patch(), scenario, queues, events)
    print(f"book: {RECEIPTS:,} receipts, {VARIETY:,} buyers and {VARIETY:,} items")
    print(f"first keystroke (module, book and counts loaded): {figures['first']:.1f} ms")
    for kind in ("buyer", "item"):
        times, empty = figures[kind]
        print(f"{kind}: median {statistics.median(times):.2f} ms, max {max(times):.2f} ms over {len(times)} "
              f"keystrokes ({len(times) - empty} showing a list; target ≤ 10 ms)")


if __name__ == "__main__":
    main()
