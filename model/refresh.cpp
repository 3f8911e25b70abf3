// aa: every 500 ms, the grand total, the busy caption, the chosen day, the line totals.
#include <vector>

#include "guards.hpp"
#include "module_names.hpp"
#include "receiptora/amounts.hpp"
#include "receiptora/captions.hpp"
#include "receiptora_py/convert.hpp"
#include "window_state.hpp"
#include "worker_channels.hpp"

namespace gui {

using namespace pybind11::literals;

namespace {

std::vector<std::u32string> texts_of(py::handle column) {
  std::vector<std::u32string> out;
  for (py::handle text : column) out.push_back(receiptora_py::to_u32(text));
  return out;
}

bool compares_equal(py::handle value, PyObject* constant) {
  const int result = PyObject_RichCompareBool(value.ptr(), constant, Py_EQ);
  if (result < 0) throw py::error_already_set();
  return result == 1;
}

void show_grand_total(WindowState& s) {
  bool shown = false;
  on_exception(
      [&] {
        py::object columns = s.entry_table.attr(name("get"))();
        const auto quantities = texts_of(columns[py::int_(1)]);
        const auto unit_prices = texts_of(columns[py::int_(2)]);
        s.mylabel_time_text.attr(name("set"))(
            receiptora::grand_total_caption(receiptora::grand_total(quantities, unit_prices)));
        shown = true;
      },
      [](py::handle) {});
  // Outside the guard: a failure to show even this ends the tick.
  if (!shown) s.mylabel_time_text.attr(name("set"))("金額輸入錯誤");
}

void show_busy_caption(WindowState& s) {
  if (compares_equal(worker_channels::busy_answer(s), Py_True)) {
    py::object caption = s.set_button.attr(name("cget"))(name("輸出單據"), name("text"));
    s.set_button.attr(name("configure"))(
        name("輸出單據"), "text"_a = receiptora::next_busy_caption(caption.cast<std::string>()));
  } else if (compares_equal(worker_channels::busy_answer(s), Py_False)) {
    s.set_button.attr(name("configure"))(name("輸出單據"), "text"_a = name("輸出單據"));
  }
}

void follow_chosen_day(WindowState& s) {
  py::object calendar = global_or_none("calendar");
  if (!calendar) return;  // the date window was never opened
  py::object current_date = calendar.attr(name("get_day"))();
  py::object parameters = s.PP.attr(name("parameters"));
  parameters[name("年")] = current_date[name("年")];
  parameters[name("月")] = current_date[name("月")];
  parameters[name("日")] = current_date[name("日")];
  py::str key(day_key_of(parameters));
  calendar.attr(name("data"))[name("日曆按鈕")][key].attr(name("configure"))("fg_color"_a = name("#3B8ED0"));
}

}  // namespace

std::string day_key_of(py::handle parameters) {
  auto part = [&](py::handle key) {
    py::object value = parameters[key];
    return PyUnicode_Check(value.ptr()) ? value.cast<std::string>() : py::str(value).cast<std::string>();
  };
  return receiptora::day_key(part(name("年")), part(name("月")), part(name("日")));
}

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
