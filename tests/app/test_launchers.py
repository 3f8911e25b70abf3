"""`receiptora install-launchers`: freedesktop entries and hicolor icons under $XDG_DATA_HOME."""
import configparser
import os
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

import pytest
from PIL import Image

from receiptora.launchers import exec_quote

COMMAND = str(Path(sys.executable).with_name("receiptora"))


@pytest.mark.parametrize("argument, quoted", [
    pytest.param("/usr/bin/receiptora", "/usr/bin/receiptora", id="plain"),
    pytest.param("/home/林 記/bin/receiptora", '"/home/林 記/bin/receiptora"', id="space"),
    pytest.param("/opt/100%/receiptora", "/opt/100%%/receiptora", id="percent"),
    pytest.param('/a"b$c`d\\e', '"/a\\"b\\$c\\`d\\\\e"', id="escaped_in_quotes"),
])
def test_exec_quote(argument, quoted):
    assert exec_quote(argument) == quoted


def test_entries_and_icons_for_both_windows(tmp_path):
    env = dict(os.environ, XDG_DATA_HOME=str(tmp_path))
    result = subprocess.run([COMMAND, "install-launchers"], capture_output=True, text=True, env=env, timeout=60)
    assert result.returncode == 0, result.stderr
    found = {}
    for path in (tmp_path / "applications").glob("*.desktop"):
        parser = configparser.ConfigParser(interpolation=None)
        parser.optionxform = str
        parser.read(path, encoding="utf-8")
        found[parser["Desktop Entry"]["Name"]] = parser["Desktop Entry"]
        if shutil.which("desktop-file-validate"):
            check = subprocess.run(["desktop-file-validate", str(path)], capture_output=True, text=True)
            assert check.returncode == 0, check.stdout + check.stderr
    assert set(found) == {"收據", "收據簿", "賣方資料"}
    assert shlex.split(found["收據"]["Exec"]) == [COMMAND]
    assert shlex.split(found["收據簿"]["Exec"]) == [COMMAND, "book"]
    assert shlex.split(found["賣方資料"]["Exec"]) == [COMMAND, "profile"]
    for entry in found.values():
        for size in (48, 256):
            with Image.open(tmp_path / "icons" / "hicolor" / f"{size}x{size}" / "apps" / f"{entry['Icon']}.png") as icon:
                assert icon.size == (size, size)
