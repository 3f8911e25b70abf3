"""The batch command's stamps: a CSV without the stamp columns stamps what the shop's seller
profile can draw; a shop without a name issues nothing."""
import os
import subprocess
import sys
from pathlib import Path

import pytest

COMMAND = str(Path(sys.executable).with_name("receiptora"))
ITEMS = "收據,買受人,統一編號,日期,品名,數量,單價\nA001,林記茶行,22099131,2026-12-07,凍頂烏龍茶,2,350\n"


@pytest.mark.parametrize("profile, stamped, seal", [
    ('"商號名稱" = "喵喵文具行"\n"負責人" = "王小明"\n', True, True),
    ('"商號名稱" = "喵喵文具行"\n', True, False),
    ("", False, False),
])
def test_empty_stamp_columns_follow_the_profile(tmp_path, profile, stamped, seal):
    out, home = tmp_path / "out", tmp_path / "home"
    out.mkdir()
    home.mkdir()
    if profile:
        (out / "賣方資料.toml").write_text(profile, encoding="utf-8")
    (tmp_path / "items.csv").write_text(ITEMS, encoding="utf-8")
    env = dict(os.environ, HOME=str(home), LANG="C.UTF-8")
    env.pop("DBUS_SESSION_BUS_ADDRESS", None)
    done = subprocess.run([COMMAND, "render", str(tmp_path / "items.csv"), "--output", str(out)], env=env,
                          capture_output=True, text=True, timeout=120)
    pdf = out / "2026-12" / "收據-20261207-001.pdf"
    if not profile:  # no 商號名稱: no receipt, no number
        assert done.returncode == 1 and "請先填寫賣方資料（receiptora profile）" in done.stderr, done.stderr
        assert not pdf.parent.exists() or not any(pdf.parent.iterdir())
        return
    assert done.returncode == 0, done.stderr
    text = subprocess.run(["pdftotext", str(pdf), "-"], capture_output=True, text=True).stdout.replace(" ", "")
    assert ("免用統一發票專用章" in text) == stamped
    assert ("王小明印" in text) == seal
    assert "未蓋免用統一發票章" not in done.stderr, done.stderr
