"""Print hand-over: from the call that 列印 and `receiptora print` make to the job accepted by
CUPS (target ≤ 100 ms). Needs a running scheduler with a default printer (scripts/start_cups).

    .venv/bin/python bench/bench_print.py [ROUNDS]
"""
import json
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from receiptora import _shop


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 30
    with tempfile.TemporaryDirectory() as folder:
        request = {"版本": "一般格式", "買受人": "林記茶行", "買受人統一編號": "22099131", "品名": ["烏龍茶"] * 7,
                   "數量": [2] * 7, "單件價格": [350] * 7, "存檔路徑": "/ignored/", "顯示免用統一發票章": True,
                   "顯示負責人章": True, "顯示日期": True, "年": 2026, "月": 12, "日": 7}
        Path(folder, "r.json").write_text(json.dumps(request), encoding="utf-8")
        subprocess.run([str(Path(sys.executable).with_name("receiptora")), "render", "-o", folder,
                        str(Path(folder, "r.json"))], check=True, capture_output=True)
        times = []
        for _ in range(rounds):
            start = time.perf_counter()
            _shop.print_receipts(folder, ["20261207-001"])
            times.append((time.perf_counter() - start) * 1000)
    times.sort()
    print(f"print hand-over over {rounds} jobs: median {statistics.median(times):.1f} ms, "
          f"90th percentile {times[int(len(times) * 0.9) - 1]:.1f} ms, max {times[-1]:.1f} ms (target ≤ 100 ms)")


if __name__ == "__main__":
    main()
