"""Prints how much the process grows over repeated GUI calls (open, close, ... 20 times).

    xvfb-run -a -s "-screen 0 1600x1200x24 -dpi 96" .venv/bin/python bench/bench_window_memory.py
(OPENINGS=60 in the environment for a longer run.)
"""
import gc
import os

from bench_window import channels, run_gui

OPENINGS = int(os.environ.get("OPENINGS", "20"))


def rss_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def open_and_close():
    # Two refresh ticks, then the operator closes the window.
    run_gui(lambda app: app.after(1200, app.destroy), *channels())


def main():
    open_and_close()  # the first opening loads fonts, themes and pictures once
    gc.collect()
    base = rss_kib()
    sizes = []
    for _ in range(OPENINGS):
        open_and_close()
        gc.collect()
        sizes.append(rss_kib())
    print("RSS after each opening (MiB):", " ".join(f"{s / 1024:.1f}" for s in sizes))
    first_half, second_half = sizes[:OPENINGS // 2], sizes[OPENINGS // 2:]
    print(f"RSS after the first window {base / 1024:.1f} MiB; over {OPENINGS} more openings "
          f"min {min(sizes) / 1024:.1f}, max {max(sizes) / 1024:.1f} MiB; mean of the last ten minus "
          f"mean of the first ten: {(sum(second_half) / len(second_half) - sum(first_half) / len(first_half)) / 1024:+.2f} MiB")

if __name__ == "__main__":
    main()
