// Closing a customtkinter root window for good: its Tcl timers cancelled and the window
// forgotten by customtkinter's class-level trackers.
#pragma once

#include <pybind11/pybind11.h>

#include "receiptora_py/guards.hpp"

namespace receiptora_py {

namespace py = pybind11;

// Tcl runs the timers of every interpreter of the thread, so a closed window's pending
// `after` scripts would fire inside the next window of the process.
inline void cancel_timers(py::handle app) {
  silently([&] {
    py::object tcl = app.attr("tk");
    for (py::handle id : tcl.attr("splitlist")(tcl.attr("call")("after", "info")))
      tcl.attr("call")("after", "cancel", id);
  });
}

// customtkinter keeps every window it has seen in class-level registries, so a closed
// window (with its Tcl interpreter) would otherwise live as long as the process.
inline void forget_closed_window(py::handle customtkinter, py::handle app) {
  cancel_timers(app);
  // Only memory is at stake; the window itself is closed already.
  silently([&] {
    py::list apps = customtkinter.attr("AppearanceModeTracker").attr("app_list");
    while (apps.contains(app)) apps.attr("remove")(app);
    py::dict scaling = customtkinter.attr("ScalingTracker").attr("window_dpi_scaling_dict");
    py::object interpreter = app.attr("tk");
    for (py::handle window : py::list(scaling.attr("keys")())) {
      if (py::object(window.attr("tk")).is(interpreter) && PyDict_DelItem(scaling.ptr(), window.ptr()) < 0)
        throw py::error_already_set();
    }
  });
}

}  // namespace receiptora_py
