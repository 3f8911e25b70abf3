"""Prints the peak memory (VmHWM) of a process that imports the companion package and the
window and shows the window for two refresh ticks, without a receipt worker, and which of
the renderer's libraries (cairo, pango) it loaded.

    xvfb-run -a -s "-screen 0 1600x1200x24 -dpi 96" .venv/bin/python bench/bench_window_peak.py
"""
import subprocess
import sys

CHILD = r"""
import quillmarkers_model
from bench_window import channels, run_gui
run_gui(lambda app: app.after(1200, app.destroy), *channels())
maps = open("/proc/self/maps").read()
status = dict(line.split(":", 1) for line in open("/proc/self/status"))
print(int(status["VmHWM"].split()[0]), "libcairo.so" in maps, "libpango-1.0.so" in maps)
"""


def main():
    import os
    here = os.path.dirname(os.path.abspath(__file__))
    out = subprocess.run([sys.executable, "-c", CHILD], cwd=here, check=True, capture_output=True, text=True,
                         env=dict(os.environ, PYTHONPATH=here)).stdout.split()
    peak, cairo, pango = int(out[-3]), out[-2] == "True", out[-1] == "True"
    print(f"window alone (companion imported, no worker): peak RSS {peak / 1024:.1f} MiB (target <= 46); "
          f"cairo loaded: {cairo}, pango loaded: {pango}")


if __name__ == "__main__":
    main()
