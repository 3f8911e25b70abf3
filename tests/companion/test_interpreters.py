"""The companion package loads only in the main interpreter: a sub-interpreter's import is
refused at once, whichever interpreter imports first (it used to hang)."""
import subprocess
import sys
import textwrap

import pytest

REFUSED = "<class 'ImportError'>: quillmarkers_model can only be loaded into the main interpreter of the process."


@pytest.mark.parametrize("main_first", [False, True], ids=["sub-first", "main-first"])
def test_sub_interpreter_is_refused(main_first):
    code = textwrap.dedent(f"""
        if {main_first}:
            import quillmarkers_model
        import _xxsubinterpreters as interpreters
        other = interpreters.create()
        try:
            interpreters.run_string(other, "import quillmarkers_model")
        except Exception as error:
            print(type(error).__name__, error)
        interpreters.destroy(other)
        import quillmarkers_model
        quillmarkers_model.Try_Except_Model()
        print("main still works")
    """)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == ["RunFailedError " + REFUSED, "main still works"]
