// The objects one GUI call shares between its handlers.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <string>

namespace gui {

namespace py = pybind11;

// Filled once during start-up and never rebound; handlers change only what the slots hold.
struct WindowState {
  // GUI's two arguments: channel name → queue, channel name → event (worker_channels.hpp).
  py::object queues;
  py::object events;

  py::object main_window;          // the CTk root
  py::object buttons;              // the kit's Set_Button: the output button by name
  py::object grand_total_text;     // StringVar of the grand-total caption
  py::object item_table;           // Entry_Table: names, quantities, unit prices, line totals
  py::object buyer_fields;         // Set_Table: 買受人, 統一編號
  py::object parameters_record;    // Parameters: the options that outlive one press
  py::object date_switch;          // StringVar of the 日期 switch
  py::object template_menu;        // CTkOptionMenu of the receipt templates
  py::object exemption_stamp_box;  // StringVar of the 免用統一發票章 check box
  py::object owner_seal_box;       // StringVar of the 負責人章 check box
  py::object refresh_tick;         // the refresh tick as wrapped for the error log
  py::object calendar;             // the calendar of this window's date window, once opened

  // The grand total is computed again only when a quantity or a unit price changed.
  py::object counted_quantities, counted_unit_prices;
  py::object total_caption;  // str: the caption of the texts counted last

  bool closed = false;

  // Handlers hold the state and the state holds the refresh tick, a cycle that Python's
  // garbage collector cannot see through C++ captures: the entry function breaks it here.
  void release() {
    queues = events = main_window = buttons = grand_total_text = py::object();
    item_table = buyer_fields = parameters_record = date_switch = template_menu = py::object();
    exemption_stamp_box = owner_seal_box = refresh_tick = calendar = py::object();
    counted_quantities = counted_unit_prices = total_caption = py::object();
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
py::object make_output_request(const State& state);          // button_event_001
py::object make_open_output_folder();                        // button_event_003
py::object make_date_window(const State& state);             // button_event_004
py::object make_open_help_page();                            // button_event_005
py::object make_date_toggle(const State& state);             // switch_event_001
py::object make_exemption_stamp_toggle(const State& state);  // checkbox_event_1
py::object make_owner_seal_toggle(const State& state);       // checkbox_event_2
py::object make_refresh(const State& state);                 // aa, before wrapping

// Year, month and day of a parameters dictionary as plain texts joined by "-": 2026-12-6.
std::string day_key_of(py::handle parameters);

// Copies the day chosen in this window's date window into the record and keeps it marked.
void follow_chosen_day(WindowState& s);
// Unbinds the module's `calendar` when it is this window's, as the window closes.
void forget_calendar(WindowState& s);

}  // namespace gui
