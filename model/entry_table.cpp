// Entry_Table: the kit's table with line totals recomputed by the whole-number rule.
#include "module_names.hpp"
#include "py_class.hpp"
#include "receiptora/amounts.hpp"
#include "row_products.hpp"
#include "registration.hpp"

namespace gui {

namespace {

// The same text as last time: the very object (the mirror hands out the text Tk last wrote)
// or an equal str.
bool same_text(py::handle a, py::handle b) {
  if (a.is(b)) return true;
  return PyUnicode_Check(a.ptr()) && PyUnicode_Check(b.ptr()) && PyUnicode_Compare(a.ptr(), b.ptr()) == 0;
}

// The text of row in column, or None when the row is missing; a non-text counts as absent.
py::object text_at(py::handle column, size_t row) {
  if (!PyList_Check(column.ptr()) || row >= static_cast<size_t>(PyList_GET_SIZE(column.ptr())))
    return py::none();
  return py::reinterpret_borrow<py::object>(PyList_GET_ITEM(column.ptr(), row));
}

// quantity × unit price as the line-total cell shows it; "" unless both are texts.
py::str line_total(py::handle quantity, py::handle unit_price) {
  if (!PyUnicode_Check(quantity.ptr()) || !PyUnicode_Check(unit_price.ptr())) return py::str("");
  const auto product = row_products::product(quantity, unit_price);
  return py::str(product ? receiptora::line_total_text(*product) : std::string());
}

// Rewrites every cell of every "disabled" column with quantity × unit price of its row.
// The texts come from the kit's table (mirrored in C++, no call into Tk), and a row's total is
// computed again only when its quantity or unit price changed: with numbers of 100,000
// digits a computation takes milliseconds, and update runs every 500 ms.
void update_line_totals(const py::object& kit_get, py::object self) {
  py::object entry_name = self.attr(name("entry_name"));
  py::object entry = self.attr(name("entry"));
  py::object keys = self.attr(name("name_to_random_string"));
  py::list columns = kit_get(self);
  py::object quantity_key = keys[name("商品數量")], unit_price_key = keys[name("商品單價")];
  py::object quantities = py::none(), unit_prices = py::none();
  size_t index = 0;
  for (py::handle key : entry_name) {
    if (index < py::len(columns)) {
      if (key.equal(quantity_key)) quantities = columns[index];
      if (key.equal(unit_price_key)) unit_prices = columns[index];
    }
    ++index;
  }

  // Per row: (quantity, unit price, shown) of the last computation.
  py::object cached = py::getattr(self, name("_computed_line_totals"), py::none());
  py::list computed = PyList_Check(cached.ptr()) ? py::reinterpret_borrow<py::list>(cached) : py::list();
  if (!cached.is(computed)) self.attr(name("_computed_line_totals")) = computed;
  auto shown_for = [&](size_t row) -> py::object {
    py::object quantity = text_at(quantities, row), unit_price = text_at(unit_prices, row);
    if (row < py::len(computed)) {
      py::tuple last = computed[row];
      if (same_text(last[0], quantity) && same_text(last[1], unit_price)) return last[2];
    }
    py::object shown = line_total(quantity, unit_price);
    while (py::len(computed) <= row) computed.append(py::make_tuple(py::none(), py::none(), py::str("")));
    computed[row] = py::make_tuple(quantity, unit_price, shown);
    return shown;
  };

  for (py::handle key : entry_name) {
    py::object state = entry_name[key][py::int_(3)];
    if (!PyUnicode_Check(state.ptr()) || PyUnicode_CompareWithASCIIString(state.ptr(), "disabled") != 0)
      continue;
    py::object cells = entry[key];
    const size_t rows = py::len(cells);
    for (size_t j = 0; j < rows; ++j) cells[py::int_(j)][py::int_(0)].attr(name("set"))(shown_for(j));
  }
}

}  // namespace

void register_entry_table() {
  py::object base = global("customtkinter_model").attr("Entry_Table");
  py::dict namespace_;
  namespace_["__init__"] =
      method([base](py::object self, py::object frame) { base.attr("__init__")(self, frame); }, "init");
  py::object kit_get = base.attr("get");
  namespace_["update"] = method([kit_get](py::object self) { update_line_totals(kit_get, self); }, "update");
  set_global("Entry_Table", make_class("Entry_Table", py::make_tuple(base), namespace_));
}

}  // namespace gui
