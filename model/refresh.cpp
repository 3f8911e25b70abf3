// aa: every 500 ms, the grand total, the busy caption, the chosen day, the line totals.
#include "guards.hpp"
#include "module_names.hpp"
#include "receiptora/amounts.hpp"
#include "receiptora/captions.hpp"
#include "receiptora_py/compare.hpp"
#include "receiptora_py/convert.hpp"
#include "window_state.hpp"
#include "worker_channels.hpp"

namespace gui {

using namespace pybind11::literals;

namespace {

void show_grand_total(WindowState& s) {
  bool shown = false;
  on_exception(
      [&] {
        py::object columns = s.entry_table.attr(name("get"))();
        const auto quantities = receiptora_py::to_u32_texts(columns[py::int_(1)]);
        const auto unit_prices = receiptora_py::to_u32_texts(columns[py::int_(2)]);
        s.mylabel_time_text.attr(name("set"))(
            receiptora::grand_total_caption(receiptora::grand_total(quantities, unit_prices)));
        shown = true;
      },
      [](py::handle) {});
  // Outside the guard: a failure to show even this ends the tick.
  if (!shown) s.mylabel_time_text.attr(name("set"))("金額輸入錯誤");
}

void show_busy_caption(WindowState& s) {
  if (receiptora_py::equals(worker_channels::busy_answer(s), Py_True)) {
    py::object caption = s.set_button.attr(name("cget"))(name("輸出單據"), name("text"));
    s.set_button.attr(name("configure"))(
        name("輸出單據"), "text"_a = receiptora::next_busy_caption(caption.cast<std::string>()));
  } else if (receiptora_py::equals(worker_channels::busy_answer(s), Py_False)) {
    s.set_button.attr(name("configure"))(name("輸出單據"), "text"_a = name("輸出單據"));
  }
}

}  // namespace

py::object make_refresh(const State& state) {
  return py::cpp_function(
      [state] {
        WindowState& s = *state;
        show_grand_total(s);
        silently([&] { show_busy_caption(s); });
        silently([&] { follow_chosen_day(s); });
        s.entry_table.attr(name("update"))();
        s.app.attr(name("after"))(500, s.aa);
      },
      py::name("aa"));
}

}  // namespace gui
