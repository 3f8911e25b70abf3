// aa: every 500 ms, the grand total, the busy caption, the chosen day, the line totals.
#include <memory>
#include <vector>

#include "guards.hpp"
#include "module_names.hpp"
#include "receiptora/amounts.hpp"
#include "receiptora/captions.hpp"
#include "receiptora_py/compare.hpp"
#include "row_products.hpp"
#include "window_state.hpp"
#include "worker_channels.hpp"

namespace gui {

using namespace pybind11::literals;

namespace {

// The same texts as counted last time (lists compare their items by identity first, and
// the mirrored texts stay the same objects until Tk writes new ones).
bool same_texts(py::handle counted, py::handle now) {
  return counted && receiptora_py::same_value(counted, now);
}

// The grand total by the core's rule, with each row's product from row_products.
receiptora::GrandTotal sum_rows(py::handle quantities, py::handle unit_prices) {
  const py::list q(py::reinterpret_borrow<py::object>(quantities));
  const py::list p(py::reinterpret_borrow<py::object>(unit_prices));
  auto empty = [](py::handle text) {
    if (!PyUnicode_Check(text.ptr())) throw py::type_error("expected str");
    return PyUnicode_GET_LENGTH(text.ptr()) == 0;
  };
  std::vector<std::shared_ptr<const mpz_class>> products;  // keeps the rows' products alive
  std::vector<receiptora::RowReading> rows;
  for (size_t i = 0; i < q.size(); ++i) {
    const bool has_unit_price = i < p.size();
    receiptora::RowReading row{empty(q[i]), has_unit_price, has_unit_price && empty(p[i]), nullptr};
    if (!row.quantity_empty && has_unit_price && !row.unit_price_empty) {
      products.push_back(row_products::product(q[i], p[i]));
      row.product = products.back().get();
    }
    rows.push_back(row);
  }
  return receiptora::grand_total(rows);
}

// Writes text into the caption's variable unless it holds that text already: Tk lays out and
// draws the label again on every write, an unchanged one included, twice a second.
void show(py::handle variable, py::handle text) {
  if (!receiptora_py::same_text(variable.attr(name("get"))(), text)) variable.attr(name("set"))(text);
}

void show_grand_total(WindowState& s) {
  bool shown = false;
  on_exception(
      [&] {
        py::object columns = s.item_table.attr(name("get"))();
        py::object quantities = columns[py::int_(1)], unit_prices = columns[py::int_(2)];
        // Summed again only when a text changed: with numbers of 100,000 digits a sum takes
        // tens of milliseconds, and the tick runs every 500 ms.
        if (!same_texts(s.counted_quantities, quantities) ||
            !same_texts(s.counted_unit_prices, unit_prices)) {
          s.counted_quantities = s.counted_unit_prices = py::object();
          s.total_caption = py::str(receiptora::grand_total_caption(sum_rows(quantities, unit_prices)));
          s.counted_quantities = quantities;
          s.counted_unit_prices = unit_prices;
        }
        show(s.grand_total_text, s.total_caption);
        shown = true;
      },
      [](py::handle) {});
  // Outside the guard: a failure to show even this ends the tick.
  if (!shown) show(s.grand_total_text, name("金額輸入錯誤"));
}

void show_busy_caption(WindowState& s) {
  if (receiptora_py::equals(worker_channels::busy_answer(s), Py_True)) {
    py::object caption = s.buttons.attr(name("cget"))(name("輸出單據"), name("text"));
    s.buttons.attr(name("configure"))(name("輸出單據"),
                                      "text"_a = receiptora::next_busy_caption(caption.cast<std::string>()));
  } else if (receiptora_py::equals(worker_channels::busy_answer(s), Py_False)) {
    s.buttons.attr(name("configure"))(name("輸出單據"), "text"_a = name("輸出單據"));
  }
}

}  // namespace

py::object make_refresh(const State& state) {
  return py::cpp_function(
      [state] {
        WindowState& s = open_window(state);
        show_grand_total(s);
        silently([&] { show_busy_caption(s); });
        silently([&] { follow_chosen_day(s); });
        s.item_table.attr(name("update"))();
        s.main_window.attr(name("after"))(500, s.refresh_tick);
      },
      py::name("aa"));
}

}  // namespace gui
