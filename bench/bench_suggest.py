"""How soon the suggestion list shows after a keystroke, in the receipt window over a book of
100,000 receipts with 2,000 buyers and 2,000 items (VARIETY; target ≤ 10 ms at the 95th
percentile, also at 100,000 buyers while a batch writes the book): median, 95th percentile and
max over 200 keystrokes in the buyer entry and 200 in an item-name cell, each a real KeyPress
through Tk's bindings up to the list drawn; the first keystroke (the module loaded, the book
opened and its counts read) apart. Then the same while `receiptora render` issues receipts into
the book (new buyers and items, so the counts change with every commit). Needs a display and
build/tests/bench/fill_book (scripts/test builds it):

    xvfb-run -a -s "-screen 0 1600x1200x24 -dpi 96" .venv/bin/python bench/bench_suggest.py [VARIETY]
"""
import os
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
COMMAND = str(Path(sys.executable).with_name("receiptora"))
BATCH_ORDERS = 3000
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


def start_batch(folder):
    """`receiptora render` of BATCH_ORDERS one-line orders into the book, each a new buyer and item."""
    sheet = Path(folder) / "batch.csv"
    with open(sheet, "w", encoding="utf-8") as f:
        f.write("收據,買受人,統一編號,日期,品名,數量,單價\n")
        for n in range(BATCH_ORDERS):
            f.write(f"B{n},客戶新{n}商行,,2026-12-08,品項新{n}號茶,1,100\n")
    return subprocess.Popen([COMMAND, "render", "--output", folder, "--jobs", "1", str(sheet)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            env=dict(os.environ, XDG_DATA_HOME=str(Path(folder) / "data")))


def book_moved(folder, since):
    """Whether the book's -wal grew since `since` bytes (receipts are being committed)."""
    wal = Path(folder) / "收據簿.sqlite3-wal"
    return wal.exists() and wal.stat().st_size != since


def p95(times):
    return statistics.quantiles(times, n=20)[-1]


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
            batch = start_batch(folder)
            try:
                deadline = time.monotonic() + 120
                while not book_moved(folder, 0) and time.monotonic() < deadline and batch.poll() is None:
                    time.sleep(0.05)  # the batch has begun committing
                figures["buyer during a batch"] = keystrokes(w.app, buyer, "客戶", 200)
                figures["item during a batch"] = keystrokes(w.app, w.cell("商品名稱", 0), "品項", 200)
                figures["batch still running"] = batch.poll() is None
            finally:
                batch.kill()
                batch.wait()

        _, queues, events = channels()
        run_window(Patch(), scenario, queues, events)
    print(f"book: {RECEIPTS:,} receipts, {VARIETY:,} buyers and {VARIETY:,} items")
    print(f"first keystroke (module, book and counts loaded): {figures['first']:.1f} ms")
    for kind in ("buyer", "item", "buyer during a batch", "item during a batch"):
        times, empty = figures[kind]
        print(f"{kind}: median {statistics.median(times):.2f} ms, p95 {p95(times):.2f} ms, max {max(times):.2f} ms "
              f"over {len(times)} keystrokes ({len(times) - empty} showing a list; target p95 ≤ 10 ms)")
    if not figures["batch still running"]:
        print("(the batch ended before the last keystroke: rerun on a quieter machine for a fair figure)")


if __name__ == "__main__":
    main()
