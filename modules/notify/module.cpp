// receiptora._notify: a desktop notice from the window. A module of its own, imported on the
// first notice, so the window's process loads GLib and its D-Bus only when one is sent.
#include <pybind11/pybind11.h>

#include <string>

#include "receiptora/notify/notifier.hpp"
#include "receiptora_py/errors.hpp"
#include "receiptora_py/main_interpreter.hpp"

namespace py = pybind11;

// Loaded only into the main interpreter (see main_interpreter.hpp).
#define PyInit__notify pybind11_entry_point
PYBIND11_MODULE(_notify, m) {
  m.doc() = "Receiptora's desktop notices for the window (loaded on the first notice)";
  receiptora_py::use_error_policy_in_this_module();
  m.def(
      "send_notice",
      [](std::string summary, std::string body) {
        // Queued to the notifier's own thread: never waits for the bus.
        receiptora::notify::Notifier::session().send({std::move(summary), std::move(body), ""});
      },
      py::arg("summary"), py::arg("body") = "", "Sends a desktop notice on the session bus.");
}
#undef PyInit__notify

extern "C" PYBIND11_EXPORT PyObject* PyInit__notify() {
  return receiptora_py::in_main_interpreter("receiptora._notify", pybind11_entry_point);
}
