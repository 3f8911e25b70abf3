#!/usr/bin/env python3
"""Draw the 收據簿 launcher icon: an open ledger with ruled lines and one accent row.

Run: ``.venv/bin/python tools/gen_book_icon.py`` (writes app/receiptora/icons/receiptora-book.png).
Drawn four times larger and shrunk with LANCZOS for smooth edges; the same pixels every run.
"""
from pathlib import Path

from PIL import Image, ImageDraw

OUT = Path(__file__).resolve().parent.parent / "app" / "receiptora" / "icons" / "receiptora-book.png"
SIZE = 256
SCALE = 4
BACK = (0x24, 0x2B, 0x35, 255)
PAGE = (0xDC, 0xE4, 0xEE, 255)
RULE = (0x8A, 0x96, 0xA6, 255)
ACCENT = (0x3B, 0x8E, 0xD0, 255)


def main():
    s = SIZE * SCALE
    image = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    draw = ImageDraw.Draw(image)
    u = s / 64  # drawing unit: the icon is 64 units wide
    draw.rounded_rectangle((2 * u, 2 * u, 62 * u, 62 * u), radius=10 * u, fill=BACK)
    # Two pages meeting at the spine.
    draw.rounded_rectangle((9 * u, 13 * u, 31.5 * u, 52 * u), radius=2 * u, fill=PAGE)
    draw.rounded_rectangle((32.5 * u, 13 * u, 55 * u, 52 * u), radius=2 * u, fill=PAGE)
    for i in range(6):
        y = (19 + 5.5 * i) * u
        draw.line((12 * u, y, 28.5 * u, y), fill=RULE, width=int(1.2 * u))
        colour = ACCENT if i == 2 else RULE
        draw.line((35.5 * u, y, 52 * u, y), fill=colour, width=int((2.2 if i == 2 else 1.2) * u))
    # The spine.
    draw.rectangle((31.5 * u, 12 * u, 32.5 * u, 53 * u), fill=ACCENT)
    image.resize((SIZE, SIZE), Image.LANCZOS).save(OUT, optimize=True)


if __name__ == "__main__":
    main()
