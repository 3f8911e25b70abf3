"""Prints how much the process grows over repeated GUI calls (open, close, ... 20 times).

    xvfb-run -a -s "-screen 0 1600x1200x24 -dpi 96" .venv/bin/python bench/bench_window_memory.py
"""
import gc
import queue
import threading

import customtkinter
import GUI

OPENINGS = 20


def rss_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def open_and_close():
    queues = {"get_receipt": queue.Queue(), "end": queue.Queue()}
    events = {"get_receipt": threading.Event(), "end": threading.Event()}
    real_mainloop = customtkinter.CTk.mainloop

    def mainloop(app, *args, **kwargs):
        app.after(1200, app.destroy)  # two refresh ticks, then the operator closes it
        real_mainloop(app, *args, **kwargs)

    customtkinter.CTk.mainloop = mainloop
    try:
        GUI.GUI(queues, events)
    finally:
        customtkinter.CTk.mainloop = real_mainloop


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
    print(f"RSS after the first window: {base / 1024:.1f} MiB; after {OPENINGS} more: "
          f"{sizes[-1] / 1024:.1f} MiB (growth {(sizes[-1] - base) / 1024:.2f} MiB, "
          f"last 10: {(sizes[-1] - sizes[9]) / 1024:.2f} MiB)")


if __name__ == "__main__":
    main()
