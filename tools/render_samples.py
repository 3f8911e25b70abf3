"""Writes sample receipts in both templates: the seven-item receipt (OUTDIR/一般格式.pdf,
一般格式.png, 貓咪格式.pdf, 貓咪格式.png), and for each template receipts of 1, 10, 11, 16, 30
and 60 items, one with a 29-digit unit price, one whose seller profile holds only the shop's
name, and a void and a reprint copy (OUTDIR/一般格式-11項.pdf, -29位數, -僅商號名稱, -作廢,
-補印 …, each with one PNG per page: 一般格式-11項.png, 一般格式-11項-第2頁.png).
Run with the project's .venv Python after scripts/test (or scripts/setup) has built the
modules:  .venv/bin/python tools/render_samples.py OUTDIR"""
import pathlib
import sys

from receiptora import _render

NUMBER = "收據-20261207-003"
SELLER = {
    "商號名稱": "喵喵文具行",
    "統一編號": "24681353",
    "負責人": "王小明",
    "地址": "臺北市中正區重慶南路一段 122 號",
    "電話": "02-2345-6789",
}
ITEMS = [
    ("原子筆（藍）", 12, 15),
    ("筆記本 A5", 5, 45),
    ("修正帶", 3, 35),
    ("釘書機", 1, 120),
    ("資料夾", 20, 8),
    ("便利貼", 8, 25),
    ("影印紙 A4 500 張", 2, 135),
]


def sample_request(version="一般格式", items=ITEMS):
    """A full receipt request as the window sends it: seven items, the date and both stamps."""
    return {
        "版本": version,
        "買受人": "大同國民小學",
        "買受人統一編號": "87654322",
        "品名": [name for name, _, _ in items],
        "數量": [quantity for _, quantity, _ in items],
        "單件價格": [price for _, _, price in items],
        "存檔路徑": "",
        "顯示免用統一發票章": True,
        "顯示負責人章": True,
        "顯示日期": True,
        "年": 2026,
        "月": 12,
        "日": 7,
    }


def many_items(count):
    """`count` items: the sample's seven again and again, numbered after the first round."""
    return [(name if i < len(ITEMS) else f"{name} #{i // len(ITEMS) + 1}", quantity, price)
            for i, (name, quantity, price) in ((i, ITEMS[i % len(ITEMS)]) for i in range(count))]


NAME_ONLY = {key: "" for key in SELLER} | {"商號名稱": "喵喵文具行"}
HUGE = [("大宗採購（長期合約）", 3, 40011335200026003000033400100)] + ITEMS[:3]
REASON = "買受人名稱與統一編號均有誤，另行開立正確收據交付買受人並收回原收據存查"

VARIANTS = {  # name: items, copy mark, seller profile
    **{f"{n}項": (many_items(n), None, SELLER) for n in (1, 10, 11, 16, 30, 60)},
    "29位數": (HUGE, None, SELLER),
    "僅商號名稱": (ITEMS, None, NAME_ONLY),
    "作廢": (ITEMS, {"kind": "void", "date": (2026, 12, 8), "reason": REASON}, SELLER),
    "補印": (ITEMS, {"kind": "reprint", "date": (2026, 12, 9)}, SELLER),
}


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    out = pathlib.Path(argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for version in ("一般格式", "貓咪格式"):
        request = sample_request(version)
        (out / f"{version}.pdf").write_bytes(_render.render_pdf(request, NUMBER, SELLER))
        (out / f"{version}.png").write_bytes(_render.render_png(request, NUMBER, SELLER))
        print(out / f"{version}.pdf", out / f"{version}.png")
        for variant, (items, mark, seller) in VARIANTS.items():
            pdf, pngs = _render.render_pages(sample_request(version, items), NUMBER, seller, mark=mark)
            (out / f"{version}-{variant}.pdf").write_bytes(pdf)
            names = [f"{version}-{variant}" + (f"-第{k}頁" if k > 1 else "") + ".png" for k in range(1, len(pngs) + 1)]
            for name, png in zip(names, pngs):
                (out / name).write_bytes(png)
            print(out / f"{version}-{variant}.pdf", *(out / name for name in names))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
