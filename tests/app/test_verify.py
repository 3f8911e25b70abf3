"""`receiptora verify` end to end: a phone-style photo of a receipt still verifies, an edited PDF
does not. (The answers themselves are tested in C++: verify/tests/verify_test.cpp.)"""
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

COMMAND = str(Path(sys.executable).with_name("receiptora"))
NUMBER = "收據-20261208-001"
GENUINE = f"真的：{NUMBER}，115年12月8日，合計 1,430 元，林記茶行（22099131）開立"

pytestmark = pytest.mark.skipif(shutil.which("convert") is None or shutil.which("qpdf") is None,
                                reason="ImageMagick and qpdf are needed")


def receiptora(*args, env):
    return subprocess.run([COMMAND, *args], capture_output=True, text=True, timeout=120, env=env)


@pytest.fixture(scope="module")
def shop(tmp_path_factory):
    """An output folder with one receipt of 林記茶行, and the shop's verification card."""
    root = tmp_path_factory.mktemp("shop")
    env = dict(os.environ, XDG_DATA_HOME=str(root / "data"))
    out = root / "out"
    out.mkdir()
    (out / "賣方資料.toml").write_text('"商號名稱" = "林記茶行"\n"統一編號" = "22099131"\n', encoding="utf-8")
    request = {"版本": "一般格式", "買受人": "王小明", "買受人統一編號": "", "品名": ["茶葉", "運費"],
               "數量": [3, 1], "單件價格": [450, 80], "存檔路徑": "", "顯示免用統一發票章": False,
               "顯示負責人章": False, "顯示日期": True, "年": 2026, "月": 12, "日": 8}
    (root / "in.json").write_text(json.dumps([request]), encoding="utf-8")
    made = receiptora("render", "--output", str(out), str(root / "in.json"), env=env)
    assert made.returncode == 0, made.stderr
    card = receiptora("key", "card", "--output", str(out), env=env)
    assert card.returncode == 0, card.stderr
    return out, env


def test_a_phone_photo_of_the_printed_receipt_verifies_with_the_card(shop, tmp_path):
    """The printed page as a phone camera sees it (the PDF at 400 dpi: an A5 sheet across a
    12-megapixel frame), then what a hurried photo does to it: 40 % of the size, turned 4°,
    blurred, grey, seen at a slant, saved as a JPEG of quality 50."""
    out, env = shop
    pdf = out / "2026-12" / f"{NUMBER}.pdf"
    subprocess.run(["pdftoppm", "-r", "400", "-png", "-singlefile", str(pdf), str(tmp_path / "page")], check=True)
    width, height = 3307, 2331
    slant = f"0,0 {width * 0.03:.0f},{height * 0.02:.0f}  {width},0 {width * 0.98:.0f},0  " \
            f"0,{height} 0,{height}  {width},{height} {width * 0.96:.0f},{height * 0.97:.0f}"
    photo = tmp_path / "photo.jpg"
    subprocess.run(["convert", str(tmp_path / "page.png"), "-virtual-pixel", "white", "-distort", "Perspective",
                    slant, "-rotate", "4", "-resize", "40%", "-blur", "0x1", "-colorspace", "Gray",
                    "-quality", "50", str(photo)], check=True)
    elsewhere = tmp_path / "buyer"  # the buyer's machine: no book, only the shop's card
    elsewhere.mkdir()
    answer = receiptora("verify", "--key", str(out / "驗證卡.png"), "--output", str(elsewhere), str(photo), env=env)
    assert answer.returncode == 0, answer.stdout + answer.stderr
    assert answer.stdout.startswith(f"真的：{NUMBER}，115年12月8日，合計 1,430 元，統一編號 22099131 的商家開立")
    assert "使用的金鑰：驗證卡" in answer.stdout


def edit_printed_total(pdf, edited, old, new):
    """`pdf` with its printed 合計 changed in the page's content stream, `old` → `new` (the same
    length: the stream stays whole), as a forger with a PDF editor would."""
    plain = edited.with_suffix(".qdf.pdf")
    subprocess.run(["qpdf", "--qdf", "--object-streams=disable", str(pdf), str(plain)], check=True)
    data = plain.read_bytes()
    shown = b"(" + old.encode() + b")"  # the figures are set in the Latin face as a literal string
    assert data.count(shown) == 1, "the total is shown once"
    edited.write_bytes(data.replace(shown, b"(" + new.encode() + b")"))


TOTAL = "1,430"


def test_a_pdf_whose_printed_total_was_edited_fails(shop, tmp_path):
    out, env = shop
    edited = tmp_path / "edited.pdf"
    edit_printed_total(out / "2026-12" / f"{NUMBER}.pdf", edited, TOTAL, "1,400")
    text = subprocess.run(["pdftotext", str(edited), "-"], capture_output=True, text=True).stdout
    assert "1,400" in text and TOTAL not in text, "the edit reads as 1,400"
    answer = receiptora("verify", "--output", str(out), str(edited), env=env)
    assert answer.returncode == 1
    assert answer.stdout.startswith("不符：PDF 印的合計 1,400 元不是簽章的 1,430 元"), answer.stdout
    genuine = receiptora("verify", "--output", str(out), str(out / "2026-12" / f"{NUMBER}.pdf"), env=env)
    assert genuine.returncode == 0 and genuine.stdout.startswith(GENUINE), genuine.stdout
