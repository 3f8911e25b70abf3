"""The kit's frames and template menu draw the window exactly as customtkinter's own classes:
every canvas item (type, place, options, stacking) and the screenshot, pixel for pixel. The
two windows are built in a process of their own, so no other test's Tk state is involved."""
import json
import shutil
import subprocess
import sys
import tkinter
from pathlib import Path
import types

import customtkinter
import pytest
from PIL import Image, ImageChops

import GUI
from window_driver import channels, run_window

pytestmark = [pytest.mark.gui,
              pytest.mark.skipif(shutil.which("import") is None, reason="ImageMagick's import is needed")]


def canvases(widget):
    """Every canvas below widget in creation order (CTkFrame hides its own from winfo_children)."""
    for child in tkinter.Misc.winfo_children(widget):
        if isinstance(child, tkinter.Canvas):
            yield child
        yield from canvases(child)


def drawing(app):
    drawn = []
    for canvas in canvases(app):
        items = []
        for item in canvas.find_all():
            options = {name: value[4] for name, value in canvas.itemconfigure(item).items()}
            items.append((canvas.type(item), canvas.gettags(item), canvas.coords(item), options))
        drawn.append((str(canvas), canvas.winfo_width(), canvas.winfo_height(), canvas.cget("bg"), items))
    return drawn


def drawn_window(monkeypatch, picture, kit):
    """The window's drawing and screenshot, built with the kit's classes or customtkinter's."""
    seen = {}

    def scenario(w):
        w.app.focus_set()  # no blinking text cursor in the picture
        w.pump(1.2)  # two refresh ticks: the total and the captions as the operator sees them
        seen["drawing"] = drawing(w.app)
        subprocess.run(["import", "-window", str(w.app.winfo_id()), str(picture)], check=True, timeout=30)

    with monkeypatch.context() as patch:
        if not kit:
            patch.setattr(GUI, "customtkinter_model", types.SimpleNamespace(
                CTkFrame=customtkinter.CTkFrame, CTkOptionMenu=customtkinter.CTkOptionMenu))
        run_window(patch, scenario, *channels()[1:])
    return seen["drawing"], Image.open(picture).convert("RGB")


def compare(folder):
    """Builds both windows; prints what differs (nothing when they are drawn alike)."""
    with pytest.MonkeyPatch.context() as monkeypatch:
        stock_drawing, stock_picture = drawn_window(monkeypatch, Path(folder) / "stock.png", kit=False)
        kit_drawing, kit_picture = drawn_window(monkeypatch, Path(folder) / "kit.png", kit=True)
    differences = [ours[0] for ours, theirs in zip(kit_drawing, stock_drawing) if ours[1:] != theirs[1:]]
    if len(kit_drawing) != len(stock_drawing):
        differences.append(f"{len(kit_drawing)} canvases, not {len(stock_drawing)}")
    if kit_picture.size != stock_picture.size:
        differences.append(f"picture size {kit_picture.size}, not {stock_picture.size}")
    elif ImageChops.difference(kit_picture, stock_picture).getbbox() is not None:
        differences.append(f"pixels differ over {ImageChops.difference(kit_picture, stock_picture).getbbox()}")
    print(json.dumps({"canvases": len(kit_drawing), "differences": differences}))


def test_the_kits_classes_draw_the_window_as_customtkinters_own(tmp_path):
    code = f"import sys; sys.path.insert(0, {str(Path(__file__).parent)!r}); " \
           f"import test_window_drawing; test_window_drawing.compare({str(tmp_path)!r})"
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    seen = json.loads(result.stdout.strip().splitlines()[-1])
    assert seen["canvases"] > 50 and seen["differences"] == [], result.stderr
