"""Prints how fast receipts render: the median time per receipt for PDF and for PNG, the
first receipt in a fresh process (fonts cold), receipts per second over a batch of 1,000
on two threads, and ReportLab drawing the same receipt with a TrueType CJK face in the
same run, with the ratio.

    .venv/bin/python -m pip install -r requirements/bench.txt   # ReportLab, once
    .venv/bin/python bench/bench_render.py
"""
import concurrent.futures
import io
import json
import os
import re
import pathlib
import statistics
import subprocess
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tools"))
from render_samples import ITEMS, NUMBER, SELLER, many_items, sample_request  # noqa: E402

from receiptora import _render  # noqa: E402

REPEATS = 300
BATCH = 1000
UMING = ("/usr/share/fonts/truetype/arphic/uming.ttc", 2)  # AR PL UMing TW
UKAI = ("/usr/share/fonts/truetype/arphic/ukai.ttc", 2)  # AR PL UKai TW


def median_ms(fn, repeats=REPEATS, clock=time.perf_counter):
    times = []
    for _ in range(repeats):
        t0 = clock()
        fn()
        times.append(clock() - t0)
    return statistics.median(times) * 1000


def cpu_ms(fn):
    """CPU time of this thread per call: what a receipt costs when the cores are shared."""
    return median_ms(fn, 100, time.thread_time)


def first_receipt_ms():
    code = f"""
import json, sys, time
sys.path.insert(0, {str(pathlib.Path(__file__).resolve().parent.parent / "tools")!r})
from render_samples import NUMBER, SELLER, sample_request
from receiptora import _render
r = sample_request()
t0 = time.perf_counter(); _render.render_pdf(r, NUMBER, SELLER); t1 = time.perf_counter()
_render.render_png(r, NUMBER, SELLER); t2 = time.perf_counter()
print(json.dumps([(t1 - t0) * 1000, (t2 - t1) * 1000]))
"""
    runs = [json.loads(subprocess.run([sys.executable, "-c", code], check=True, capture_output=True).stdout)
            for _ in range(5)]
    return statistics.median(r[0] for r in runs), statistics.median(r[1] for r in runs)


def batch_per_second(render):
    request = sample_request()
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        list(pool.map(lambda _: render(request, NUMBER, SELLER), range(20)))  # both threads warm
        t0 = time.perf_counter()
        list(pool.map(lambda _: render(request, NUMBER, SELLER), range(BATCH)))
        return BATCH / (time.perf_counter() - t0)


def reportlab_receipt():
    """The same receipt drawn with ReportLab's canvas: same texts, table, totals, stamps."""
    from reportlab.lib.pagesizes import A5, landscape
    from reportlab.pdfbase import pdfmetrics
    from reportlab.pdfbase.ttfonts import TTFont
    from reportlab.pdfgen import canvas

    pdfmetrics.registerFont(TTFont("UMing", UMING[0], subfontIndex=UMING[1]))
    pdfmetrics.registerFont(TTFont("UKai", UKAI[0], subfontIndex=UKAI[1]))
    width, height = landscape(A5)
    red = (200 / 255, 30 / 255, 30 / 255)

    def draw():
        out = io.BytesIO()
        c = canvas.Canvas(out, pagesize=(width, height))
        c.setTitle("免用統一發票收據 " + NUMBER)
        y = lambda top: height - top  # noqa: E731 - top-down like the receipt's own layout
        c.setFont("UMing", 20)
        c.drawCentredString(width / 2, y(40), "免用統一發票收據")
        c.line(width / 2 - 110, y(47), width / 2 + 110, y(47))
        c.setFont("UMing", 9)
        c.drawRightString(width - 28, y(32), "No. " + NUMBER)
        c.setFont("UMing", 13)
        c.drawString(28, y(72), SELLER["商號名稱"])
        c.setFont("UMing", 9)
        c.drawString(28, y(88), f"統一編號：{SELLER['統一編號']}　　負責人：{SELLER['負責人']}")
        c.drawString(28, y(101), "地址：" + SELLER["地址"])
        c.drawString(28, y(114), "電話：" + SELLER["電話"])
        c.setFont("UMing", 10)
        c.drawString(330, y(72), "買受人：大同國民小學")
        c.drawString(330, y(93), "統一編號：87654322")
        c.drawRightString(width - 28, y(112), "中華民國 115 年 12 月 7 日")
        columns = [28, 248, 303, 388, 493, width - 28]
        top, row = 122, 18
        c.setFillGray(0.93)
        c.rect(28, y(top + 16), width - 56, 16, stroke=0, fill=1)
        c.setFillGray(0)
        c.setFont("UMing", 9.5)
        for x0, x1, title in zip(columns, columns[1:], ["品　名", "數　量", "單　價", "金　額", "備　註"]):
            c.drawCentredString((x0 + x1) / 2, y(top + 12), title)
        total = 0
        c.setFont("UMing", 10)
        for i, (name, quantity, price) in enumerate(ITEMS):
            base = y(top + 16 + row * (i + 1) - 5)
            total += quantity * price
            c.drawString(32, base, name)
            c.drawRightString(columns[2] - 4, base, f"{quantity:,}")
            c.drawRightString(columns[3] - 4, base, f"{price:,}")
            c.drawRightString(columns[4] - 4, base, f"{quantity * price:,}")
        bottom = top + 16 + row * 7
        for i in range(9):
            c.line(28, y(top + (16 + row * (i - 1) if i else 0)), width - 28, y(top + (16 + row * (i - 1) if i else 0)))
        for x in columns:
            c.line(x, y(top), x, y(bottom + 20))
        c.drawRightString(columns[3] - 4, y(bottom + 14), "合　計")
        c.drawRightString(columns[4] - 4, y(bottom + 14), f"{total:,}")
        c.setFont("UMing", 11)
        c.drawString(32, y(bottom + 36), "新臺幣　壹仟貳佰陸拾元整")
        c.rect(28, y(bottom + 44), width - 56, bottom + 44 - top, stroke=1, fill=0)
        # Stamps in translucent red.
        c.setStrokeColorRGB(*red, alpha=0.88)
        c.setFillColorRGB(*red, alpha=0.88)
        c.rect(width - 178, y(398), 142, 82)
        c.setFont("UMing", 11)
        c.drawCentredString(width - 107, y(332), SELLER["商號名稱"])
        c.setFont("UMing", 7)
        for k, text in enumerate([f"統一編號：{SELLER['統一編號']}", f"負責人：{SELLER['負責人']}",
                                  "地址：" + SELLER["地址"], "電話：" + SELLER["電話"]]):
            c.drawCentredString(width - 107, y(344 + 10 * k), text)
        c.setFont("UMing", 9)
        c.drawCentredString(width - 107, y(392), "免用統一發票專用章")
        c.rect(width - 250, y(392), 58, 58)
        c.setFont("UKai", 24)
        for k, ch in enumerate("王小明印"):
            c.drawString(width - 250 + (31 if k < 2 else 4), y(362 + 27 * (k % 2)), ch)
        c.showPage()
        c.save()
        return out.getvalue()

    return draw


