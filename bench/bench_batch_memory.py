"""Prints the batch command's peak memory on a long sheet: reading a 100,000-row CSV into
orders (100,000 one-line orders), and `receiptora render` of a 100,000-row CSV (10,000
orders of ten items each), each in a fresh process; `receiptora render` of a 100 MB sheet whose
every line is refused (a 統一編號 cut short, as a spreadsheet does to leading zeros; target
peak ≤ 150 MB, the result table and the error log bounded); and how a 200 MB file is answered.

    .venv/bin/python bench/bench_batch_memory.py [--rows 100000]
"""
import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time
from pathlib import Path

COMMAND = str(Path(sys.executable).with_name("receiptora"))
HEADER = "收據,買受人,統一編號,日期,品名,數量,單價,備註\n"


def write_sheet(path, rows, items_per_order):
    with open(path, "w", encoding="utf-8") as f:
        f.write(HEADER)
        for row in range(rows):
            order = row // items_per_order
            f.write(f"A{order:06d},林記茶行 {order},22099131,2026-12-{1 + order % 28:02d},"
                    f"凍頂烏龍茶 150g 第 {row % items_per_order} 項,\"1,{row % 1000:03d}\",350,宅配\n")


def child_peak_mb(args, env=None):
    """Runs args as a child; returns (seconds, its peak resident memory in MB, the result)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    start = time.perf_counter()
    result = subprocess.run(args, capture_output=True, text=True, env=env)
    seconds = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    return seconds, max(peak, before) / 1024, result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, default=100_000)
    rows = parser.parse_args().rows
    with tempfile.TemporaryDirectory() as folder:
        folder = Path(folder)
        env = dict(os.environ, HOME=str(folder), XDG_DATA_HOME=str(folder / "data"))
        # First: the peak a process reports is the highest of all children so far.
        refused = folder / "refused.csv"
        with open(refused, "w", encoding="utf-8") as f:
            f.write(HEADER)
            line, n = 0, len(HEADER.encode())
            while n < 100 * 1024 * 1024 - 200:
                text = f"R{line:07d},林記茶行 {line},4595257,2026-12-07,凍頂烏龍茶 150g,1,350,宅配\n"
                f.write(text)
                n += len(text.encode())
                line += 1
        out = folder / "refused-out"
        seconds, peak, result = child_peak_mb([COMMAND, "render", "--output", str(out), str(refused)], env)
        table = max((p.stat().st_size for p in out.glob("開立結果-*.csv")), default=0)
        log = folder / "data" / "quillmarkers" / "Receiptora" / "error.log"
        print(f"render of {n / 1024 / 1024:.0f} MB, {line:,} lines all refused: {seconds:.1f} s, peak {peak:.0f} MB "
              f"(target ≤ 150 MB), result table {table / 1024:.0f} kB, error log "
              f"{log.stat().st_size / 1024 if log.exists() else 0:.0f} kB (exit {result.returncode})")

        single = folder / "single.csv"
        write_sheet(single, rows, 1)
        reading = ("import sys\nfrom receiptora import orders\n"
                   "n = sum(1 for o in orders.read_files([sys.argv[1]], '/out/') if o.request)\nprint(n)")
        seconds, peak, result = child_peak_mb([sys.executable, "-c", reading, str(single)], env)
        print(f"read {rows:,} rows as {result.stdout.strip()} orders: {seconds:.1f} s, peak {peak:.0f} MB")

        ten = folder / "ten.csv"
        write_sheet(ten, rows, 10)
        seconds, peak, result = child_peak_mb([COMMAND, "render", "--output", str(folder / "out"), str(ten)], env)
        print(f"render {rows:,} rows ({rows // 10:,} receipts of 10 items): {seconds:.1f} s, "
              f"{rows / 10 / seconds:.0f} receipts/s, peak {peak:.0f} MB (exit {result.returncode})")

        big = folder / "big.csv"
        with open(big, "wb") as f:
            f.truncate(200 * 1024 * 1024)
        seconds, _, result = child_peak_mb([COMMAND, "render", "--output", str(folder / "out"), str(big)], env)
        print(f"a 200 MB file: {seconds:.2f} s, exit {result.returncode}: {result.stderr.strip().splitlines()[0]}")


if __name__ == "__main__":
    main()
