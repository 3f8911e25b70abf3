"""Checks the committed window pictures and that the generator reproduces them."""

import runpy
import subprocess
import sys
from pathlib import Path

import pytest
from PIL import Image

REPO = Path(__file__).resolve().parents[2]
SCRIPT = REPO / "tools" / "gen_artwork.py"
ART = REPO / "modules" / "GUI" / "格式範本"
ICO_SIZES = [16, 24, 32, 48, 64, 128, 256]

# file name -> width / height
PICTURES = {
    "logo.png": 1.0,
    "logo.ico": 1.0,
    "logo(僅文字).png": 4.0,
    "資料夾.png": 1.0,
    "日曆001.png": 1.0,
    "問號001.png": 1.0,
}


def frames(path):
    """Pixel data of every frame: one for PNG, one per size for ICO."""
    with Image.open(path) as im:
        if im.format != "ICO":
            return {im.size: (im.mode, im.tobytes())}
        out = {}
        for size in sorted(im.info["sizes"]):
            im.size = size
            im.load()
            out[size] = (im.mode, im.tobytes())
        return out


@pytest.mark.parametrize("name,aspect", PICTURES.items())
def test_committed_picture(name, aspect):
    with Image.open(ART / name) as im:
        im.load()
        assert im.mode == "RGBA"
        assert im.width / im.height == pytest.approx(aspect)
        lo, hi = im.getchannel("A").getextrema()
        assert lo == 0 and hi == 255, "needs a transparent background and opaque drawing"


def test_icon_holds_every_size():
    with Image.open(ART / "logo.ico") as im:
        assert sorted(w for w, _ in im.info["sizes"]) == ICO_SIZES
    assert sorted(w for w, _ in frames(ART / "logo.ico")) == ICO_SIZES


@pytest.fixture(scope="module")
def regenerated(tmp_path_factory):
    out = tmp_path_factory.mktemp("art")
    subprocess.run([sys.executable, str(SCRIPT), "--out", str(out)], check=True,
                   capture_output=True)
    return out


@pytest.mark.parametrize("name", PICTURES)
def test_generator_reproduces_committed(regenerated, name):
    assert frames(regenerated / name) == frames(ART / name), f"{name} drifted from the generator"


def test_missing_fonts_stop_the_generator(monkeypatch):
    gen = runpy.run_path(str(SCRIPT))

    def no_fontconfig(*args, **kwargs):
        raise OSError("fontconfig not installed")

    monkeypatch.setattr(subprocess, "run", no_fontconfig)
    with pytest.raises(SystemExit):
        gen["find_bold_font"]()
