#!/usr/bin/env python3
"""Draw Receiptora's logo, lettering and button pictures.

Run from anywhere: ``python3 tools/gen_artwork.py [--out DIR]``.
Without ``--out`` the pictures go to ``modules/GUI/格式範本/`` in this repository.

Every picture is drawn at a large size and shrunk with LANCZOS, which gives
smooth antialiased edges.  Nothing random or time dependent is used, so each
run writes the same pixels.
"""

from __future__ import annotations

import argparse
import math
import subprocess
import sys
from pathlib import Path

from PIL import Image, ImageDraw, ImageFont

REPO_ROOT = Path(__file__).resolve().parent.parent
DEFAULT_OUT = REPO_ROOT / "modules" / "GUI" / "格式範本"

LOGO_PNG = "logo.png"
LOGO_ICO = "logo.ico"
LETTERING_PNG = "logo(僅文字).png"
FOLDER_PNG = "資料夾.png"
CALENDAR_PNG = "日曆001.png"
QUESTION_PNG = "問號001.png"

ICO_SIZES = (16, 24, 32, 48, 64, 128, 256)
LOGO_SIZE = 256
LETTERING_SIZE = (480, 120)
PICTOGRAM_SIZE = 128

# Palette: light strokes for a dark window, one blue accent.
LIGHT = (0xDC, 0xE4, 0xEE, 255)
ACCENT = (0x3B, 0x8E, 0xD0, 255)
LETTER_LIGHT = (0xE8, 0xEE, 0xF5, 255)
LETTER_ACCENT = (0x4A, 0x9B, 0xE0, 255)
PAPER = (0xFB, 0xF7, 0xEE, 255)
PAPER_EDGE = (0xE2, 0xDA, 0xC8, 255)
INK = (0x6E, 0x7A, 0x8A, 255)
INK_DARK = (0x3A, 0x46, 0x58, 255)
QUILL_DARK = (0x17, 0x2F, 0x5E, 255)
QUILL_MID = (0x24, 0x47, 0x8A, 255)
QUILL_SHAFT = (0xC8, 0xD6, 0xEA, 255)
QUILL_BARREL = (0x7C, 0x95, 0xBC, 255)
NIB = (0x2B, 0x33, 0x40, 255)
CLEAR = (0, 0, 0, 0)

# Fonts tried in order for the lettering; the condensed face lets the word
# fill more of the 4:1 box.
FONT_PATTERNS = (
    "DejaVu Sans Condensed:bold",
    "DejaVu Sans:bold",
    "Noto Sans CJK TC:bold",
    "sans-serif:bold",
)
FONT_SUFFIXES = (".ttf", ".otf", ".ttc")


class Pen:
    """Draws on a square layer using coordinates in the range 0..1."""

    def __init__(self, size: int):
        self.size = size
        self.image = Image.new("RGBA", (size, size), CLEAR)
        self.draw = ImageDraw.Draw(self.image)

    def px(self, v: float) -> float:
        return v * self.size

    def pt(self, p: tuple[float, float]) -> tuple[float, float]:
        return (p[0] * self.size, p[1] * self.size)

    def polygon(self, pts, fill) -> None:
        self.draw.polygon([self.pt(p) for p in pts], fill=fill)

    def disc(self, c, r: float, fill) -> None:
        x, y = self.pt(c)
        r = self.px(r)
        self.draw.ellipse((x - r, y - r, x + r, y + r), fill=fill)

    def rrect(self, box, radius: float, fill=None, outline=None, width: float = 0) -> None:
        x0, y0, x1, y1 = (self.px(v) for v in box)
        self.draw.rounded_rectangle(
            (x0, y0, x1, y1),
            radius=self.px(radius),
            fill=fill,
            outline=outline,
            width=round(self.px(width)),
        )

    def stroke(self, pts, width: float, fill) -> None:
        """Polyline with round caps and joins."""
        w = self.px(width)
        scaled = [self.pt(p) for p in pts]
        if len(scaled) > 1:
            self.draw.line(scaled, fill=fill, width=round(w), joint="curve")
        for x, y in (scaled[0], scaled[-1]):
            self.draw.ellipse((x - w / 2, y - w / 2, x + w / 2, y + w / 2), fill=fill)

    def rounded_polygon(self, pts, radius: float, fill) -> None:
        """The polygon grown outward by ``radius``, which rounds every corner."""
        self.polygon(pts, fill)
        closed = list(pts) + [pts[0]]
        w = round(self.px(2 * radius))
        self.draw.line([self.pt(p) for p in closed], fill=fill, width=w)
        for p in pts:
            self.disc(p, radius, fill)

    def shrink(self, out_size: int) -> Image.Image:
        return self.image.resize((out_size, out_size), Image.Resampling.LANCZOS)


