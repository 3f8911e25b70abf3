import datetime
import functools
import os
import pathlib
import subprocess
import sys

import pytest

import quillmarkers_model as quillmarkers

MIB = 1024 * 1024


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


def test_failure_is_logged_with_time_name_and_traceback(model, capsys):
    assert model.try_except_log(fail)() is None
    text = pathlib.Path(model.log_path).read_text(encoding="utf-8")
    head, traceback = text.split("\n", 1)
    stamp = head.split()[1]
    logged_at = datetime.datetime.fromisoformat(stamp)
    assert abs((datetime.datetime.now() - logged_at).total_seconds()) < 60
    assert head.endswith(" fail")
    assert traceback.startswith("Traceback (most recent call last):")
    assert 'in fail\n    raise ValueError("bad amount 三百")' in traceback
    assert "ValueError: bad amount 三百" in traceback
    assert capsys.readouterr().err == text


@pytest.mark.parametrize(
    "function, name",
    [
        (Panel().refresh, "Panel.refresh"),
        (lambda: 1 / 0, "<lambda>"),
        (functools.partial(fail), "functools.partial("),
    ],
)
def test_record_names_the_function(model, function, name, capsys):
    model.try_except_log(function)()
    head = pathlib.Path(model.log_path).read_text(encoding="utf-8").split("\n", 1)[0]
    assert name in head
    capsys.readouterr()


def test_records_are_appended(model, capsys):
    wrapped = model.try_except_log(fail)
    wrapped()
    wrapped()
    assert pathlib.Path(model.log_path).read_text(encoding="utf-8").count("ValueError: bad amount") == 2
    capsys.readouterr()


def test_success_returns_the_result_and_logs_nothing(model, capsys):
    calls = []
    wrapped = model.try_except_log(lambda: calls.append(1) or "done")
    assert wrapped() == "done"
    assert calls == [1]
    assert not os.path.exists(model.log_path)
    assert capsys.readouterr().err == ""


@pytest.mark.parametrize("exception", [KeyboardInterrupt, SystemExit])
def test_interrupt_and_exit_pass_through(model, exception):
    def stop():
        raise exception()

    with pytest.raises(exception):
        model.try_except_log(stop)()
    assert not os.path.exists(model.log_path)


def test_wrapper_looks_like_the_function():
    wrapped = quillmarkers.Try_Except_Model().try_except_log(fail)
    assert wrapped.__name__ == "fail"
    assert wrapped.__wrapped__ is fail
    with pytest.raises(TypeError):
        quillmarkers.Try_Except_Model().try_except_log("not callable")


def test_rotation_moves_a_full_log_aside(model, capsys):
    log = pathlib.Path(model.log_path)
    log.parent.mkdir(parents=True)
    log.write_bytes(b"x" * (MIB - 10))
    model.try_except_log(fail)()
    assert pathlib.Path(f"{log}.1").read_bytes() == b"x" * (MIB - 10)
    assert log.read_text(encoding="utf-8").startswith("=== ")
    capsys.readouterr()


def test_rotation_keeps_three_old_files(model, capsys):
    log = pathlib.Path(model.log_path)
    log.parent.mkdir(parents=True)
    log.write_bytes(b"0" * MIB)
    for n in (1, 2, 3):
        pathlib.Path(f"{log}.{n}").write_bytes(str(n).encode())
    model.try_except_log(fail)()
    assert pathlib.Path(f"{log}.1").read_bytes() == b"0" * MIB
    assert pathlib.Path(f"{log}.2").read_bytes() == b"1"
    assert pathlib.Path(f"{log}.3").read_bytes() == b"2"
    assert not pathlib.Path(f"{log}.4").exists()
    assert "ValueError" in log.read_text(encoding="utf-8")
    capsys.readouterr()


def test_log_under_the_limit_is_not_rotated(model, capsys):
    log = pathlib.Path(model.log_path)
    log.parent.mkdir(parents=True)
    log.write_bytes(b"x" * 1000)
    model.try_except_log(fail)()
    assert not pathlib.Path(f"{log}.1").exists()
    assert log.read_bytes().startswith(b"x" * 1000 + b"=== ")
    capsys.readouterr()


def test_unwritable_folder_still_reports_on_stderr(tmp_path, capsys):
    blocker = tmp_path / "not_a_folder"
    blocker.write_text("a file where the log folder should be")
    model = quillmarkers.Try_Except_Model()
    model.log_path = str(blocker / "error.log")
    assert model.try_except_log(fail)() is None
    assert "ValueError: bad amount 三百" in capsys.readouterr().err
    assert blocker.read_text() == "a file where the log folder should be"


@pytest.mark.parametrize(
    "xdg, expected",
    [
        ("{tmp}/data", "{tmp}/data/quillmarkers/Receiptora/error.log"),
        (None, "{home}/.local/share/quillmarkers/Receiptora/error.log"),
        ("relative/data", "{home}/.local/share/quillmarkers/Receiptora/error.log"),
    ],
)
def test_default_log_path(monkeypatch, tmp_path, xdg, expected):
    home = tmp_path / "home"
    monkeypatch.setenv("HOME", str(home))
    if xdg is None:
        monkeypatch.delenv("XDG_DATA_HOME", raising=False)
    else:
        monkeypatch.setenv("XDG_DATA_HOME", xdg.format(tmp=tmp_path))
    assert quillmarkers.Try_Except_Model().log_path == expected.format(tmp=tmp_path, home=home)


def test_default_folder_is_created_when_writing(monkeypatch, tmp_path, capsys):
    monkeypatch.setenv("XDG_DATA_HOME", str(tmp_path / "data"))
    quillmarkers.Try_Except_Model().try_except_log(fail)()
    assert "ValueError" in (tmp_path / "data/quillmarkers/Receiptora/error.log").read_text(encoding="utf-8")
    capsys.readouterr()


def test_log_path_accepts_a_path_and_reads_back_as_str(tmp_path):
    model = quillmarkers.Try_Except_Model()
    model.log_path = tmp_path / "x.log"
    assert model.log_path == str(tmp_path / "x.log")


def test_kit_objects_need_no_display():
    """The window builds these at import time, before any Tk root exists."""
    code = (
        "import tkinter, quillmarkers_model as q\n"
        "kit = q.Customtkinter_Model()\n"
        "kit.Set_Button(); q.Try_Except_Model().try_except_log(print)\n"
        "assert tkinter._default_root is None\n"
        "print(kit.Set_Button.__name__, kit.Set_Table.__name__, kit.Entry_Table.__name__)\n"
    )
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    done = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["Set_Button", "Set_Table", "Entry_Table"]


@pytest.mark.gui
def test_wrapper_runs_from_tk_after(root, model, capsys):
    ran = []

    def refresh():
        ran.append(1)
        raise RuntimeError("refresh failed")

    root.after(1, model.try_except_log(refresh))
    deadline = datetime.datetime.now() + datetime.timedelta(seconds=5)
    while not ran and datetime.datetime.now() < deadline:
        root.update()
    assert ran == [1]
    assert "RuntimeError: refresh failed" in pathlib.Path(model.log_path).read_text(encoding="utf-8")
    capsys.readouterr()
