"""Prints the peak memory (VmHWM) of a process that imports the companion package and the
window and shows the window for two refresh ticks, without a receipt worker, and which of
the renderer's libraries (cairo, pango) it loaded.

    xvfb-run -a -s "-screen 0 1600x1200x24 -dpi 96" .venv/bin/python bench/bench_window_peak.py
"""
import subprocess
import sys

# The child holds only what the window needs: the benchmark's own tools (argparse, json,
# statistics, which bring decimal and fractions) would count about 0.6 MiB towards the window.
CHILD = r"""
import queue, threading
import customtkinter
import quillmarkers_model
import GUI
queues = {"get_receipt": queue.Queue(), "end": queue.Queue()}
events = {"get_receipt": threading.Event(), "end": threading.Event()}
real_mainloop = customtkinter.CTk.mainloop
def mainloop(app, *args, **kwargs):
    app.after(1200, app.destroy)
    real_mainloop(app, *args, **kwargs)
customtkinter.CTk.mainloop = mainloop
GUI.GUI(queues, events)
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
