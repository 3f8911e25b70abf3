import customtkinter
import pytest


@pytest.fixture(scope="module")
def root():
    """One dark-themed Tk root per test module, as the window sets it up."""
    customtkinter.set_appearance_mode("dark")
    customtkinter.set_default_color_theme("blue")
    app = customtkinter.CTk()
    app.geometry("900x700+0+0")
    app.update()
    yield app
    app.update_idletasks()
    app.destroy()


@pytest.fixture
def frame(root):
    """A fresh frame per test, destroyed afterwards."""
    panel = customtkinter.CTkFrame(root)
    panel.grid(row=0, column=0, sticky="nw")
    yield panel
    panel.destroy()
    root.update_idletasks()
