// Entry_Table: the item table. Columns are added by title and width; each gets a random key,
// and the public dictionaries (name_to_random_string, entry_name, entry) live in the
// instance's __dict__ so the window's subclass reads them with plain attribute access.
// Cells of a column that is not "normal" show computed text (the line totals) through a
// Cell_Text, which only touches the widget when the text really changes.
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kit.hpp"
#include "receiptora_py/guards.hpp"
#include "text_mirror.hpp"
#include "window_guards.hpp"

namespace quillmarkers {

namespace {

using namespace py::literals;

// The text of a cell the kit does not follow, through its get(); None for a cell that cannot
// be read (get() raises or gives no text), never taken for an empty one: the grand total says
// 金額輸入錯誤 and a press is refused naming the row, where an empty text would leave the item
// out of the receipt.
py::object read_cell(py::handle cell) {
  py::object text;
  receiptora_py::silently([&] { text = cell.attr("get")(); });
  if (text && PyUnicode_Check(text.ptr())) return text;
  return py::none();
}

// The text of a read-only cell, shown through a StringVar bound to its entry.
struct CellText {
  py::object variable;
  py::object text = py::str("");

  void set(py::object value) {
    if (same_value(value, text)) return;
    variable.attr("set")(value);
    text = std::move(value);
  }
  py::object get() const { return text; }

  template <class F>
  void visit(F&& f) const {
    f(variable);
    f(text);
  }
  void clear() { variable = text = py::none(); }
};

struct EntryTable {
  py::object frame;
  py::object heading_font;
  py::object cell_font;
  size_t rows = 0;
  std::mt19937_64 random{std::random_device{}()};
  std::shared_ptr<TextMirror> typed = std::make_shared<TextMirror>();

  template <class F>
  void visit(F&& f) const {
    f(frame);
    f(heading_font);
    f(cell_font);
  }
  void clear() {
    frame = heading_font = cell_font = py::none();
    typed->clear();
  }

  void setup(py::object self, py::object parent) {
    frame = kit_frame_class()(parent, "fg_color"_a = "transparent");
    frame.attr("grid")("row"_a = 0, "column"_a = 0, "sticky"_a = "nw");
    heading_font = kit_font(13, "bold");
    cell_font = kit_font(13);
    self.attr("name_to_random_string") = py::dict();
    self.attr("entry_name") = py::dict();
    self.attr("entry") = py::dict();
  }

  // 16 letters and digits, starting with a letter; unique within this table.
  py::str new_key(const py::dict& taken) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz";
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (;;) {
      std::string key(1, kLetters[random() % 26]);
      while (key.size() < 16) key += kAlphabet[random() % 36];
      py::str candidate(key);
      if (!taken.contains(candidate)) return candidate;
    }
  }

  py::object make_cell(py::handle self, size_t column, size_t row, const py::list& description) {
    const py::object width = description[py::int_(1)], state = description[py::int_(3)];
    const py::dict grid("row"_a = row + 1, "column"_a = column, "padx"_a = 2, "pady"_a = 2);
    py::object variable =
        py::module_::import("tkinter").attr("StringVar")("master"_a = frame, "value"_a = "");
    if (state.cast<std::string>() == "normal") {
      py::object entry =
          kit_entry_class()(frame, "width"_a = width, "font"_a = cell_font, "textvariable"_a = variable);
      entry.attr("grid")(**grid);
      typed->follow(entry, variable);
      if (suggests_items(description[py::int_(0)])) hook_suggestions(entry, "item", taker(self, row));
      guard_field(entry, "item");
      return entry;
    }
    py::object entry =
        kit_entry_class()(frame, "width"_a = width, "font"_a = cell_font, "textvariable"_a = variable,
                          "state"_a = state, "justify"_a = "right", "fg_color"_a = "transparent");
    entry.attr("grid")(**grid);
    return py::make_tuple(py::cast(CellText{variable}), entry);
  }

  // Gives every column `rows` cells, creating only the missing ones, row by row: Tk's Tab
  // moves through sibling widgets in the order they were made, so a row is filled across
  // (the read-only line totals take no focus) before Tab goes on to the next row.
  void fill(py::object self) {
    py::dict descriptions = self.attr("entry_name");
    py::dict cells = self.attr("entry");
    for (auto [key, description] : descriptions)
      if (!cells.contains(key)) cells[key] = py::list();
    for (size_t row = 0; row < rows; ++row) {
      size_t column = 0;
      for (auto [key, description] : descriptions) {
        py::list column_cells = cells[key];
        if (py::len(column_cells) == row)
          column_cells.append(make_cell(self, column, row, py::reinterpret_borrow<py::list>(description)));
        ++column;
      }
    }
  }

