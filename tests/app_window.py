"""The `receiptora` command's window seen from outside, as a person sees it: screenshots of it
(ImageMagick's import), and a wait until it is drawn and settles."""
import io
import subprocess
import time

from PIL import Image, ImageChops

STILL_FOR = 0.6  # seconds: longer than the window's 500 ms refresh tick


def shot(window):
    """A screenshot of the X window `window` (an id as xdotool gives it)."""
    picture = subprocess.run(["import", "-window", str(window), "png:-"], check=True, capture_output=True,
                             timeout=30).stdout
    return Image.open(io.BytesIO(picture)).convert("RGB")


def alike(first, second):
    """The same picture but for the text cursor, which may blink in one and not in the other."""
    if first.size != second.size:
        return False
    changed = ImageChops.difference(first, second).getbbox()
    return changed is None or (changed[2] - changed[0] <= 3 and changed[3] - changed[1] <= 40)


def wait_until_still(window, timeout=60):
    """Screenshots of `window` until it shows something and has looked the same for longer than
    a refresh tick; returns the last one."""
    deadline = time.monotonic() + timeout
    last, since = shot(window), time.monotonic()
    while time.monotonic() < deadline:
        current = shot(window)
        drawn = current.getcolors(1) is None  # more than one colour
        if not (drawn and alike(current, last)):
            since = time.monotonic()
        elif time.monotonic() - since >= STILL_FOR:
            return current
        last = current
    raise AssertionError(f"the window {window} did not settle within {timeout} s")
