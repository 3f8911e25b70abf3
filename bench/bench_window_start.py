"""Prints how many Tk calls building the window takes, and how many its first showing adds;
then the time from a process's start to its first drawn window, beside a bare customtkinter
window with as many widgets of each class (alternating fresh processes, medians).

    xvfb-run -a -s "-screen 0 1600x1200x24 -dpi 96" .venv/bin/python bench/bench_window_start.py [--pairs 5]

A Tk call is a call of the Tcl interpreter's `call` method, counted by cProfile from the
moment GUI(...) is called until its event loop starts; the first showing is everything Tk
does until the window is on screen and idle (one `update`). The second window in the
process is counted too: fonts, themes and pictures are loaded once, by the first.
"""
import argparse
import ast
import cProfile
import pstats
import statistics
import subprocess
import sys
import time

import customtkinter
import GUI

from bench_window import channels

TK_CALL = "<method 'call' of '_tkinter.tkapp' objects>"


def tk_calls(profile):
    stats = pstats.Stats(profile)
    return sum(calls for (_, _, function), (_, calls, *_) in stats.stats.items() if function == TK_CALL)


def open_window():
    """Builds one window; returns (Tk calls to build, Tk calls to show, seconds to build)."""
    figures = {}
    building = cProfile.Profile()
    real_mainloop = customtkinter.CTk.mainloop

    def mainloop(app, *args, **kwargs):
        building.disable()
        figures["built_s"] = time.perf_counter() - figures["start"]
        showing = cProfile.Profile()
        showing.enable()
        app.update()
        showing.disable()
        figures["build"], figures["show"] = tk_calls(building), tk_calls(showing)
        app.after(0, app.destroy)
        real_mainloop(app, *args, **kwargs)

    customtkinter.CTk.mainloop = mainloop
    try:
        figures["start"] = time.perf_counter()
        building.enable()
        GUI.GUI(*channels())
    finally:
        building.disable()
        customtkinter.CTk.mainloop = real_mainloop
    return figures["build"], figures["show"], figures["built_s"]


# Process start to the first drawn window: the receipt window and, beside it, a bare
# customtkinter window with as many widgets of each class, each in a fresh process.
FIRST_DRAWN = r"""
import ast, sys, time
started = float(sys.argv[2])
import customtkinter, tkinter

def count_widgets(app):
    counts = {}
    def walk(widget):
        for child in widget.winfo_children():
            kind = next((cls for cls in KINDS if isinstance(child, cls)), None)
            if kind is not None:
                counts[kind.__name__] = counts.get(kind.__name__, 0) + 1
            if kind is None or kind is customtkinter.CTkFrame:  # a widget's own parts are not counted
                walk(child)
    walk(app)
    return counts

KINDS = (customtkinter.CTkOptionMenu, customtkinter.CTkCheckBox, customtkinter.CTkSwitch, customtkinter.CTkEntry,
         customtkinter.CTkButton, customtkinter.CTkLabel, customtkinter.CTkFrame, tkinter.Label)

def drawn(app):
    app.update()  # mapped, laid out and drawn
    print(time.monotonic() - started, repr(count_widgets(app)))
    app.destroy()

if sys.argv[1] == "window":
    import queue, threading, GUI
    real_mainloop = customtkinter.CTk.mainloop
    def mainloop(app, *args, **kwargs):
        app.after(0, drawn, app)
        real_mainloop(app, *args, **kwargs)
    customtkinter.CTk.mainloop = mainloop
    GUI.GUI({"get_receipt": queue.Queue(), "end": queue.Queue()},
            {"get_receipt": threading.Event(), "end": threading.Event()})
else:
    counts = ast.literal_eval(sys.argv[3])
    customtkinter.set_appearance_mode("dark")
    app = customtkinter.CTk()
    app.title("bare")
    made = {"CTkOptionMenu": lambda p: customtkinter.CTkOptionMenu(p, values=["一般格式", "貓咪格式"]),
            "CTkCheckBox": lambda p: customtkinter.CTkCheckBox(p, text="免用統一發票章"),
            "CTkSwitch": lambda p: customtkinter.CTkSwitch(p, text="日期"),
            "CTkEntry": lambda p: customtkinter.CTkEntry(p, width=100),
            "CTkButton": lambda p: customtkinter.CTkButton(p, text="輸出單據"),
            "CTkLabel": lambda p: customtkinter.CTkLabel(p, text="商品名稱"),
            "CTkFrame": lambda p: customtkinter.CTkFrame(p, width=100, height=40),
            "Label": lambda p: tkinter.Label(p, text="總額0元")}
    place = 0
    for name, count in counts.items():
        for _ in range(count):
            made[name](app).grid(row=place // 10, column=place % 10)
            place += 1
    app.after(0, drawn, app)
    app.mainloop()
"""


def first_drawn(which, counts=None):
    """Seconds from the process's start to its first drawn window, and the widgets it held."""
    started = time.monotonic()
    out = subprocess.run([sys.executable, "-c", FIRST_DRAWN, which, repr(started), repr(counts)],
                         check=True, capture_output=True, text=True).stdout.split(maxsplit=1)
    return float(out[0]), ast.literal_eval(out[1])


def start_to_first_drawn(pairs):
    window, bare, counts = [], [], None
    for _ in range(pairs):  # alternating, so both see the same machine
        seconds, counts = first_drawn("window")
        window.append(seconds)
        bare.append(first_drawn("bare", counts)[0])
    w, b = statistics.median(window), statistics.median(bare)
    print(f"process start to the first drawn window (median of {pairs}): receipt window {w * 1e3:.0f} ms, "
          f"bare customtkinter window with the same widgets ({sum(counts.values())}: "
          f"{', '.join(f'{n} {k}' for k, n in counts.items())}) {b * 1e3:.0f} ms; ratio {w / b:.2f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pairs", type=int, default=5)
    args = parser.parse_args()
    for which in ("first", "second"):
        build, show, seconds = open_window()
        print(f"{which} window: {build} Tk calls to build (target <= 4500), {show} more to show it "
              f"({build + show} in all); built in {seconds * 1e3:.0f} ms under the profiler")
    start_to_first_drawn(args.pairs)


if __name__ == "__main__":
    main()
