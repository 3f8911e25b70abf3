"""Prints the receipt figures: press to both files on disk (first receipt after the app starts
and later ones, and the same with the app's guards for the operator's slips: its hand-over
queue, the answers to the window's toast), the window's refresh tick while the worker renders a
batch, and the batch command's receipts per second.

Run on a display (Xvfb is fine):
    xvfb-run -a -s "-screen 0 1600x1200x24 -dpi 96" .venv/bin/python bench/bench_receipts.py

Each phase runs in a fresh process with HOME in a temporary folder, so receipts land there.
"""
import argparse
import datetime
import json
import os
import queue
import statistics
import subprocess
import sys
import tempfile
import threading
import time

LATER_PRESSES = 20
BATCH = 400
PROFILE = '"商號名稱" = "林記茶行"\n"統一編號" = "22099131"\n"負責人" = "林大明"\n"地址" = "台北市"\n'


def sample_request(folder, i):
    today = datetime.date.today()
    return {"版本": "一般格式", "買受人": f"買受人{i}", "買受人統一編號": "22099131",
            "品名": [f"商品{n}" for n in range(7)], "數量": [n + 1 for n in range(7)],
            "單件價格": [1250] * 7, "存檔路徑": folder, "顯示免用統一發票章": True, "顯示負責人章": True,
            "顯示日期": True, "年": today.year, "月": today.month, "日": today.day}


def cpu_seconds():
    import resource
    usage = resource.getrusage(resource.RUSAGE_SELF)  # every thread of the process
    return usage.ru_utime + usage.ru_stime


def output_folder():
    return os.path.expanduser("~") + "/quillmarkers/Receiptora/"


def receipt_files(n):
    today = datetime.date.today()
    stem = f"{output_folder()}{today:%Y-%m}/收據-{today:%Y%m%d}-{n:03d}"
    return stem + ".pdf", stem + ".png"


def wait_for(paths, timeout=30.0):
    end = time.monotonic() + timeout
    while not all(os.path.exists(p) for p in paths):
        if time.monotonic() > end:
            raise TimeoutError(paths)
        time.sleep(0.0002)


def wait_for_ledger_line(n, timeout=30.0):
    """The journal's last step: the record is issued in the book before its ledger line is out."""
    today = datetime.date.today()
    number = f"收據-{today:%Y%m%d}-{n:03d}".encode()
    ledger = output_folder() + "收據清冊.csv"
    end = time.monotonic() + timeout
    while True:
        try:
            with open(ledger, "rb") as f:
                if number in f.read():
                    return
        except FileNotFoundError:
            pass
        if time.monotonic() > end:
            raise TimeoutError(number)
        time.sleep(0.0002)


def window_phase(phase):
    """Runs the window with the real worker; measures presses or ticks inside its event loop."""
    import customtkinter
    import GUI
    import quillmarkers_model
    from bench_window import find, run_gui, time_ticks

    queues = {"get_receipt": queue.Queue(), "end": queue.Queue()}
    events = {"get_receipt": threading.Event(), "end": threading.Event()}
    feedback = None
    if phase == "guarded":  # as the app runs it
        from receiptora.hand_over import ReceiptQueue
        quillmarkers_model.guard_slips(True)
        queues["get_receipt"], feedback = ReceiptQueue(on_put=quillmarkers_model.expect), quillmarkers_model.answer
    worker = quillmarkers_model.Receipt_Worker(queues["get_receipt"], events["get_receipt"], feedback=feedback)
    figures, tick_times = {}, []
    real_log = time_ticks(tick_times)

    def start(app):
        button = next(b for b in find(app, customtkinter.CTkButton) if b.cget("text") == "輸出單據")

        def pump_until(done):
            while not done():
                app.update()
                time.sleep(0.0005)

        # One item row, its price changed at each press (a total of 0 is refused, and the same
        # request twice within 2 s is one press): the entries after the two buyer fields.
        row = list(find(app, customtkinter.CTkEntry))[2:5]

        def presses():
            times = []
            for n in range(1, LATER_PRESSES + 2):
                pump_until(lambda: not events["get_receipt"].is_set())
                for entry, text in zip(row, ("商品", "1", str(1000 + n))):
                    entry.delete(0, "end")
                    entry.insert(0, text)
                t0 = time.perf_counter()
                button.invoke()
                wait_for(receipt_files(n))
                wait_for_ledger_line(n)
                times.append(time.perf_counter() - t0)
            figures["first_ms"] = times[0] * 1e3
            figures["later_ms"] = statistics.median(times[1:]) * 1e3
            app.destroy()

        def ticks():
            for i in range(BATCH):
                queues["get_receipt"].put(sample_request(output_folder(), i))
            tick_times.clear()
            pump_until(lambda: queues["get_receipt"].qsize() == 0)
            figures["tick_ms"] = statistics.median(tick_times) * 1e3
            figures["ticks"] = len(tick_times)
            app.destroy()

        app.after(0, ticks if phase == "tick" else presses)

    worker.start()
    try:
        run_gui(start, queues, events)
    finally:
        GUI.try_except_log = real_log
    worker.join(120)
    return figures