def arc_points(centre, radius, start_deg, end_deg, steps=64):
    """Points along a circular arc; angles clockwise from 3 o'clock (y down)."""
    cx, cy = centre
    out = []
    for i in range(steps + 1):
        a = math.radians(start_deg + (end_deg - start_deg) * i / steps)
        out.append((cx + radius * math.cos(a), cy + radius * math.sin(a)))
    return out


# --------------------------------------------------------------------------
# Logo: a paper receipt with a quill laid across it.
# --------------------------------------------------------------------------

LOGO_DRAW = 1024


def _receipt(pen: Pen) -> None:
    left, right, top, bottom = 0.10, 0.66, 0.05, 0.87
    teeth, depth = 7, 0.045
    tooth = (right - left) / teeth
    # Edge colour first, then the paper a hair smaller, so the sheet has a
    # crisp rim on light and dark backgrounds alike.
    for grow, colour in ((0.012, PAPER_EDGE), (0.0, PAPER)):
        lx, rx = left - grow, right + grow
        pen.rrect((lx, top - grow, rx, bottom - 0.08), 0.035 + grow, fill=colour)
        # Torn bottom: teeth pointing down between the two side edges.
        pts = [(rx, bottom - 0.1), (rx, bottom + grow)]
        for i in range(teeth):
            x = right - i * tooth
            pts.append((x - tooth / 2, bottom + depth + grow * 1.4))
            pts.append((x - tooth, bottom + grow))
        pts[-1] = (lx, bottom + grow)
        pts.append((lx, bottom - 0.1))
        pen.polygon(pts, colour)

    # Printed lines: a centred heading, three item rows, a bold total.
    mid = (left + right) / 2
    pen.stroke([(mid - 0.13, 0.15), (mid + 0.13, 0.15)], 0.05, INK_DARK)
    for y, length in ((0.30, 0.27), (0.41, 0.20), (0.52, 0.24)):
        pen.stroke([(left + 0.08, y), (left + 0.08 + length, y)], 0.038, INK)
    pen.stroke([(left + 0.08, 0.69), (left + 0.23, 0.69)], 0.052, INK_DARK)


