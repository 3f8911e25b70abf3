import datetime
import functools
import os
import pathlib
import subprocess
import sys

import pytest

import quillmarkers_model as quillmarkers

@pytest.fixture
def model(tmp_path):
    m = quillmarkers.Try_Except_Model()
    m.log_path = str(tmp_path / "logs" / "error.log")
    return m


def fail():
    raise ValueError("bad amount 三百")


class Panel:
    def refresh(self):
        raise KeyError("買受人")


def test_failure_is_logged_and_written_to_stderr(model, capsys):
    wrapped = model.try_except_log(fail)
    assert wrapped() is None and wrapped() is None
    text = pathlib.Path(model.log_path).read_text(encoding="utf-8")
    head, rest = text.split("\n", 1)
    logged_at = datetime.datetime.fromisoformat(head.split()[1])
    assert abs((datetime.datetime.now() - logged_at).total_seconds()) < 60
    assert head.endswith(" fail")
    assert rest.startswith("Traceback (most recent call last):")
    assert 'in fail\n    raise ValueError("bad amount 三百")' in rest
    assert text.count("ValueError: bad amount 三百") == 2  # appended, not overwritten
    assert capsys.readouterr().err == text


@pytest.mark.parametrize("function, name", [
    (Panel().refresh, " Panel.refresh\n"),
    (functools.partial(fail), " functools.partial("),
    (quillmarkers.Try_Except_Model().try_except_log, " try_except_log\n"),  # a C++ function, called without its argument
])
def test_record_names_the_function(model, function, name, capsys):
    model.try_except_log(function)()
    assert name in pathlib.Path(model.log_path).read_text(encoding="utf-8")
    capsys.readouterr()


def test_success_returns_the_result_and_logs_nothing(model, capsys):
    wrapped = model.try_except_log(lambda: "done")
    assert wrapped() == "done"
    assert wrapped.__name__ == "<lambda>"  # tkinter's after() needs a name
    assert not os.path.exists(model.log_path)
    assert capsys.readouterr().err == ""
    with pytest.raises(TypeError):
        model.try_except_log("not callable")


@pytest.mark.parametrize("exception", [KeyboardInterrupt, SystemExit])
def test_interrupt_and_exit_pass_through(model, exception):
    def stop():
        raise exception()

    with pytest.raises(exception):
        model.try_except_log(stop)()
    assert not os.path.exists(model.log_path)


def test_unwritable_folder_still_reports_on_stderr(tmp_path, capsys):
    blocker = tmp_path / "not_a_folder"
    blocker.write_text("a file where the log folder should be")
    model = quillmarkers.Try_Except_Model()
    model.log_path = blocker / "error.log"  # a path object reads back as str
    assert model.log_path == str(blocker / "error.log")
    assert model.try_except_log(fail)() is None
    assert "ValueError: bad amount 三百" in capsys.readouterr().err


def test_default_log_path_is_used(monkeypatch, tmp_path, capsys):
    """The path rule has its table in core/tests; the log object starts from it."""
    monkeypatch.setenv("HOME", str(tmp_path))
    monkeypatch.delenv("XDG_DATA_HOME", raising=False)
    model = quillmarkers.Try_Except_Model()
    assert model.log_path == f"{tmp_path}/.local/share/quillmarkers/Receiptora/error.log"
    model.try_except_log(fail)()
    assert "ValueError" in pathlib.Path(model.log_path).read_text(encoding="utf-8")
    capsys.readouterr()


def test_kit_objects_need_no_display():
    """The window builds these at import time, before any Tk root exists."""
    code = (
        "import tkinter, quillmarkers_model as q\n"
        "kit = q.Customtkinter_Model()\n"
        "kit.Set_Button(); q.Try_Except_Model().try_except_log(print)\n"
        "assert tkinter._default_root is None\n"
        "print(*(c.__name__ for c in (kit.Set_Button, kit.Set_Table, kit.Entry_Table, kit.CTkCalendar)))\n"
    )
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    done = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["Set_Button", "Set_Table", "Entry_Table", "CTkCalendar"]


@pytest.mark.gui
def test_wrapper_runs_from_tk_after(root, model, capsys):
    ran = []

    def refresh():
        ran.append(1)
        raise RuntimeError("refresh failed")

    root.after(1, model.try_except_log(refresh))
    for _ in range(200):
        if ran:
            break
        root.after(10)
        root.update()
    assert ran == [1]
    assert "RuntimeError: refresh failed" in pathlib.Path(model.log_path).read_text(encoding="utf-8")
    capsys.readouterr()


def test_exception_without_traceback_is_logged(model, capsys):
    # int() raises from C with no Python frame in between: the record has no traceback lines.
    model.try_except_log(functools.partial(int, "三百"))()
    assert "ValueError: invalid literal for int() with base 10: '三百'" in pathlib.Path(model.log_path).read_text(encoding="utf-8")
    capsys.readouterr()
