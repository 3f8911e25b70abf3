"""Prints how long after a receipt's files are saved its desktop notification reaches the
notification server: a private session bus (dbus-daemon) and a small server on it, the
receipt worker in this process.

    .venv/bin/python bench/bench_notify.py   (needs dbus-daemon and jeepney)
"""
import os
import queue
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

RECEIPTS = 20

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "companion"))
from test_notifications import NotificationServer, request  # noqa: E402


def main():
    daemon = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"],
                            capture_output=True, text=True, check=True)
    address, pid = daemon.stdout.split()
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = address  # read when the worker sends its first notice
    server = NotificationServer(address)
    arrivals = server.arrivals
    try:
        import quillmarkers_model
        with tempfile.TemporaryDirectory() as home:
            os.environ["HOME"] = home
            folder = Path(home) / "out"
            requests, busy = queue.Queue(), threading.Event()
            worker = quillmarkers_model.Receipt_Worker(requests, busy)
            worker.start()
            delays = []
            for i in range(RECEIPTS):
                requests.put(request(folder))
                deadline = time.monotonic() + 30
                while len(arrivals) <= i and time.monotonic() < deadline:
                    time.sleep(0.001)
                saved = (folder / "收據清冊.csv").stat().st_mtime_ns  # the ledger line is written last
                delays.append((arrivals[i] - saved) / 1e6)
            requests.put(None)
            worker.join(30)
    finally:
        server.close()
        os.kill(int(pid), 15)
    print(f"notification after the files are saved: median {statistics.median(delays):.2f} ms, "
          f"max {max(delays):.2f} ms over {RECEIPTS} receipts")


if __name__ == "__main__":
    main()
