// The objects one GUI call shares between its handlers.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <string>

namespace gui {

namespace py = pybind11;

// Filled once during start-up and never rebound; handlers change only what the slots hold.
struct WindowState {
  py::object Queue_All_variable;
  py::object Event_All_variable;
  py::object set_button;
  py::object app;
  py::object mylabel_time_text;
  py::object entry_table;
  py::object set_table;
  py::object PP;
  py::object switch_var_001;
  py::object optionmenu_001;
  py::object check_var_1;
  py::object check_var_2;
  py::object aa;
  py::object calendar;  // the calendar of this window's date window, once opened

  // The grand total is computed again only when a quantity or a unit price changed.
  py::object counted_quantities, counted_unit_prices;
  std::string total_caption;

  bool closed = false;

  // Handlers hold the state and the state holds the refresh tick, a cycle that Python's
  // garbage collector cannot see through C++ captures: the entry function breaks it here.
  void release() {
    Queue_All_variable = Event_All_variable = set_button = app = mylabel_time_text = py::object();
    entry_table = set_table = PP = switch_var_001 = optionmenu_001 = py::object();
    check_var_1 = check_var_2 = aa = calendar = py::object();
    counted_quantities = counted_unit_prices = py::object();
    closed = true;
  }
};

using State = std::shared_ptr<WindowState>;

// The state of a window that is still open. A handler kept beyond its window (a reference
// held by the host, say) raises RuntimeError instead of touching released objects.
inline WindowState& open_window(const State& state) {
  if (state->closed) {
    PyErr_SetString(PyExc_RuntimeError, "the Receiptora window of this handler is closed");
    throw py::error_already_set();
  }
  return *state;
}

// Handlers, each a no-argument Python callable closing over the state.
py::object make_output_request(const State& state);  // button_event_001
py::object make_open_output_folder();                // button_event_003
py::object make_date_window(const State& state);     // button_event_004
py::object make_open_help_page();                    // button_event_005
py::object make_switch_event(const State& state);    // switch_event_001
py::object make_checkbox_event_1(const State& state);
py::object make_checkbox_event_2(const State& state);
py::object make_refresh(const State& state);  // aa, before wrapping

// Year, month and day of a parameters dictionary as plain texts joined by "-": 2026-12-6.
std::string day_key_of(py::handle parameters);

// Copies the day chosen in this window's date window into the record and keeps it marked.
void follow_chosen_day(WindowState& s);
// Unbinds the module's `calendar` when it is this window's, as the window closes.
void forget_calendar(WindowState& s);

}  // namespace gui
