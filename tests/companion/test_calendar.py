import calendar as pycalendar
import datetime
import os
import subprocess
import sys

import customtkinter
import pytest

import quillmarkers_model as quillmarkers

pytestmark = pytest.mark.gui

CTkCalendar = quillmarkers.Customtkinter_Model().CTkCalendar
CHOSEN = "#3B8ED0"


@pytest.fixture
def window(root):
    """The window's date picker: a 250x250 toplevel."""
    top = customtkinter.CTkToplevel(root)
    top.geometry("250x250+0+0")
    yield top
    if top.winfo_exists():
        top.destroy()
    root.update_idletasks()


def open_calendar(window, **options):
    cal = CTkCalendar(window, calendar_button=True, **options)
    cal.grid(row=0, column=0, sticky="new")
    return cal


def day(cal):
    d = cal.get_day()
    return d["年"], d["月"], d["日"]


def key(y, m, d):
    return f"{y}-{m}-{d}"


@pytest.mark.parametrize("year, month, first_column", [(2024, 2, 4), (2023, 2, 3), (2026, 12, 2), (2026, 2, 0), (2025, 11, 6)])
def test_days_of_the_shown_month(window, year, month, first_column):
    cal = open_calendar(window)
    cal.show_month(year, month)
    days = pycalendar.monthrange(year, month)[1]
    buttons = cal.data["日曆按鈕"]
    assert list(buttons) == [key(year, month, d) for d in range(1, days + 1)]
    assert cal.data["日曆標題"].cget("text") == f"{year}年{month}月"
    first, last = buttons[key(year, month, 1)].grid_info(), buttons[key(year, month, days)].grid_info()
    assert first["column"] == first_column
    assert last["column"] == (first_column + days - 1) % 7
    assert last["row"] - first["row"] == (first_column + days - 1) // 7
    assert [b.cget("text") for b in buttons.values()] == [str(d) for d in range(1, days + 1)]


def test_click_chooses_the_day_and_only_it_looks_chosen(window):
    cal = open_calendar(window)
    cal.show_month(2026, 12)
    buttons = cal.data["日曆按鈕"]
    buttons["2026-12-6"].invoke()
    assert cal.get_day() == {"年": 2026, "月": 12, "日": 6}
    assert all(type(v) is int for v in cal.get_day().values())
    buttons["2026-12-6"].configure(fg_color=CHOSEN)  # as the window marks it
    buttons["2026-12-24"].invoke()
    assert day(cal) == (2026, 12, 24)
    assert [k for k, b in buttons.items() if b.cget("fg_color") == CHOSEN] == ["2026-12-24"]
    assert buttons["2026-12-6"].cget("fg_color") == buttons["2026-12-7"].cget("fg_color")


def test_navigation_changes_the_month_but_not_the_day(window):
    cal = open_calendar(window)
    cal.show_month(2026, 12)
    cal.data["日曆按鈕"]["2026-12-31"].invoke()
    cal.data["月份按鈕"]["下個月"].invoke()
    assert cal.shown_month() == (2027, 1)
    assert "2027-1-31" in cal.data["日曆按鈕"] and "2026-12-31" not in cal.data["日曆按鈕"]
    assert day(cal) == (2026, 12, 31)
    for _ in range(13):
        cal.data["月份按鈕"]["上個月"].invoke()
    assert cal.shown_month() == (2025, 12)
    assert len(cal.data["日曆按鈕"]) == 31
    cal.data["日曆按鈕"]["2025-12-1"].invoke()
    assert day(cal) == (2025, 12, 1)


def test_reopening_keeps_the_chosen_day(root, window):
    cal = open_calendar(window)
    cal.show_month(2027, 3)
    cal.data["日曆按鈕"]["2027-3-15"].invoke()
    window.destroy()
    root.update()
    assert day(cal) == (2027, 3, 15)  # still readable after its window is gone
    top = customtkinter.CTkToplevel(root)
    try:
        again = open_calendar(top)
        assert again.shown_month() == (2027, 3)
        assert day(again) == (2027, 3, 15)
        assert again.data["日曆按鈕"]["2027-3-15"].cget("fg_color") == CHOSEN
    finally:
        top.destroy()


def test_destroy_through_the_calendar(root, window):
    cal = open_calendar(window)
    chosen = cal.get_day()
    assert cal.winfo_exists()
    cal.destroy()
    root.update()
    assert not cal.winfo_exists()
    assert cal.get_day() == chosen


def test_unchanged_day_colour_costs_nothing(window):
    cal = open_calendar(window)
    button = next(iter(cal.data["日曆按鈕"].values()))
    draws = []
    original = button._draw
    button._draw = lambda *a, **k: (draws.append(1), original(*a, **k))
    for _ in range(5):
        button.configure(fg_color=button.cget("fg_color"))
    assert draws == []
    button.configure(fg_color=CHOSEN)
    button.configure(fg_color=CHOSEN)
    assert len(draws) == 1 and button.cget("fg_color") == CHOSEN
    assert isinstance(button, customtkinter.CTkButton)


def test_read_only_calendar_ignores_clicks(window):
    cal = CTkCalendar(window, calendar_button=False)
    before = cal.get_day()
    for button in cal.data["日曆按鈕"].values():
        button.invoke()
    assert cal.get_day() == before


def test_fits_the_date_window(root, window):
    cal = open_calendar(window)
    cal.show_month(2026, 8)  # a six-week month
    root.update()
    assert cal.frame.winfo_reqwidth() <= 250 and cal.frame.winfo_reqheight() <= 250
    bottom = window.winfo_rooty() + 250
    right = window.winfo_rootx() + 250
    for button in cal.data["日曆按鈕"].values():
        assert button.winfo_ismapped()
        assert button.winfo_rooty() + button.winfo_height() <= bottom
        assert button.winfo_rootx() + button.winfo_width() <= right


def test_fresh_process_opens_on_today():
    code = (
        "import customtkinter as c, quillmarkers_model as q\n"
        "app = c.CTk()\n"
        "cal = q.Customtkinter_Model().CTkCalendar(app, calendar_button=True)\n"
        "d = cal.get_day(); k = f\"{d['年']}-{d['月']}-{d['日']}\"\n"
        "rings = [key for key, b in cal.data['日曆按鈕'].items() if b.cget('border_width') > 0]\n"
        "print(k, cal.shown_month(), rings)\n"
        "app.destroy()\n"
    )
    before = datetime.date.today()
    done = subprocess.run([sys.executable, "-c", code], env=dict(os.environ), capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    expected = set()
    for today in {before, datetime.date.today()}:  # the run may straddle midnight
        today_key = f"{today.year}-{today.month}-{today.day}"
        expected.add(f"{today_key} ({today.year}, {today.month}) ['{today_key}']")
    assert done.stdout.strip() in expected
