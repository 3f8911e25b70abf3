// aa: every 500 ms, the grand total, the busy caption, the chosen day, the line totals.
#include <vector>

#include "module_names.hpp"
#include "receiptora/amounts.hpp"
#include "receiptora/captions.hpp"
#include "receiptora_py/convert.hpp"
#include "window_state.hpp"

namespace gui {

using namespace pybind11::literals;

namespace {

// Runs a step whose every failure is ignored, so later steps still run.
template <class F>
void silently(F&& step) {
  try {
    step();
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_Exception)) throw;
  } catch (py::builtin_exception&) {
  }
}

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
  std::string caption;
  try {
    py::object columns = s.entry_table.attr("get")();
    const auto quantities = texts_of(columns[py::int_(1)]);
    const auto unit_prices = texts_of(columns[py::int_(2)]);
    caption = receiptora::grand_total_caption(receiptora::grand_total(quantities, unit_prices));
    s.mylabel_time_text.attr("set")(caption);
    return;
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_Exception)) throw;
  } catch (py::builtin_exception&) {
  }
  s.mylabel_time_text.attr("set")("金額輸入錯誤");
}

void show_busy_caption(WindowState& s) {
  const Texts& t = texts();
  py::object busy = s.Event_All_variable[t.get_receipt];
  if (compares_equal(busy.attr("is_set")(), Py_True)) {
    py::object caption = s.set_button.attr("cget")(t.output_caption, t.text);
    s.set_button.attr("configure")(t.output_caption, "text"_a = receiptora::next_busy_caption(caption.cast<std::string>()));
  } else if (compares_equal(busy.attr("is_set")(), Py_False)) {
    s.set_button.attr("configure")(t.output_caption, "text"_a = t.output_caption);
  }
}

void follow_chosen_day(WindowState& s) {
  py::object calendar = global_or_none("calendar");
  if (!calendar) return;  // the date window was never opened
  const Texts& t = texts();
  py::object current_date = calendar.attr("get_day")();
  py::object parameters = s.PP.attr("parameters");
  parameters[t.year] = current_date[t.year];
  parameters[t.month] = current_date[t.month];
  parameters[t.day] = current_date[t.day];
  py::str key(day_key_of(parameters));
  calendar.attr("data")[t.calendar_buttons][key].attr("configure")("fg_color"_a = t.day_colour);
}

}  // namespace

std::string day_key_of(py::handle parameters) {
  const Texts& t = texts();
  auto part = [&](const py::str& name) {
    py::object value = parameters[name];
    return PyUnicode_Check(value.ptr()) ? value.cast<std::string>() : py::str(value).cast<std::string>();
  };
  return receiptora::day_key(part(t.year), part(t.month), part(t.day));
}

py::object make_refresh(const State& state) {
  return py::cpp_function([state] {
    WindowState& s = *state;
    show_grand_total(s);
    silently([&] { show_busy_caption(s); });
    silently([&] { follow_chosen_day(s); });
    s.entry_table.attr("update")();
    s.app.attr("after")(500, s.aa);
  }, py::name("aa"));
}

}  // namespace gui
