"""Helpers of the book tests: receipts issued into a fresh folder, the cups-pdf printer's output."""
import getpass
import json
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

import pytest

from shop_profile import named_shop

COMMAND = str(Path(sys.executable).with_name("receiptora"))
CUPS_PDF_CONF = Path("/etc/cups/cups-pdf.conf")


def issue(folder, buyers, day=7, tax_ids=None, items=None, month=12):
    """Issues one receipt per buyer on 2026-<month>-<day> through `receiptora render`; returns the
    numbers. The i-th receipt's total is 2 × (350 + i), unless items[i] gives its (name, quantity,
    unit price) lines."""
    tax_ids = tax_ids or ["04595257"] * len(buyers)
    items = items or [[("烏龍茶", 2, 350 + i)] for i in range(len(buyers))]
    requests = [{"版本": "一般格式", "買受人": buyer, "買受人統一編號": tax_ids[i],
                 "品名": [line[0] for line in items[i]], "數量": [line[1] for line in items[i]],
                 "單件價格": [line[2] for line in items[i]], "存檔路徑": "/ignored/", "顯示免用統一發票章": False,
                 "顯示負責人章": False, "顯示日期": True, "年": 2026, "月": month, "日": day}
                for i, buyer in enumerate(buyers)]
    source = named_shop(folder) / "requests.json"
    source.write_text(json.dumps(requests), encoding="utf-8")
    # One job: receipts drawn at once may take their numbers in either order.
    subprocess.run([COMMAND, "render", "--jobs", "1", "--output", str(folder), str(source)], check=True,
                   capture_output=True, timeout=120)
    return [f"收據-2026{month:02d}{day:02d}-{n:03d}" for n in range(1, len(buyers) + 1)]


def cups_pdf_folder():
    """The folder cups-pdf writes this user's jobs into; skips when no scheduler can run here."""
    if not shutil.which("lpstat") or "is running" not in subprocess.run(
            ["lpstat", "-r"], capture_output=True, text=True).stdout:
        pytest.skip("the CUPS scheduler is not running (scripts/test starts it)")
    out = "/var/spool/cups-pdf/${USER}"
    if CUPS_PDF_CONF.exists():
        for line in CUPS_PDF_CONF.read_text().splitlines():
            if line.startswith("Out "):
                out = line[4:].strip()
    return Path(out.replace("${USER}", getpass.getuser()))


def printed_file(folder, job, timeout=120):
    """The PDF cups-pdf made of `job` ("<title>-job_<id>.pdf"), once it is complete."""
    pattern = re.compile(rf"-job_{job}\.pdf$")
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for path in folder.glob("*.pdf") if folder.is_dir() else ():
            if pattern.search(path.name) and path.read_bytes().rstrip().endswith(b"%%EOF"):
                return path
        time.sleep(0.2)
    raise AssertionError(f"job {job} never arrived in {folder}")
