"""The extension modules load only in the main interpreter: a sub-interpreter's import is
refused at once, whichever interpreter imports first (it used to hang)."""
import subprocess
import sys
import textwrap

import pytest


@pytest.mark.parametrize("main_first", [False, True], ids=["sub-first", "main-first"])
@pytest.mark.parametrize("module", ["quillmarkers_model", "receiptora._numbers", "receiptora._render"])
def test_sub_interpreter_is_refused(module, main_first):
    code = textwrap.dedent(f"""
        import importlib
        if {main_first}:
            importlib.import_module({module!r})
        import _xxsubinterpreters as interpreters
        other = interpreters.create()
        try:
            interpreters.run_string(other, "import {module}")
        except Exception as error:
            print(type(error).__name__, error)
        interpreters.destroy(other)
        print(importlib.import_module({module!r}).__name__)
    """)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == [
        f"RunFailedError <class 'ImportError'>: {module} can only be loaded into the main interpreter of the process.",
        module]
