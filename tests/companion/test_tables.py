import customtkinter
import pytest

import quillmarkers_model as quillmarkers

pytestmark = pytest.mark.gui

kit = quillmarkers.Customtkinter_Model()
COLUMNS = [("商品名稱", 200, "normal"), ("商品數量", 100, "normal"), ("商品單價", 100, "normal"), ("商品總額", 200, "disabled")]


class PythonTable(kit.Entry_Table):
    def __init__(self, parent):
        super().__init__(parent)
        self.own = "set by the subclass"


def _update(self):
    """What the window's update does: write each line total from quantity and price."""
    keys = self.name_to_random_string
    for key, description in self.entry_name.items():
        if description[3] == "disabled":
            for row, cell in enumerate(self.entry[key]):
                quantity, price = (self.entry[keys[t]][row].get() for t in ("商品數量", "商品單價"))
                cell[0].set(f"{int(quantity) * int(price)} 元" if quantity and price else "")


BuiltTable = type("Entry_Table", (kit.Entry_Table,), {
    "__init__": lambda self, parent: kit.Entry_Table.__init__(self, parent), "update": _update, "__module__": "GUI"})


@pytest.fixture(params=[PythonTable, BuiltTable], ids=["python-subclass", "type-built"])
def table(request, frame):
    t = request.param(frame)
    for title, width, state in COLUMNS:
        t.add_entry_name(title, width, **({} if state == "normal" else {"state": state}))
    t.add_table(7)
    return t


def typed(cell, text):
    cell.delete(0, "end")
    cell.insert(0, text)


def test_set_table(root, frame):
    table = kit.Set_Table(frame)
    buyer = table.add_entry_name("買受人")
    table.add_entry_name("統一編號")
    typed(buyer, "王小明商行")
    assert (table.get("買受人"), table.get("統一編號")) == ("王小明商行", "")
    with pytest.raises(KeyError):
        table.get("地址")
    with pytest.raises(ValueError):
        table.add_entry_name("買受人")
    root.update_idletasks()
    assert 340 <= table.frame.winfo_reqwidth() <= 385  # fills the 395 px buyer panel, placed 10 px in
    labels = [w.cget("text") for w in table.frame.winfo_children() if isinstance(w, customtkinter.CTkLabel)]
    assert labels == ["買受人", "統一編號"]


def test_members_and_cells(table):
    keys = table.name_to_random_string
    assert list(keys) == [title for title, _, _ in COLUMNS]
    assert len(set(keys.values())) == 4 and all(isinstance(k, str) and len(k) >= 8 for k in keys.values())
    assert list(table.entry_name) == list(keys.values())
    assert {"entry", "entry_name", "name_to_random_string"} <= set(vars(table))
    for title, width, state in COLUMNS:
        key = keys[title]
        assert table.entry_name[key][:4] == [title, width, key, state]
        assert len(table.entry[key]) == 7
        for cell in table.entry[key]:
            entry = cell if state == "normal" else cell[1]
            assert isinstance(entry, customtkinter.CTkEntry) and entry.cget("state") == state


def test_get_returns_every_column_in_order(table):
    keys = table.name_to_random_string
    typed(table.entry[keys["商品名稱"]][0], "原子筆")
    typed(table.entry[keys["商品數量"]][0], "3")
    typed(table.entry[keys["商品單價"]][6], "15")
    table.entry[keys["商品總額"]][0][0].set("45 元")
    assert table.get() == [["原子筆"] + [""] * 6, ["3"] + [""] * 6, [""] * 6 + ["15"], ["45 元"] + [""] * 6]


def test_read_only_cell_set_writes_only_changes(table):
    cell, entry = table.entry[table.name_to_random_string["商品總額"]][2]
    writes = []
    cell.variable.trace_add("write", lambda *_: writes.append(cell.variable.get()))
    for text in ["150 元", "150 元", "150 元", "", "", "30 元"]:
        cell.set(text)
        assert cell.get() == entry.get() == text  # entry.get(): what the disabled entry shows
    assert writes == ["150 元", "", "30 元"]


def test_layout_headings_above_columns_of_given_width(root, table):
    root.update_idletasks()
    grid = table.entry[table.name_to_random_string["商品名稱"]][0].master
    for column, (title, width, _) in enumerate(COLUMNS):
        assert grid.grid_slaves(row=0, column=column)[0].cget("text") == title
        for row, cell in enumerate(table.entry[table.name_to_random_string[title]]):
            widget = cell[1] if isinstance(cell, tuple) else cell
            assert (widget.grid_info()["row"], widget.grid_info()["column"]) == (row + 1, column)
            assert widget.winfo_reqwidth() == width


def test_subclass_members_and_methods(table):
    if isinstance(table, PythonTable):
        assert table.own == "set by the subclass"
        return
    keys = table.name_to_random_string
    typed(table.entry[keys["商品數量"]][1], "3")
    typed(table.entry[keys["商品單價"]][1], "50")
    table.update()
    assert table.get()[3][:2] == ["", "150 元"]
    assert type(table).__module__ == "GUI"


def test_columns_and_rows_added_later_are_filled(frame):
    table = PythonTable(frame)
    first = table.add_entry_name("品名", 120)
    table.add_table(2)
    second = table.add_entry_name("金額", 80, state="disabled")
    cells_before = list(table.entry[first])
    table.add_table(4)
    assert [len(table.entry[k]) for k in (first, second)] == [4, 4]
    assert table.entry[first][:2] == cells_before
    assert table.get() == [[""] * 4, [""] * 4]
    with pytest.raises(ValueError):
        table.add_entry_name("品名", 50)


@pytest.mark.parametrize("change", ["keys", "insert", "variable", "replaced"])
def test_get_follows_every_way_the_text_changes(root, table, change):
    """get() answers from texts mirrored as Tk writes them; it must never lag the entry."""
    cell = table.entry[table.name_to_random_string["商品數量"]][2]
    typed(cell, "12")
    if change == "keys":
        cell._entry.focus_force()
        cell.icursor("end")
        root.update()
        for key in ("BackSpace", "3", "4"):
            cell._entry.event_generate("<KeyPress>", keysym=key)
        root.update()
        expected = "134"
    elif change == "insert":
        cell.delete(0, 1)
        expected = "2"
    elif change == "variable":
        cell.cget("textvariable").set("７")
        expected = "７"
    else:  # a cell replaced from outside is read through its own get()
        other = customtkinter.CTkEntry(table.entry[table.name_to_random_string["商品名稱"]][0].master)
        other.insert(0, "99")
        table.entry[table.name_to_random_string["商品數量"]][2] = other
        expected = "99"
    assert table.get()[1][2] == expected
    assert table.get()[1][:2] == ["", ""]
