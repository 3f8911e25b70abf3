"""`receiptora print`: a receipt through CUPS to the cups-pdf printer, and what a failure leaves."""
import os
import re
import subprocess

from book_helpers import COMMAND, issue, printed_file


def test_printed_pdf_arrives_and_is_the_receipt(tmp_path, cups_pdf):
    numbers = issue(tmp_path, ["林記茶行", "陳小姐"])
    result = subprocess.run([COMMAND, "print", numbers[1], "--output", str(tmp_path)],
                            capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    job = re.fullmatch(rf"{numbers[1]}：已送到印表機 (\S+)（工作 (\d+)）\n", result.stdout)
    assert job, result.stdout
    text = subprocess.run(["pdftotext", "-layout", str(printed_file(cups_pdf, job[2])), "-"],
                          capture_output=True, text=True, check=True).stdout
    assert "陳小姐" in text and numbers[1] in text and "林記茶行" not in text


def test_cups_down_reports_logs_and_keeps_the_receipt(tmp_path):
    numbers = issue(tmp_path, ["林記茶行"])
    pdf = tmp_path / "2026-12" / f"{numbers[0]}.pdf"
    before = pdf.read_bytes()
    env = dict(os.environ, CUPS_SERVER=str(tmp_path / "no-cups.sock"), XDG_DATA_HOME=str(tmp_path / "data"))
    result = subprocess.run([COMMAND, "print", numbers[0], "20261207-404", "--output", str(tmp_path)],
                            capture_output=True, text=True, timeout=60, env=env)
    assert result.returncode == 1
    assert f"{numbers[0]} 未列印：列印服務（CUPS）沒有在執行" in result.stderr
    assert "20261207-404 未列印：" in result.stderr and "沒有收據 20261207-404" in result.stderr
    log = (tmp_path / "data" / "quillmarkers" / "Receiptora" / "error.log").read_text(encoding="utf-8")
    assert f"列印 {numbers[0]}\n" in log and "列印 20261207-404\n" in log
    assert pdf.read_bytes() == before
