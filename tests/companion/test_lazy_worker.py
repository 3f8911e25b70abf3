"""The window alone loads what it uses: no renderer, no book, no hashing and no D-Bus. The
worker and the batch issue come from their own module, imported when quillmarkers_model is
first asked for them; the window's desktop notice from receiptora._notify, on the first one."""
import json
import subprocess
import sys

CHILD = r"""
import json, quillmarkers_model, GUI
LIBRARIES = ("libcairo.so", "libpango-1.0.so", "libcrypto.so", "libsqlite3.so", "libglib-2.0.so",
             "libgio-2.0.so", "libgobject-2.0.so")
def loaded():
    maps = open("/proc/self/maps").read()
    return [library for library in LIBRARIES if library in maps]
seen = {"window": loaded()}
import receiptora._notify
seen["notice"] = loaded()
worker = quillmarkers_model.Receipt_Worker
seen["worker"] = loaded()
seen["names"] = [worker.__module__, quillmarkers_model.issue_receipts.__name__]
print(json.dumps(seen))
"""


def test_the_window_maps_no_renderer_book_hashing_or_dbus_until_they_are_asked_for():
    result = subprocess.run([sys.executable, "-c", CHILD], capture_output=True, text=True, timeout=60)
    seen = json.loads(result.stdout.splitlines()[-1])
    assert seen["window"] == [], result.stderr
    assert set(seen["notice"]) == {"libglib-2.0.so", "libgio-2.0.so", "libgobject-2.0.so"}
    assert {"libcairo.so", "libpango-1.0.so", "libsqlite3.so"} <= set(seen["worker"])
    assert seen["names"] == ["receiptora._worker", "issue_receipts"]
