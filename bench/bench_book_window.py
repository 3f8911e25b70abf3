"""The 收據簿 window's figures on a book of 100,000 receipts (10,000 of them in the month shown):
window to its first drawn list (target ≤ 300 ms), one search keystroke (≤ 50 ms), one scroll
step (< 16 ms), idle CPU (≤ 0.1 %). Needs a display and build/tests/bench/fill_book (scripts/test
builds it):

    xvfb-run -a -s "-screen 0 1600x1200x24 -dpi 96" .venv/bin/python bench/bench_book_window.py
"""
import statistics
import subprocess
import sys
import tempfile
import time
import tkinter
from pathlib import Path

import customtkinter

from receiptora import _shop

FILL = Path(__file__).resolve().parent.parent / "build" / "tests" / "bench" / "fill_book"


def canvases(widget):
    for child in widget.winfo_children():
        if type(child) is tkinter.Canvas:
            yield child
        yield from canvases(child)


def entries(widget):
    for child in widget.winfo_children():
        if isinstance(child, customtkinter.CTkEntry):
            yield child
        yield from entries(child)


def measure(folder):
    figures = {}
    real_mainloop = customtkinter.CTk.mainloop

    def mainloop(app, *args, **kwargs):
        app.update()  # the first drawn list
        figures["open"] = (time.perf_counter() - figures["start"]) * 1000
        canvas = next(canvases(app))
        search = next(entries(app))
        times = []
        for text in ("林", "林記", "林", "", "0459", ""):
            start = time.perf_counter()
            search.delete(0, "end")
            if text:
                search.insert(0, text)  # the text variable's trace runs the search, as for a key
            app.update_idletasks()
            times.append((time.perf_counter() - start) * 1000)
        figures["search"] = times
        times = []
        for step in range(200):
            start = time.perf_counter()
            canvas.event_generate("<Button-5>" if step < 150 else "<Button-4>")
            app.update_idletasks()
            times.append((time.perf_counter() - start) * 1000)
        figures["scroll"] = times
        app.update()
        cpu = time.process_time()
        wall = time.perf_counter()
        app.after(10000, app.quit)
        real_mainloop(app, *args, **kwargs)
        figures["idle"] = (time.process_time() - cpu) / (time.perf_counter() - wall) * 100

    customtkinter.CTk.mainloop = mainloop
    figures["start"] = time.perf_counter()
    _shop.book_window(folder, 2026, 12)
    return figures


def main():
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([str(FILL), folder, "100000", "0.1"], check=True)
        figures = measure(folder)
    search, scroll = figures["search"], figures["scroll"]
    print(f"window to its first drawn list: {figures['open']:.0f} ms (target ≤ 300 ms)")
    print(f"search keystroke: median {statistics.median(search):.1f} ms, max {max(search):.1f} ms (≤ 50 ms)")
    print(f"scroll step over 10,000 rows: median {statistics.median(scroll):.2f} ms, "
          f"max {max(scroll):.2f} ms (< 16 ms)")
    print(f"idle CPU over 10 s: {figures['idle']:.3f} % (≤ 0.1 %)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
