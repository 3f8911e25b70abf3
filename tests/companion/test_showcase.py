import pathlib
import runpy

import customtkinter
import pytest


@pytest.mark.gui
def test_showcase_builds_every_kit_class(root):
    showcase = runpy.run_path(str(pathlib.Path(__file__).resolve().parents[2] / "tools" / "kit_showcase.py"))
    top = customtkinter.CTkToplevel(root)
    try:
        showcase["build"](top)
        top.update()
        assert top.winfo_reqwidth() <= 1280 and top.winfo_reqheight() <= 900
    finally:
        top.destroy()
        root.update_idletasks()
