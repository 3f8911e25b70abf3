import importlib.util
import pathlib

import customtkinter
import pytest

pytestmark = pytest.mark.gui

SHOWCASE = pathlib.Path(__file__).resolve().parents[2] / "tools" / "kit_showcase.py"


def test_showcase_builds_every_kit_class(root):
    spec = importlib.util.spec_from_file_location("kit_showcase", SHOWCASE)
    showcase = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(showcase)
    top = customtkinter.CTkToplevel(root)
    try:
        showcase.build(top)
        top.update()
        assert top.winfo_reqwidth() <= 1280 and top.winfo_reqheight() <= 900
    finally:
        top.destroy()
        root.update_idletasks()
