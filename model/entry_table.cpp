// Entry_Table: the kit's table with line totals recomputed by the whole-number rule.
#include "module_names.hpp"
#include "py_class.hpp"
#include "receiptora/amounts.hpp"
#include "receiptora_py/convert.hpp"
#include "registration.hpp"

namespace gui {

namespace {

// Rewrites every cell of every "disabled" column with quantity × unit price of its row.
void update_line_totals(py::object self) {
  py::object entry_name = self.attr(name("entry_name"));
  py::object entry = self.attr(name("entry"));
  py::object keys = self.attr(name("name_to_random_string"));
  for (py::handle key : entry_name) {
    py::object state = entry_name[key][py::int_(3)];
    if (!PyUnicode_Check(state.ptr()) || PyUnicode_CompareWithASCIIString(state.ptr(), "disabled") != 0)
      continue;
    py::object cells = entry[key];
    const size_t rows = py::len(cells);
    for (size_t j = 0; j < rows; ++j) {
      std::string shown;
      try {
        py::object quantity = entry[keys[name("商品數量")]][py::int_(j)].attr(name("get"))();
        py::object unit_price = entry[keys[name("商品單價")]][py::int_(j)].attr(name("get"))();
        shown =
            receiptora::line_total_text(receiptora_py::to_u32(quantity), receiptora_py::to_u32(unit_price));
      } catch (py::error_already_set&) {
        shown.clear();  // an unreadable row simply shows no line total
      }
      cells[py::int_(j)][py::int_(0)].attr(name("set"))(shown);
    }
  }
}

}  // namespace

void register_entry_table() {
  py::object base = global("customtkinter_model").attr("Entry_Table");
  py::dict namespace_;
  namespace_["__init__"] =
      method([base](py::object self, py::object frame) { base.attr("__init__")(self, frame); }, "init");
  namespace_["update"] = method(&update_line_totals, "update");
  set_global("Entry_Table", make_class("Entry_Table", py::make_tuple(base), namespace_));
}

}  // namespace gui
