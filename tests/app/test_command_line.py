"""The `receiptora` command line: its version, its help texts and the local help page."""
import os
import re
import subprocess
import sys
from importlib import metadata
from pathlib import Path

import pytest

COMMAND = str(Path(sys.executable).with_name("receiptora"))


def run(*args, env=None):
    return subprocess.run([COMMAND, *args], capture_output=True, text=True, timeout=60,
                          env=dict(os.environ, **(env or {})))


@pytest.mark.parametrize("args, expected", [
    (["--version"], [f"receiptora {metadata.version('receiptora')}\n"]),
    (["--help"], ["用法 · usage: receiptora", "render", "help", "--version", "選項 · options"]),
    (["render", "--help"], ["收據, 買受人, 統一編號, 日期, 品名, 數量, 單價", "一般格式／貓咪格式",
                            "顯示日期, 顯示免用統一發票章, 顯示負責人章", "2026-12-07", "民國 115/12/07",
                            "--output", "--jobs"]),
])
def test_texts(args, expected):
    result = run(*args)
    assert result.returncode == 0, result.stderr
    for part in expected:
        assert part in result.stdout


def test_help_opens_the_installed_copy_of_the_help_page(tmp_path):
    opened, browser = tmp_path / "opened", tmp_path / "browser.py"
    browser.write_text(f"import sys\nopen({str(opened)!r}, 'w').write(sys.argv[1])\n")
    result = run("help", env={"BROWSER": f"{sys.executable} {browser} %s"})
    assert result.returncode == 0, result.stderr
    page = Path(result.stdout.strip())
    assert opened.read_text() == page.as_uri() and page.suffix == ".html"
    text = page.read_text(encoding="utf-8")
    for section in ("賣方資料", "收據清冊", "receiptora render", "收據簿", "列印", '<meta charset="utf-8">'):
        assert section in text
    from receiptora.__main__ import COMMANDS
    table = text[text.index("命令列"):]
    table = table[:table.index("</table>")]
    listed = re.findall(r"<code>receiptora ([a-z][a-z-]*)", table)
    assert sorted(listed) == sorted(c.name for c in COMMANDS)  # each command once, none missing
    assert "--month 115-12 | --quarter 115Q4" in table  # a pipe inside a cell stays a pipe
