"""Loading the GUI module: one module object and one interpreter per process, the classes
bound at load, retrying after a failed load, and the entry function's argument errors.
Each case runs in a fresh interpreter process, since a load lasts for the process."""
import subprocess
import sys
import textwrap

import pytest


def run_python(code):
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                            text=True, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout


def test_second_import_returns_the_same_module_and_companion_objects_are_made_once():
    out = run_python("""
        import sys, quillmarkers_model as q
        calls = []
        for name in ("Customtkinter_Model", "Try_Except_Model"):
            real = getattr(q, name)
            setattr(q, name, lambda real=real, name=name: calls.append(name) or real())
        import GUI
        first = GUI
        del sys.modules["GUI"]
        import GUI
        print(first is GUI, sorted(calls))
    """)
    assert out.strip() == "True ['Customtkinter_Model', 'Try_Except_Model']"


def test_load_binds_the_window_classes_and_no_calendar():
    # The window reads each bound name when it runs (the tests replace os, messagebox, webbrowser,
    # Set_Button … on the module); the order the load binds them in is nothing anyone can see.
    out = run_python("""
        import GUI
        print(GUI.Entry_Table.__module__, GUI.Parameters.__module__, GUI.GUI.__module__)
        print(GUI.Entry_Table.__mro__[1] is GUI.customtkinter_model.Entry_Table)
        print(GUI.datetime.__name__, GUI.Image.__name__, GUI.messagebox.__name__)
        print(hasattr(GUI, "calendar"), GUI.__name__, GUI.__file__.endswith(".so"))
    """)
    modules, base, bound, rest = out.strip().splitlines()
    assert modules == "GUI GUI GUI"
    assert base == "True"
    assert bound == "datetime PIL.Image tkinter.messagebox"
    assert rest == "False GUI True"


SUBINTERPRETER_IMPORT = """
    import _xxsubinterpreters as interpreters
    other = interpreters.create()
    try:
        interpreters.run_string(other, "import GUI")
    except Exception as error:
        print(type(error).__name__, error)
"""


def test_second_interpreter_is_refused():
    out = run_python("import GUI\n" + textwrap.dedent(SUBINTERPRETER_IMPORT))
    assert "ImportError'>: Interpreter change detected - this module can only be loaded into one " \
           "interpreter per process." in out


def test_sub_interpreter_first_is_refused_and_the_main_one_still_loads():
    out = run_python(textwrap.dedent(SUBINTERPRETER_IMPORT) + "import GUI\nprint(callable(GUI.GUI))\n")
    assert out.splitlines() == ["RunFailedError <class 'ImportError'>: Interpreter change detected - this "
                                "module can only be loaded into one interpreter per process.", "True"]


def test_missing_companion_fails_the_import_and_a_later_import_retries():
    out = run_python(textwrap.dedent("""
        import sys, traceback, importlib.abc

        class Hide(importlib.abc.MetaPathFinder):
            def find_spec(self, name, path=None, target=None):
                if name == "quillmarkers_model":
                    raise ModuleNotFoundError("No module named 'quillmarkers_model'", name=name)

        hider = Hide()
        sys.meta_path.insert(0, hider)
        try:
            import GUI
        except ModuleNotFoundError as error:
            print("first:", error)
            print("entry:", any(f.name == "init GUI" for f in traceback.extract_tb(error.__traceback__)))
        print("in sys.modules:", "GUI" in sys.modules)
        sys.meta_path.remove(hider)
        import GUI
        print("second:", callable(GUI.GUI), GUI.customtkinter_model is not None)
    """) + textwrap.dedent(SUBINTERPRETER_IMPORT))
    lines = out.strip().splitlines()
    assert lines[0] == "first: No module named 'quillmarkers_model'"
    assert lines[1] == "entry: True"
    assert lines[2] == "in sys.modules: False"
    assert lines[3] == "second: True True"
    assert "Interpreter change detected" in lines[4]


@pytest.mark.parametrize("call, message", [
    ("GUI.GUI()", "GUI() takes exactly 2 positional arguments (0 given)"),
    ("GUI.GUI(1)", "GUI() takes exactly 2 positional arguments (1 given)"),
    ("GUI.GUI(1, 2, 3)", "GUI() takes exactly 2 positional arguments (3 given)"),
    ("GUI.GUI(Queue_All_variable=1)", "GUI() takes exactly 2 positional arguments (1 given)"),
    ("GUI.GUI(1, queues=2)", "GUI() got an unexpected keyword argument 'queues'"),
    ("GUI.GUI(1, Queue_All_variable=2)", "GUI() got multiple values for keyword argument 'Queue_All_variable'"),
])
def test_wrong_calls_are_refused_before_anything_is_built(call, message):
    import GUI
    with pytest.raises(TypeError) as error:
        eval(call, {"GUI": GUI})
    assert str(error.value) == message
