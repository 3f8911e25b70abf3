"""Prints how many Tk calls building the window takes, and how many its first showing adds.

    xvfb-run -a -s "-screen 0 1600x1200x24 -dpi 96" .venv/bin/python bench/bench_window_start.py

A Tk call is a call of the Tcl interpreter's `call` method, counted by cProfile from the
moment GUI(...) is called until its event loop starts; the first showing is everything Tk
does until the window is on screen and idle (one `update`). The second window in the
process is counted too: fonts, themes and pictures are loaded once, by the first.
"""
import cProfile
import pstats
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


def main():
    for which in ("first", "second"):
        build, show, seconds = open_window()
        print(f"{which} window: {build} Tk calls to build, {show} more to show it "
              f"({build + show} in all); built in {seconds * 1e3:.0f} ms under the profiler")


if __name__ == "__main__":
    main()