def main():
    request = sample_request()
    pdf_ms = median_ms(lambda: _render.render_pdf(request, NUMBER, SELLER))
    png_ms = median_ms(lambda: _render.render_png(request, NUMBER, SELLER))
    pdf_cpu = cpu_ms(lambda: _render.render_pdf(request, NUMBER, SELLER))
    png_cpu = cpu_ms(lambda: _render.render_png(request, NUMBER, SELLER))
    pdf_size = len(_render.render_pdf(request, NUMBER, SELLER))
    png_size = len(_render.render_png(request, NUMBER, SELLER))
    long_pdf = _render.render_pdf(sample_request(items=many_items(60)), NUMBER, SELLER)
    long_pages = len(re.findall(rb"/Type\s*/Page[^s]", long_pdf))
    emoji = sample_request(items=[("貓咪貼紙😀🐈", 1, 20), ("派對🎉", 2, 30)] + ITEMS[2:])
    emoji_ms = median_ms(lambda: _render.render_pdf(emoji, NUMBER, SELLER), 30)
    emoji_size = len(_render.render_pdf(emoji, NUMBER, SELLER))
    rare = sample_request(items=[("峯堃犇鱻𠀋", 1, 1)] + ITEMS[1:])
    rare_ms = median_ms(lambda: _render.render_pdf(rare, NUMBER, SELLER), 30)
    first_pdf, first_png = first_receipt_ms()
    pdf_rate = batch_per_second(_render.render_pdf)
    png_rate = batch_per_second(_render.render_png)
    try:
        draw = reportlab_receipt()
    except ImportError:
        draw = None
    print("receipt: seven items, date, both stamps, 一般格式; load average %.1f (2 cores, shared)" % os.getloadavg()[0])
    print(f"PDF median           {pdf_ms:7.2f} ms   ({pdf_size / 1024:.1f} KB), CPU {pdf_cpu:.2f} ms")
    print(f"PNG median           {png_ms:7.2f} ms   ({png_size / 1024:.1f} KB, 150 dpi), CPU {png_cpu:.2f} ms")
    print(f"60 items: {long_pages} pages, {len(long_pdf) / 1024:.1f} KB, {len(long_pdf) / 1024 / max(1, long_pages):.1f} KB"
          " per page")
    print(f"three emoji (pictures at 600 ppi): PDF median {emoji_ms:.2f} ms, {emoji_size / 1024:.1f} KB")
    print(f"a name with characters from the fallback face (Noto CJK, CFF): PDF median {rare_ms:.2f} ms")
    print(f"first receipt, fresh process: PDF {first_pdf:.1f} ms, then PNG {first_png:.1f} ms")
    print(f"batch of {BATCH} on 2 threads: PDF {pdf_rate:.0f}/s, PNG {png_rate:.0f}/s"
          f" (two idle cores at the CPU times above: {2000 / pdf_cpu:.0f}/s, {2000 / png_cpu:.0f}/s)")
    if draw is None:
        print("ReportLab not installed: python -m pip install -r requirements/bench.txt")
        return
    reportlab_ms = median_ms(draw)
    reportlab_cpu = cpu_ms(draw)
    print(f"ReportLab PDF median {reportlab_ms:7.2f} ms   ({len(draw()) / 1024:.1f} KB, AR PL UMing TW + UKai),"
          f" CPU {reportlab_cpu:.2f} ms")
    print(f"ratio PDF / ReportLab: {pdf_ms / reportlab_ms:.2f} (CPU {pdf_cpu / reportlab_cpu:.2f})")
    targets = [("PDF ≤ 0.5× ReportLab (CPU)", pdf_cpu / reportlab_cpu <= 0.5), ("PNG ≤ 8 ms (CPU)", png_cpu <= 8),
               ("first receipt ≤ 100 ms", first_pdf <= 100), ("PDF ≤ 80 KB", pdf_size <= 80 * 1024),
               ("PNG ≤ 150 KB", png_size <= 150 * 1024),
               ("PDF ≤ 80 KB per page", len(long_pdf) <= 80 * 1024 * max(1, long_pages)),
               ("60 items ≤ 60 KB", len(long_pdf) <= 60 * 1024)]
    print("targets: " + ", ".join(f"{name} {'met' if met else 'MISSED'}" for name, met in targets))


if __name__ == "__main__":
    main()