  // Fills a row's name and unit price (the quantity is the operator's). Holds the table
  // weakly, and finds the cells when taking: the price column is added after the names.
  static py::object taker(py::handle self, size_t row) {
    return py::cpp_function([table = py::weakref(self), row](py::object name, py::object price) {
      py::object live = table();
      if (live.is_none()) return;
      py::dict keys = live.attr("name_to_random_string");
      py::dict cells = live.attr("entry");
      auto cell = [&](const py::object& title) -> py::object {
        if (!keys.contains(title)) return py::none();
        py::list column = cells[keys[title]];
        if (row >= py::len(column) || py::isinstance<py::tuple>(column[row])) return py::none();
        return column[row];
      };
      for (auto [title, text] : {std::pair{py::object(py::str(suggested_item_column())), name},
                                 std::pair{py::object(py::str(suggested_price_column())), price}})
        if (py::object target = cell(title); !target.is_none()) replace_text(target, text);
    });
  }

  py::str add_entry_name(py::object self, py::object title, py::object width, py::str state) {
    py::dict keys = self.attr("name_to_random_string");
    py::dict descriptions = self.attr("entry_name");
    py::dict cells = self.attr("entry");
    if (keys.contains(title))
      throw py::value_error("a column titled " + py::repr(title).cast<std::string>() + " exists already");

    const size_t column = py::len(descriptions);
    py::object heading =
        ctk().attr("CTkLabel")(frame, "text"_a = title, "width"_a = width, "font"_a = heading_font);
    heading.attr("grid")("row"_a = 0, "column"_a = column, "padx"_a = 2, "pady"_a = py::make_tuple(0, 2));

    py::str key = new_key(descriptions);
    keys[title] = key;
    descriptions[key] = py::list(py::make_tuple(title, width, key, state));
    cells[key] = py::list();
    fill(self);
    return key;
  }

  void add_table(py::object self, size_t count) {
    if (count > rows) rows = count;
    fill(self);
  }

  static py::list get(py::object self) {
    const EntryTable& t = self.cast<const EntryTable&>();
    py::dict descriptions = self.attr("entry_name");
    py::dict cells = self.attr("entry");
    py::list columns;
    for (auto [key, description] : descriptions) {
      py::list texts;
      if (PyObject* column = PyDict_GetItemWithError(cells.ptr(), key.ptr())) {
        for (py::handle cell : py::reinterpret_borrow<py::object>(column)) {
          if (PyObject* mirrored = t.typed->text_of(cell)) {
            texts.append(mirrored);  // typed: as last written by Tk
          } else if (py::isinstance<py::tuple>(cell) || py::isinstance<py::list>(cell)) {
            py::object shown = cell[py::int_(0)];
            texts.append(py::isinstance<CellText>(shown) ? shown.cast<const CellText&>().text
                                                         : read_cell(shown));
          } else {
            texts.append(read_cell(cell));  // a cell put in by someone else
          }
        }
      } else if (PyErr_Occurred()) {
        throw py::error_already_set();
      }
      columns.append(texts);
    }
    return columns;
  }
};

EntryTable& table(py::handle self) { return self.cast<EntryTable&>(); }

}  // namespace

void register_entry_table(py::module_& m) {
  py::class_<CellText>(m, "Cell_Text", collectable<CellText>(), "The text shown in a read-only table cell.")
      .def("set", &CellText::set, py::arg("text"), "Shows text; does nothing when it is already shown.")
      .def("get", &CellText::get, "The text shown.")
      .def_readonly("variable", &CellText::variable, "The StringVar bound to the cell's entry.");

  py::class_<EntryTable> cls(m, "Entry_Table", py::dynamic_attr(), collectable<EntryTable, true>(),
                             "The item table. Subclass it freely; call super().__init__(parent).");
  cls.def(py::init<>());
  // Replace the plain constructor with one that also sees the Python instance, so the
  // public dictionaries can be put into its __dict__.
  py::object construct = cls.attr("__init__");
  cls.attr("__init__") = py::cpp_function(
      [construct](py::object self, py::object parent) {
        construct(self);
        table(self).setup(self, std::move(parent));
      },
      py::name("__init__"), py::is_method(cls), py::arg("parent"));

  cls.def(
         "add_entry_name",
         [](py::object self, py::object title, py::object width, py::str state) {
           return table(self).add_entry_name(self, std::move(title), std::move(width), std::move(state));
         },
         py::arg("name"), py::arg("width") = 140, py::arg("state") = "normal",
         "Adds a column headed by name, width pixels wide; state 'disabled' makes its cells "
         "read-only (set their text through cell[0].set). Returns the column's key.")
      .def(
          "add_table", [](py::object self, size_t rows) { table(self).add_table(self, rows); },
          py::arg("rows"), "Creates the rows (cells for every column added so far).")
      .def("get", &EntryTable::get, "The texts: one list per column, in the order added, one text per row.");
}

}  // namespace quillmarkers
