// What the window does to customtkinter beyond building widgets: its look, the pace of its
// background polls, and forgetting a closed window in its class-level registries.
#pragma once

#include <pybind11/pybind11.h>

namespace gui::toolkit {

namespace py = pybind11;

// customtkinter as bound on the module.
py::object ctk();

// Dark mode, the blue theme and slower background polls, before the first widget is made.
// The poll intervals are process-wide: restore_polls() puts back what prepare() found.
void prepare();
void restore_polls();

// Cancels every pending Tcl timer of the window's interpreter (the next refresh tick
// among them): Tcl runs the timers of every interpreter of the thread, so they would
// otherwise fire inside the next window's loop.
void cancel_timers(py::handle app);

// Drops the closed window from customtkinter's registries and cancels its timers.
void forget_closed_window(py::handle app);

}  // namespace gui::toolkit
