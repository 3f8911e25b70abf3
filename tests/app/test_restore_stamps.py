"""A backup restored on another computer stamps its receipts with the shop's pictures: the
profile names them inside the output folder, not where they were first chosen."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

from PIL import Image

COMMAND = str(Path(sys.executable).with_name("receiptora"))
ITEMS = "收據,買受人,統一編號,日期,品名,數量,單價\n{order},林記茶行,22099131,2026-12-07,凍頂烏龍茶,2,350\n"


def receiptora(*args, home, cwd):
    env = dict(os.environ, HOME=str(home), LANG="C.UTF-8")
    for name in ("DBUS_SESSION_BUS_ADDRESS", "XDG_DATA_HOME", "XDG_CONFIG_HOME"):
        env.pop(name, None)
    return subprocess.run([COMMAND, *args], env=env, cwd=cwd, capture_output=True, text=True, timeout=180)


def pictures_in(pdf):
    """The stamp pictures (60 × 60 pixels, as made below) the PDF holds."""
    listed = subprocess.run(["pdfimages", "-list", str(pdf)], capture_output=True, text=True, check=True).stdout
    return sum(1 for line in listed.splitlines()[2:] if line.split()[3:5] == ["60", "60"])


def issue(tmp_path, home, order):
    items = tmp_path / f"{order}.csv"
    items.write_text(ITEMS.format(order=order), encoding="utf-8")
    return receiptora("render", str(items), home=home, cwd=tmp_path)


def test_a_backup_restored_on_a_new_home_issues_stamped_receipts(tmp_path):
    old_home, new_home = tmp_path / "old", tmp_path / "new"
    pictures = old_home / "圖片"
    pictures.mkdir(parents=True)
    for name, colour in (("免用章.png", "red"), ("負責人章.png", "blue")):
        Image.new("RGBA", (60, 60), colour).save(pictures / name)
    shop = old_home / "quillmarkers" / "Receiptora"
    shop.mkdir(parents=True)
    (shop / "賣方資料.toml").write_text(  # as the form saved it before: absolute paths
        f'"商號名稱" = "林記茶行"\n"負責人" = "林大明"\n"免用統一發票章圖檔" = "{pictures / "免用章.png"}"\n'
        f'"負責人章圖檔" = "{pictures / "負責人章.png"}"\n', encoding="utf-8")
    first = issue(tmp_path, old_home, "A1")
    assert first.returncode == 0, first.stderr
    assert "已複製到輸出資料夾" in first.stderr, first.stderr  # the note, once
    assert pictures_in(shop / "2026-12" / "收據-20261207-001.pdf") == 2
    backup = receiptora("backup", str(tmp_path / "隨身碟"), home=old_home, cwd=tmp_path)
    assert backup.returncode == 0, backup.stderr
    assert "已複製到輸出資料夾" not in backup.stderr
    (made,) = (tmp_path / "隨身碟").iterdir()

    shutil.rmtree(old_home)  # the old computer, pictures and all, is gone
    shutil.copytree(made, new_home / "quillmarkers" / "Receiptora")  # restored: copied back
    second = issue(tmp_path, new_home, "A2")
    assert second.returncode == 0, second.stderr
    assert "圖檔" not in second.stderr, second.stderr
    pdf = new_home / "quillmarkers" / "Receiptora" / "2026-12" / "收據-20261207-002.pdf"
    assert pictures_in(pdf) == 2
    text = subprocess.run(["pdftotext", str(pdf), "-"], capture_output=True, text=True).stdout.replace(" ", "")
    assert "林大明印" not in text  # the seal is the picture, not the drawn text stamp
