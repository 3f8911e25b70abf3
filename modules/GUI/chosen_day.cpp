// The receipt date: the date window (button_event_004) opens a calendar on the record's
// day, and every refresh tick copies the day chosen there into the record and keeps it
// marked.
#include "guards.hpp"
#include "module_names.hpp"
#include "platform.hpp"
#include "receiptora/captions.hpp"
#include "receiptora/request_keys.hpp"
#include "window_state.hpp"

namespace gui {

using namespace pybind11::literals;
namespace keys = receiptora::request_keys;

namespace {

// Marks the day button keyed by the record's day in the calendar's colour for the chosen day.
void mark_chosen_day(py::handle calendar, py::handle parameters) {
  py::str key(day_key_of(parameters));
  calendar.attr(name("data"))[name("日曆按鈕")][key].attr(name("configure"))(
      "fg_color"_a = name(receiptora::kChosenDayColour));
}

}  // namespace

std::string day_key_of(py::handle parameters) {
  auto part = [&](py::handle key) {
    py::object value = parameters[key];
    return PyUnicode_Check(value.ptr()) ? value.cast<std::string>() : py::str(value).cast<std::string>();
  };
  return receiptora::day_key(part(name(keys::kYear)), part(name(keys::kMonth)), part(name(keys::kDay)));
}

py::object make_date_window(const State& state) {
  return py::cpp_function([state] {
    WindowState& s = open_window(state);
    py::object setting_window = global("customtkinter").attr("CTkToplevel")();
    py::str icon = platform::resource_path("logo.ico");
    setting_window.attr("after")(
        250, py::cpp_function([setting_window, icon] { platform::set_window_icon(setting_window, icon); }));
    setting_window.attr("attributes")("-topmost", true);
    // In front once, then an ordinary window.
    setting_window.attr("after")(
        100, py::cpp_function([setting_window] { setting_window.attr("attributes")("-topmost", false); }));
    setting_window.attr("title")("日期");
    setting_window.attr("geometry")("250x250");
    py::object calendar = global("CTkCalendar")(setting_window, "calendar_button"_a = true);
    s.calendar = calendar;
    set_global("calendar", calendar);
    calendar.attr("grid")("row"_a = 0, "column"_a = 0, "sticky"_a = "new");
    mark_chosen_day(calendar, s.parameters_record.attr("parameters"));
  });
}

void follow_chosen_day(WindowState& s) {
  // Only a calendar this window opened answers: the module's `calendar` may still be the
  // one of a window closed earlier in this process, whose day is not this receipt's.
  py::object calendar = global_or_none("calendar");
  if (!calendar || !s.calendar || !calendar.is(s.calendar)) return;
  py::object current_date = calendar.attr(name("get_day"))();
  py::object parameters = s.parameters_record.attr(name("parameters"));
  for (const char* key : {keys::kYear, keys::kMonth, keys::kDay})
    parameters[name(key)] = current_date[name(key)];
  mark_chosen_day(calendar, parameters);
}

void forget_calendar(WindowState& s) {
  if (!s.calendar) return;
  py::object calendar = global_or_none("calendar");
  if (calendar && calendar.is(s.calendar)) remove_global("calendar");
}

}  // namespace gui
