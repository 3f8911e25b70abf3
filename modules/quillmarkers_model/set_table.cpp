// Set_Table: a column of labelled single-line entries (the buyer fields), read back by name.
#include <memory>

#include "kit.hpp"
#include "text_mirror.hpp"
#include "window_guards.hpp"

namespace quillmarkers {

namespace {

using namespace py::literals;

constexpr int kLabelWidth = 72;
constexpr int kEntryWidth = 280;  // label + entry fit a 395 px panel entered 10 px in

struct SetTable {
  py::object frame;
  py::object font;
  py::dict entries;  // name -> CTkEntry
  std::shared_ptr<TextMirror> typed = std::make_shared<TextMirror>();

  template <class F>
  void visit(F&& f) const {
    f(frame);
    f(font);
    f(entries);
  }
  void clear() {
    frame = font = py::none();
    entries = py::dict();
    typed->clear();
  }

  explicit SetTable(py::object parent) {
    frame = kit_frame_class()(parent, "fg_color"_a = "transparent");
    frame.attr("grid")("row"_a = 0, "column"_a = 0, "sticky"_a = "nw");
    font = kit_font(13);
  }

  py::object add_entry_name(py::handle self, py::object name) {
    if (entries.contains(name))
      throw py::value_error("a field named " + py::repr(name).cast<std::string>() + " exists already");
    const auto row = py::len(entries);
    py::object label = ctk().attr("CTkLabel")(frame, "text"_a = name, "width"_a = kLabelWidth,
                                              "anchor"_a = "w", "font"_a = font);
    label.attr("grid")("row"_a = row, "column"_a = 0, "padx"_a = py::make_tuple(8, 6), "pady"_a = 4,
                       "sticky"_a = "w");
    py::object variable =
        py::module_::import("tkinter").attr("StringVar")("master"_a = frame, "value"_a = "");
    py::object entry =
        kit_entry_class()(frame, "width"_a = kEntryWidth, "font"_a = font, "textvariable"_a = variable);
    typed->follow(entry, variable);
    entry.attr("grid")("row"_a = row, "column"_a = 1, "padx"_a = py::make_tuple(0, 8), "pady"_a = 4,
                       "sticky"_a = "ew");
    entries[name] = entry;
    if (suggests_buyers(name)) hook_suggestions(entry, "buyer", taker(self, name));
    if (py::str(suggested_tax_id_field()).equal(name))
      guard_field(entry, "tax_id");
    else if (py::str("買受人").equal(name))
      guard_field(entry, "buyer");
    return entry;
  }

  // Fills the buyer and, when the suggestion has one, the 統一編號 (a typed one is kept
  // otherwise). Holds the table weakly: the entry's Tk binding outlives nothing.
  static py::object taker(py::handle self, py::object buyer_field) {
    return py::cpp_function([table = py::weakref(self), buyer_field](py::object name, py::str tax_id) {
      py::object live = table();
      if (live.is_none()) return;
      const py::dict& entries = live.cast<SetTable&>().entries;
      const py::str tax_id_field(suggested_tax_id_field());
      if (entries.contains(buyer_field)) replace_text(entries[buyer_field], name);
      if (py::len(tax_id) > 0 && entries.contains(tax_id_field)) replace_text(entries[tax_id_field], tax_id);
    });
  }

  py::object get(py::handle name) const {
    PyObject* entry = PyDict_GetItemWithError(entries.ptr(), name.ptr());
    if (!entry) {
      if (PyErr_Occurred()) throw py::error_already_set();
      throw py::key_error(py::repr(name).cast<std::string>());
    }
    if (PyObject* text = typed->text_of(entry)) return py::reinterpret_borrow<py::object>(text);
    return py::reinterpret_borrow<py::object>(entry).attr("get")();
  }
};

}  // namespace

void register_set_table(py::module_& m) {
  py::class_<SetTable>(m, "Set_Table", collectable<SetTable>(),
                       "Labelled single-line entries, read back by name.")
      .def(py::init<py::object>(), py::arg("parent"))
      .def(
          "add_entry_name",
          [](py::object self, py::object name) { return self.cast<SetTable&>().add_entry_name(self, name); },
          py::arg("name"), "Adds a row: a label showing name and an entry beside it. Returns the entry.")
      .def("get", &SetTable::get, py::arg("name"), "The text of the named entry.")
      .def_readonly("frame", &SetTable::frame, "The frame holding the rows.")
      .def_property_readonly(
          "entry", [](const SetTable& t) { return t.entries; }, "name -> CTkEntry");
}

}  // namespace quillmarkers