def render_only_per_s(requests, jobs):
    """The renderer alone (no numbers, no files) on `jobs` threads: the ceiling for the batch."""
    from concurrent.futures import ThreadPoolExecutor
    from receiptora import _render
    seller = {"商號名稱": "林記茶行", "統一編號": "22099131", "負責人": "林大明", "地址": "", "電話": ""}

    def both(request):
        _render.render_both(request, "收據-20261207-001", seller)
    t0 = time.perf_counter()
    with ThreadPoolExecutor(jobs) as pool:
        list(pool.map(both, requests))
    return len(requests) / (time.perf_counter() - t0)


def batch_phase():
    import quillmarkers_model
    folder = output_folder()
    requests = [sample_request(folder, i) for i in range(BATCH)]
    ceiling = render_only_per_s(requests, os.cpu_count() or 1)
    t0, cpu0 = time.perf_counter(), cpu_seconds()
    results, _ = quillmarkers_model.issue_receipts(requests, jobs=os.cpu_count() or 1)
    seconds, cpu = time.perf_counter() - t0, cpu_seconds() - cpu0
    assert all(isinstance(r, str) for r in results), results[:3]

    # The command itself, from a CSV file of seven-item receipts.
    csv_path = os.path.join(os.path.expanduser("~"), "items.csv")
    with open(csv_path, "w", encoding="utf-8") as f:
        f.write("收據,買受人,統一編號,日期,品名,數量,單價\n")
        for i in range(BATCH):
            for n in range(7):
                f.write(f"R{i},買受人{i},22099131,,商品{n},{n + 1},1250\n")
    command = os.path.join(os.path.dirname(sys.executable), "receiptora")
    t1 = time.perf_counter()
    subprocess.run([command, "render", csv_path], check=True, capture_output=True)
    command_seconds = time.perf_counter() - t1
    return {"batch_per_s": BATCH / seconds, "cpu_ms": cpu / BATCH * 1e3, "command_per_s": BATCH / command_seconds, "render_per_s": ceiling}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--phase", choices=["press", "guarded", "tick", "batch"])
    args = parser.parse_args()
    if args.phase:
        os.makedirs(output_folder(), exist_ok=True)  # a shop that named itself: nothing is issued before
        with open(output_folder() + "賣方資料.toml", "w", encoding="utf-8") as profile:
            profile.write(PROFILE)
        figures = batch_phase() if args.phase == "batch" else window_phase(args.phase)
        print(json.dumps(figures))
        return
    results = {}
    for phase in ("press", "guarded", "tick", "batch"):
        with tempfile.TemporaryDirectory() as home:
            env = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(home, "data"))
            out = subprocess.run([sys.executable, __file__, "--phase", phase], env=env, check=True,
                                 capture_output=True, text=True).stdout
        results[phase] = json.loads(out.strip().splitlines()[-1])
    press, guarded, tick, batch = results["press"], results["guarded"], results["tick"], results["batch"]
    print(f"press to PDF and PNG on disk, the book record and the ledger line: first receipt after start {press['first_ms']:.1f} ms, "
          f"later ones median {press['later_ms']:.1f} ms over {LATER_PRESSES}")
    print(f"the same with the app's guards (hand-over queue, answers to the window): first {guarded['first_ms']:.1f} ms, "
          f"later ones median {guarded['later_ms']:.1f} ms (guards add {guarded['later_ms'] - press['later_ms']:+.1f} ms)")
    print(f"refresh tick while the worker renders {BATCH} receipts: median {tick['tick_ms']:.3f} ms "
          f"over {tick['ticks']} ticks")
    print(f"batch, {BATCH} seven-item receipts, both files: issue_receipts {batch['batch_per_s']:.0f}/s, "
          f"`receiptora render` from CSV {batch['command_per_s']:.0f}/s (process start included); "
          f"the renderer alone on {os.cpu_count()} threads: {batch['render_per_s']:.0f}/s")
    cores = os.cpu_count() or 1
    print(f"batch CPU time per receipt: {batch['cpu_ms']:.1f} ms, so {cores} idle cores would make "
          f"{cores * 1000 / batch['cpu_ms']:.0f}/s (the figures above depend on the machine's other load)")


if __name__ == "__main__":
    main()
