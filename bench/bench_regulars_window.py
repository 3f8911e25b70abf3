"""The 收據簿 window's 常客 and 品項 views on a book of 100,000 receipts from about 2,600 buyers
and 400 items (made by build/tests/bench/bench_regulars, which prints the computing figures
first): from the click on 常客 or 品項, or on 本月／全年, to the view drawn. Needs a display:

    xvfb-run -a -s "-screen 0 1600x1200x24 -dpi 96" .venv/bin/python bench/bench_regulars_window.py
"""
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import customtkinter

from receiptora import _shop

MAKE = Path(__file__).resolve().parent.parent / "build" / "tests" / "bench" / "bench_regulars"


def switches(widget):
    for child in widget.winfo_children():
        if isinstance(child, customtkinter.CTkSegmentedButton):
            yield child
        yield from switches(child)


def measure(folder):
    figures = {}
    real_mainloop = customtkinter.CTk.mainloop

    def mainloop(app, *args, **kwargs):
        app.update()
        views, period = list(switches(app))

        def timed(switch, value):
            start = time.perf_counter()
            switch.set(value)
            switch._command(value)  # what a click on the segment runs
            app.update()
            return (time.perf_counter() - start) * 1000

        for _ in range(5):
            figures.setdefault("收據 → 常客 本月", []).append(timed(views, "常客"))
            figures.setdefault("本月 → 全年 常客", []).append(timed(period, "全年"))
            figures.setdefault("常客 → 品項 全年", []).append(timed(views, "品項"))
            timed(period, "本月")
            timed(views, "收據")

    customtkinter.CTk.mainloop = mainloop
    _shop.book_window(folder, 2026, 12)
    return figures


def main():
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([str(MAKE), "100000", folder], check=True)
        figures = measure(folder)
    for what, times in figures.items():
        print(f"{what}: median {statistics.median(times):.0f} ms, max {max(times):.0f} ms (5 times)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
