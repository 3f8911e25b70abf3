// Entry_Table: the kit's table with line totals recomputed by the whole-number rule.
#include "module_names.hpp"
#include "py_class.hpp"
#include "row_products.hpp"
#include "registration.hpp"

namespace gui {

namespace {

// The text of row in column, or None when the row is missing; a non-text counts as absent.
py::object text_at(py::handle column, size_t row) {
  if (!PyList_Check(column.ptr()) || row >= static_cast<size_t>(PyList_GET_SIZE(column.ptr())))
    return py::none();
  return py::reinterpret_borrow<py::object>(PyList_GET_ITEM(column.ptr(), row));
}

// quantity × unit price of a row as the line-total cell shows it; "" unless both are texts.
py::object line_total_at(py::handle quantities, py::handle unit_prices, size_t row) {
  py::object quantity = text_at(quantities, row), unit_price = text_at(unit_prices, row);
  if (!PyUnicode_Check(quantity.ptr()) || !PyUnicode_Check(unit_price.ptr())) return py::str("");
  return row_products::line_total(quantity, unit_price);
}

// Rewrites every cell of every "disabled" column with quantity × unit price of its row.
// The texts come from the kit's table (mirrored in C++, no call into Tk) and the totals from
// row_products, so a row's total is computed again only when its quantity or unit price
// changed: with numbers of 100,000 digits a computation takes milliseconds, and update runs
// every 500 ms.
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

  for (py::handle key : entry_name) {
    py::object state = entry_name[key][py::int_(3)];
    if (!PyUnicode_Check(state.ptr()) || PyUnicode_CompareWithASCIIString(state.ptr(), "disabled") != 0)
      continue;
    py::object cells = entry[key];
    const size_t rows = py::len(cells);
    for (size_t j = 0; j < rows; ++j)
      cells[py::int_(j)][py::int_(0)].attr(name("set"))(line_total_at(quantities, unit_prices, j));
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