def _quill_layer(size: int) -> Image.Image:
    """The quill on its own layer so notches can be cut out of the vane."""
    pen = Pen(size)
    nib = (0.30, 0.83)
    tip = (0.955, 0.045)
    ax, ay = tip[0] - nib[0], tip[1] - nib[1]
    length = math.hypot(ax, ay)
    ux, uy = ax / length, ay / length  # along the quill, towards the tip
    nx, ny = -uy, ux                   # across it, towards the lower right

    def at(t: float, s: float = 0.0) -> tuple[float, float]:
        """Point at fraction t along the quill and offset s across it."""
        return (nib[0] + ux * t * length + nx * s, nib[1] + uy * t * length + ny * s)

    vane_start, vane_end = 0.30, 1.0

    def half_width(t: float, side: int) -> float:
        # Leaf shape: swells from the barrel, narrows to the tip, one side wider.
        u = (t - vane_start) / (vane_end - vane_start)
        base = math.sin(math.pi * min(1.0, u) ** 0.75)
        return (0.135 if side > 0 else 0.10) * base

    steps = 60
    ts = [vane_start + (vane_end - vane_start) * i / steps for i in range(steps + 1)]
    outer = [at(t, half_width(t, +1)) for t in ts]
    inner = [at(t, -half_width(t, -1)) for t in ts]

    # Light halo so the dark feather stays visible on a dark window.
    halo = 0.022
    halo_outer = [at(t, half_width(t, +1) + halo) for t in ts]
    halo_inner = [at(t, -half_width(t, -1) - halo) for t in ts]
    pen.polygon(halo_outer + halo_inner[::-1], PAPER)
    pen.stroke([at(0.0), at(vane_start + 0.02)], 0.03 + 2 * halo, PAPER)
    pen.disc(at(1.0), halo * 1.2, PAPER)

    # The two halves of the vane in two blues give it a folded look.
    spine = [at(t) for t in ts]
    pen.polygon(outer + spine[::-1], QUILL_MID)
    pen.polygon(spine + inner[::-1], QUILL_DARK)

    # Notches in the vane edge, like split barbs.
    for t, side in ((0.52, +1), (0.72, +1), (0.62, -1), (0.82, -1)):
        w = half_width(t, side)
        out = side * (w + 0.05)
        pen.polygon([at(t, out), at(t - 0.035, side * w * 0.5), at(t + 0.03, out)], CLEAR)

    # Shaft down the middle and the hollow barrel to the nib.
    pen.stroke([at(0.08), at(0.97)], 0.014, QUILL_SHAFT)
    pen.stroke([at(0.08), at(vane_start + 0.01)], 0.032, QUILL_BARREL)
    # Metal nib with its slit.
    pen.polygon([at(0.0), at(0.11, 0.028), at(0.11, -0.028)], NIB)
    pen.stroke([at(0.02), at(0.08)], 0.006, PAPER)
    return pen.image


def draw_logo(size: int = LOGO_DRAW) -> Image.Image:
    pen = Pen(size)
    _receipt(pen)
    pen.image.alpha_composite(_quill_layer(size))
    return pen.image


# --------------------------------------------------------------------------
# Lettering
# --------------------------------------------------------------------------

def find_bold_font() -> str:
    """Path of a bold sans TrueType/OpenType font; exits if there is none."""
    for pattern in FONT_PATTERNS:
        try:
            found = subprocess.run(
                ["fc-match", "-f", "%{file}", pattern],
                capture_output=True, text=True, check=True,
            ).stdout.strip()
        except (OSError, subprocess.CalledProcessError):
            continue
        if found.lower().endswith(FONT_SUFFIXES) and Path(found).is_file():
            return found
    try:
        listed = subprocess.run(
            ["fc-list", "-f", "%{file}\n"], capture_output=True, text=True, check=True,
        ).stdout.split("\n")
    except (OSError, subprocess.CalledProcessError):
        listed = []
    files = sorted(f for f in listed if f.lower().endswith(FONT_SUFFIXES) and Path(f).is_file())
    if files:
        return files[0]
    raise SystemExit("gen_artwork: no TrueType/OpenType font found via fontconfig; "
                     "install fonts-dejavu-core or fonts-noto-cjk")


def draw_lettering(text: str = "Receiptora", size=LETTERING_SIZE, scale: int = 4) -> Image.Image:
    w, h = size[0] * scale, size[1] * scale
    font_path = find_bold_font()
    probe = ImageFont.truetype(font_path, 1000)
    x0, y0, x1, y1 = probe.getbbox(text)
    # Largest font size whose ink fits the box with a small margin.
    fit = min((w * 0.97) / (x1 - x0), (h * 0.90) / (y1 - y0))
    font = ImageFont.truetype(font_path, max(1, int(1000 * fit)))
    x0, y0, x1, y1 = font.getbbox(text)
    origin = ((w - (x1 - x0)) / 2 - x0, (h - (y1 - y0)) / 2 - y0)

    whole = Image.new("L", (w, h), 0)
    ImageDraw.Draw(whole).text(origin, text, font=font, fill=255)
    first = Image.new("L", (w, h), 0)
    ImageDraw.Draw(first).text(origin, text[0], font=font, fill=255)

    # Colour: accent wherever the first letter has ink, light elsewhere; the
    # first letter never touches the second, so this split is clean.
    colour = Image.new("RGBA", (w, h), LETTER_LIGHT)
    colour.paste(LETTER_ACCENT, mask=first.point(lambda v: 255 if v else 0))
    colour.putalpha(whole)
    return colour.resize(size, Image.Resampling.LANCZOS)


