"""Kit objects hold Python objects in C++; a reference cycle through one of them must still
be freed by the cycle collector once the widgets are gone."""
import gc
import weakref

import customtkinter
import pytest

import quillmarkers_model as quillmarkers

pytestmark = pytest.mark.gui

kit = quillmarkers.Customtkinter_Model()


def set_button_cycle(parent):
    buttons = kit.Set_Button()
    buttons.add_button(parent, button_name="x", button_event=lambda: buttons.cget("x", "text"))
    return buttons


def set_table_cycle(parent):
    table = kit.Set_Table(parent)
    table.frame.owner = table
    return table


def entry_table_cycle(parent):
    table = kit.Entry_Table(parent)
    key = table.add_entry_name("商品", 100)
    table.add_table(1)
    table.entry[key][0].master.owner = table
    return table


def cell_text_cycle(parent):
    table = kit.Entry_Table(parent)
    table.add_entry_name("商品總額", 100, state="disabled")
    table.add_table(1)
    cell = next(iter(table.entry.values()))[0][0]
    cell.variable.owner = cell
    return cell


def calendar_cycle(parent):
    calendar = kit.CTkCalendar(parent)
    calendar.frame.owner = calendar
    return calendar


def logged_call_cycle(parent):
    box = {}
    box["wrapped"] = quillmarkers.Try_Except_Model().try_except_log(lambda: box)
    return box["wrapped"]


@pytest.mark.parametrize("make", [set_button_cycle, set_table_cycle, entry_table_cycle, cell_text_cycle, calendar_cycle, logged_call_cycle])
def test_cycles_through_kit_objects_are_collected(root, make):
    parent = customtkinter.CTkFrame(root)
    made = weakref.ref(make(parent))
    root.update()
    parent.destroy()
    root.update()
    del parent
    gc.collect()
    assert made() is None
