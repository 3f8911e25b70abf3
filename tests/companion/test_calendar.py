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
    """The window's date picker: a 250x250 toplevel holding a calendar."""
    top = customtkinter.CTkToplevel(root)
    top.geometry("250x250+0+0")
    yield top
    if top.winfo_exists():
        top.destroy()
    root.update_idletasks()


def open_calendar(parent):
    cal = CTkCalendar(parent, calendar_button=True)
    cal.grid(row=0, column=0, sticky="new")
    return cal


def day(cal):
    return tuple(cal.get_day()[k] for k in ("年", "月", "日"))


# The month arithmetic has its own table in core/tests; these check that the calendar follows it.
@pytest.mark.parametrize("year, month, first_column", [(2024, 2, 4), (2025, 11, 6)])
def test_days_of_the_shown_month(window, year, month, first_column):
    cal = open_calendar(window)
    cal.show_month(year, month)
    days = pycalendar.monthrange(year, month)[1]
    buttons = cal.data["日曆按鈕"]
    assert list(buttons) == [f"{year}-{month}-{d}" for d in range(1, days + 1)]
    assert [b.cget("text") for b in buttons.values()] == [str(d) for d in range(1, days + 1)]
    assert cal.data["日曆標題"].cget("text") == f"{year - 1911}年{month}月"
    for d, button in enumerate(buttons.values(), start=1):
        slot = first_column + d - 1
        assert (button.grid_info()["row"] - buttons[f"{year}-{month}-1"].grid_info()["row"], button.grid_info()["column"]) == divmod(slot, 7)


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
    assert buttons["2026-12-6"].cget("fg_color") == buttons["2026-12-7"].cget("fg_color") != CHOSEN


def test_navigation_changes_the_month_but_not_the_day(window):
    cal = open_calendar(window)
    cal.show_month(2026, 12)
    cal.data["日曆按鈕"]["2026-12-31"].invoke()
    cal.data["月份按鈕"]["下個月"].invoke()
    assert cal.shown_month() == (2027, 1) and "2027-1-31" in cal.data["日曆按鈕"]
    assert day(cal) == (2026, 12, 31)
    for _ in range(13):
        cal.data["月份按鈕"]["上個月"].invoke()
    assert cal.shown_month() == (2025, 12) and len(cal.data["日曆按鈕"]) == 31
    cal.data["日曆按鈕"]["2025-12-1"].invoke()
    assert day(cal) == (2025, 12, 1)


def test_reopening_keeps_the_chosen_day_and_get_day_outlives_the_window(root, window):
    cal = open_calendar(window)
    cal.show_month(2027, 3)
    cal.data["日曆按鈕"]["2027-3-15"].invoke()
    window.destroy()
    root.update()
    assert not cal.winfo_exists()
    assert day(cal) == (2027, 3, 15)
    top = customtkinter.CTkToplevel(root)
    try:
        again = open_calendar(top)
        assert again.shown_month() == (2027, 3) and day(again) == (2027, 3, 15)
        assert again.data["日曆按鈕"]["2027-3-15"].cget("fg_color") == CHOSEN
        again.destroy()
        assert day(again) == (2027, 3, 15)
    finally:
        top.destroy()


def test_unchanged_day_colour_costs_nothing(window):
    button = next(iter(open_calendar(window).data["日曆按鈕"].values()))
    assert isinstance(button, customtkinter.CTkButton)
    draws, original = [], button._draw
    button._draw = lambda *a, **k: (draws.append(1), original(*a, **k))
    for colour in [button.cget("fg_color")] * 3 + [CHOSEN] * 3:
        button.configure(fg_color=colour)
    assert len(draws) == 1 and button.cget("fg_color") == CHOSEN


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
    for button in cal.data["日曆按鈕"].values():
        assert button.winfo_ismapped()
        assert button.winfo_rooty() + button.winfo_height() <= window.winfo_rooty() + 250
        assert button.winfo_rootx() + button.winfo_width() <= window.winfo_rootx() + 250


def test_fresh_process_opens_on_today():
    code = (
        "import customtkinter as c, quillmarkers_model as q\n"
        "cal = q.Customtkinter_Model().CTkCalendar(c.CTk(), calendar_button=True)\n"
        "d = cal.get_day()\n"
        "rings = [k for k, b in cal.data['日曆按鈕'].items() if b.cget('border_width') > 0]\n"
        "print(f\"{d['年']}-{d['月']}-{d['日']}\", cal.shown_month(), rings)\n"
    )
    before = datetime.date.today()
    done = subprocess.run([sys.executable, "-c", code], env=dict(os.environ), capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    expected = {f"{t.year}-{t.month}-{t.day} ({t.year}, {t.month}) ['{t.year}-{t.month}-{t.day}']"
                for t in (before, datetime.date.today())}  # the run may straddle midnight
    assert done.stdout.strip() in expected


def test_new_application_window_opens_on_today(root, window):
    cal = open_calendar(window)
    today = datetime.date.today()
    other = next(k for k in cal.data["日曆按鈕"] if k != f"{today.year}-{today.month}-{today.day}")
    cal.data["日曆按鈕"][other].invoke()
    assert open_calendar(window).get_day() == cal.get_day()   # same window: the chosen day
    second_app = customtkinter.CTk()
    try:
        fresh = open_calendar(customtkinter.CTkToplevel(second_app))
        assert day(fresh) in {(t.year, t.month, t.day) for t in (today, datetime.date.today())}
    finally:
        second_app.destroy()
