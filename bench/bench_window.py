"""Prints the window's idle CPU share (also with the app's guards on and the day badge shown),
the refresh tick time and the output press time.

Run on a display (Xvfb is fine):
    xvfb-run -a -s "-screen 0 1600x1200x24 -dpi 96" .venv/bin/python bench/bench_window.py [--seconds 60]

The window runs with seven filled rows and an idle worker. The idle share is measured
twice in one run, each in a fresh process, with the refresh running and with it stopped,
so the figures compare.
"""
import argparse
import json
import os
import queue
import resource
import statistics
import subprocess
import sys
import threading
import time

import customtkinter
import GUI


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def channels():
    queues = {"get_receipt": queue.Queue(), "end": queue.Queue()}
    events = {"get_receipt": threading.Event(), "end": threading.Event()}
    return queues, events


def run_gui(on_start, queues, events):
    """Calls GUI(queues, events); on_start(app) runs when its event loop starts."""
    real_mainloop = customtkinter.CTk.mainloop

    def mainloop(app, *args, **kwargs):
        on_start(app)
        real_mainloop(app, *args, **kwargs)

    customtkinter.CTk.mainloop = mainloop
    try:
        GUI.GUI(queues, events)
    finally:
        customtkinter.CTk.mainloop = real_mainloop


def find(root, kind):
    for child in root.winfo_children():
        if isinstance(child, kind):
            yield child
        yield from find(child, kind)


def time_ticks(tick_times, refresh=True):
    """Makes the window's refresh tick record each run's duration in tick_times (or never run,
    with refresh=False). Returns the real error-log wrapper, for the caller to put back."""
    real_log = GUI.try_except_log

    def timing_log(function):
        wrapped = real_log(function)
        if getattr(function, "__name__", "") != "aa":
            return wrapped
        if not refresh:
            return lambda: None

        def timed():
            start = time.perf_counter()
            wrapped()
            tick_times.append(time.perf_counter() - start)
        return timed

    GUI.try_except_log = timing_log
    return real_log


def show_day_badge(app):
    """Picks a day that is not today in the date window and closes it: the badge shows."""
    button = [b for b in find(app, customtkinter.CTkButton) if b.cget("text") == "" and b.cget("state") == "normal"][1]
    button.invoke()
    today = time.localtime().tm_mday
    day = next(b for b in GUI.calendar.data["日曆按鈕"].values() if b.cget("text") == ("1" if today != 1 else "2"))
    day.invoke()
    day.winfo_toplevel().destroy()


def run(seconds, refresh, measure_press, badge=False):
    """Opens the window, fills seven rows, then measures. Returns the figures."""
    figures = {}
    if badge:
        import quillmarkers_model
        quillmarkers_model.guard_slips(True)
    tick_times = []
    real_log = time_ticks(tick_times, refresh)
    tables = []
    real_table = GUI.Entry_Table
    GUI.Entry_Table = lambda frame: tables.append(real_table(frame)) or tables[-1]
    queues, events = channels()

    def start(app):
        def scenario():
            table = tables[-1]
            keys = table.name_to_random_string
            for row in range(7):
                for title, text in (("商品名稱", f"商品{row}"), ("商品數量", str(row + 1)), ("商品單價", "1_250")):
                    table.entry[keys[title]][row].insert(0, text)
            if badge:
                show_day_badge(app)
            settle_until = time.monotonic() + 2
            while time.monotonic() < settle_until:
                app.update()
                time.sleep(0.01)
            tick_times.clear()
            start_cpu, start_wall = cpu_seconds(), time.monotonic()
            app.after(int(seconds * 1000), lambda: finish(start_cpu, start_wall))

        def finish(start_cpu, start_wall):
            figures["cpu_share"] = (cpu_seconds() - start_cpu) / (time.monotonic() - start_wall)
            if badge:
                figures["badge"] = any(str(label.cget("text")).startswith("收據日期") and label.winfo_ismapped()
                                       for label in find(app, __import__("tkinter").Label))
            if measure_press:
                button = next(b for b in find(app, customtkinter.CTkButton) if b.cget("text") == "輸出單據")
                press = button.cget("command")
                events["get_receipt"].set()  # busy: the press builds the request, prints nothing
                times = []
                for _ in range(int(os.environ.get("PRESSES", "2001"))):
                    t0 = time.perf_counter()
                    press()
                    times.append(time.perf_counter() - t0)
                figures["press_us"] = statistics.median(times) * 1e6
                events["get_receipt"].clear()
            app.destroy()

        app.after(0, scenario)

    try:
        run_gui(start, queues, events)
    finally:
        GUI.try_except_log = real_log
        GUI.Entry_Table = real_table
    if tick_times:
        figures["tick_ms"] = statistics.median(tick_times) * 1e3
        figures["ticks"] = len(tick_times)
    return figures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--phase", choices=["running", "stopped", "badge"])
    args = parser.parse_args()
    if args.phase:
        # One window per process: customtkinter's class-level state carries over between windows.
        figures = run(args.seconds, refresh=args.phase != "stopped", measure_press=args.phase == "running",
                      badge=args.phase == "badge")
        print(json.dumps(figures))
        return
    results = {}
    for phase in ("stopped", "running", "badge"):
        out = subprocess.run([sys.executable, __file__, "--seconds", str(args.seconds), "--phase", phase],
                             check=True, capture_output=True, text=True).stdout
        results[phase] = json.loads(out.strip().splitlines()[-1])
    running, stopped = results["running"], results["stopped"]
    print(f"idle CPU share over {args.seconds:.0f} s, seven filled rows, idle worker: "
          f"{running['cpu_share'] * 100:.3f} % (refresh stopped: {stopped['cpu_share'] * 100:.3f} %)")
    badge = results["badge"]
    print(f"idle CPU share with the app's guards on and the day badge shown ({'shown' if badge.get('badge') else 'NOT shown'}): "
          f"{badge['cpu_share'] * 100:.3f} %")
    print(f"refresh tick: median {running['tick_ms']:.3f} ms over {running['ticks']} ticks")
    print(f"output press (no font check, no print): median {running['press_us']:.1f} us")
    sys.stdout.flush()


if __name__ == "__main__":
    main()
