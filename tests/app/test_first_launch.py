"""A new user's first launch of the app looks like every later one: two launches with one
fresh home folder, screenshots compared pixel by pixel."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest
from PIL import ImageChops

from app_window import alike, wait_until_still

pytestmark = [pytest.mark.gui,
              pytest.mark.skipif(shutil.which("xdotool") is None or shutil.which("import") is None,
                                 reason="xdotool and ImageMagick's import are needed")]


def launch_and_shoot(home):
    """Starts the `receiptora` command, waits for its window to settle and returns a screenshot."""
    env = dict(os.environ, HOME=str(home), XDG_DATA_HOME=str(home / "data"))
    command = Path(sys.executable).with_name("receiptora")
    app = subprocess.Popen([str(command)], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        found = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "Receiptora"],
                               check=True, capture_output=True, text=True, timeout=60).stdout.split()
        return wait_until_still(found[0])
    finally:
        app.terminate()
        app.communicate(timeout=30)


def test_first_launch_looks_like_the_second(tmp_path):
    home = tmp_path / "home"
    (home / "quillmarkers" / "Receiptora").mkdir(parents=True)
    (home / "quillmarkers" / "Receiptora" / "賣方資料.toml").write_text('"商號名稱" = "林記茶行"\n')  # no profile form first
    first = launch_and_shoot(home)
    second = launch_and_shoot(home)
    assert first.size == second.size
    assert alike(first, second), f"the launches differ over {ImageChops.difference(first, second).getbbox()}"