# --------------------------------------------------------------------------
# Button pictograms
# --------------------------------------------------------------------------

PICTO_DRAW = 1024


def draw_folder(size: int = PICTO_DRAW) -> Image.Image:
    pen = Pen(size)
    r = 0.05
    # Back sheet with the tab, in the accent colour.
    pen.rounded_polygon([(0.12, 0.20), (0.38, 0.20), (0.46, 0.29), (0.88, 0.29),
                         (0.88, 0.79), (0.12, 0.79)], r, ACCENT)
    # A clear gap, then the front flap in the light colour, so the two parts
    # stay apart even on a blue button.
    front = [(0.12, 0.43), (0.88, 0.43), (0.88, 0.79), (0.12, 0.79)]
    pen.rounded_polygon([(x, y - 0.035) for x, y in front], r, CLEAR)
    pen.rounded_polygon(front, r, LIGHT)
    return pen.image


def draw_calendar(size: int = PICTO_DRAW) -> Image.Image:
    pen = Pen(size)
    # Page: a filled header band and an outlined body.
    pen.rrect((0.10, 0.16, 0.90, 0.90), 0.09, fill=LIGHT)
    pen.rrect((0.18, 0.38, 0.82, 0.82), 0.03, fill=CLEAR)
    # Rings above the header, cut out of the band so they stay distinct.
    for x in (0.32, 0.68):
        pen.rrect((x - 0.075, 0.05, x + 0.075, 0.30), 0.075, fill=CLEAR)
        pen.rrect((x - 0.04, 0.08, x + 0.04, 0.27), 0.04, fill=LIGHT)
    # Day grid: 3 x 2 blocks, one picked out in the accent colour.
    cols = (0.235, 0.425, 0.615)
    rows = (0.455, 0.625)
    cell = 0.15
    for j, y in enumerate(rows):
        for i, x in enumerate(cols):
            colour = ACCENT if (i, j) == (1, 1) else LIGHT
            pen.rrect((x, y, x + cell, y + cell), 0.025, fill=colour)
    return pen.image


def draw_question(size: int = PICTO_DRAW) -> Image.Image:
    pen = Pen(size)
    width = 0.10
    pen.rrect((0.06, 0.06, 0.94, 0.94), 0.44, outline=LIGHT, width=width)
    # Hook: an arc over the top, then a short drop to the stem.
    hook = arc_points((0.5, 0.40), 0.145, 200, 400)
    end = hook[-1]
    pen.stroke(hook + [(0.5, end[1] + 0.05), (0.5, 0.60)], 0.11, LIGHT)
    pen.disc((0.5, 0.755), 0.062, LIGHT)
    return pen.image


# --------------------------------------------------------------------------
# Output
# --------------------------------------------------------------------------

def write_all(out_dir: Path) -> list[Path]:
    out_dir.mkdir(parents=True, exist_ok=True)
    written = []

    def save(img: Image.Image, name: str, **kwargs) -> None:
        path = out_dir / name
        img.save(path, **kwargs)
        written.append(path)

    logo_big = draw_logo()
    save(logo_big.resize((LOGO_SIZE, LOGO_SIZE), Image.Resampling.LANCZOS), LOGO_PNG)
    # Each icon size is shrunk straight from the large drawing, not from the
    # 256 px copy, so the small sizes stay as sharp as possible.
    frames = [logo_big.resize((s, s), Image.Resampling.LANCZOS) for s in ICO_SIZES]
    save(frames[-1], LOGO_ICO, format="ICO", sizes=[(s, s) for s in ICO_SIZES],
         append_images=frames[:-1])

    save(draw_lettering(), LETTERING_PNG)
    for draw, name in ((draw_folder, FOLDER_PNG), (draw_calendar, CALENDAR_PNG),
                       (draw_question, QUESTION_PNG)):
        save(draw().resize((PICTOGRAM_SIZE, PICTOGRAM_SIZE), Image.Resampling.LANCZOS), name)
    return written


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, default=DEFAULT_OUT,
                        help="folder to write into (default: modules/GUI/格式範本/)")
    args = parser.parse_args(argv)
    for path in write_all(args.out):
        print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
