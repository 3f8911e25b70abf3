"""The window alone loads no renderer: the worker and the batch issue come from their own
module, imported when quillmarkers_model is first asked for them."""
import subprocess
import sys

CHILD = r"""
import quillmarkers_model, GUI
def loaded():
    maps = open("/proc/self/maps").read()
    return "libcairo.so" in maps or "libpango-1.0.so" in maps
before = loaded()
worker = quillmarkers_model.Receipt_Worker
print(before, loaded(), worker.__module__, quillmarkers_model.issue_receipts.__name__)
"""


def test_window_and_companion_import_without_the_renderer_until_a_worker_is_asked_for():
    result = subprocess.run([sys.executable, "-c", CHILD], capture_output=True, text=True, timeout=60)
    assert result.stdout.split() == ["False", "True", "receiptora._worker", "issue_receipts"], result.stderr
