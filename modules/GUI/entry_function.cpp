// GUI(Queue_All_variable, Event_All_variable): checks the arguments, builds the main
// window, runs its event loop and tells the receipt worker to finish when the operator
// closes it.
#include <Python.h>

#include "guards.hpp"
#include "layout.hpp"
#include "module_names.hpp"
#include "receiptora_py/errors.hpp"
#include "registration.hpp"
#include "row_products.hpp"
#include "toolkit.hpp"
#include "window_state.hpp"
#include "worker_channels.hpp"

namespace gui {

namespace {

void run_window(const State& state) {
  WindowState& s = *state;
  s.buttons = global("Set_Button")();
  toolkit::prepare();
  build_window(state);
  s.refresh_tick = global("try_except_log")(make_refresh(state));
  s.main_window.attr("after")(500, s.refresh_tick);
  s.main_window.attr("mainloop")();
  toolkit::forget_closed_window(s.main_window);
  silently([&] { toolkit::restore_polls(); });
  silently([&] { forget_calendar(s); });
  row_products::clear();
  worker_channels::signal_shutdown(s);
}

// Python's own wording for a wrong call, before anything is built.
bool read_arguments(PyObject* args, PyObject* kwargs, PyObject* out[2]) {
  static const char* const names[2] = {"Queue_All_variable", "Event_All_variable"};
  const Py_ssize_t positional = PyTuple_GET_SIZE(args);
  Py_ssize_t given = positional;
  if (positional > 2) {
    PyErr_Format(PyExc_TypeError, "GUI() takes exactly 2 positional arguments (%zd given)", positional);
    return false;
  }
  out[0] = out[1] = nullptr;
  for (Py_ssize_t i = 0; i < positional; ++i) out[i] = PyTuple_GET_ITEM(args, i);
  if (kwargs) {
    PyObject *key, *value;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      int index = -1;
      for (int i = 0; i < 2; ++i)
        if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, names[i]) == 0) index = i;
      if (index < 0) {
        PyErr_Format(PyExc_TypeError, "GUI() got an unexpected keyword argument '%S'", key);
        return false;
      }
      if (out[index]) {
        PyErr_Format(PyExc_TypeError, "GUI() got multiple values for keyword argument '%s'", names[index]);
        return false;
      }
      out[index] = value;
      ++given;
    }
  }
  if (!out[0] || !out[1]) {
    PyErr_Format(PyExc_TypeError, "GUI() takes exactly 2 positional arguments (%zd given)", given);
    return false;
  }
  return true;
}

PyObject* entry_function(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* arguments[2];
  if (!read_arguments(args, kwargs, arguments)) return nullptr;
  auto state = std::make_shared<WindowState>();
  state->queues = py::reinterpret_borrow<py::object>(arguments[0]);
  state->events = py::reinterpret_borrow<py::object>(arguments[1]);
  try {
    run_window(state);
    state->release();
    Py_RETURN_NONE;
  } catch (...) {
    receiptora_py::set_python_error();
  }
  // A window whose start-up failed has no event loop: close it rather than leave it dead.
  // Its timers are cancelled first and Tk's own idle work (ttk's theme change, scheduled
  // in C where Tcl's `after` cannot cancel it) is finished while the window still exists;
  // either would otherwise run on the destroyed window and report a Tcl background error.
  py::error_scope keep_error;
  try {
    if (state->main_window && !state->main_window.is_none()) {
      toolkit::cancel_timers(state->main_window);
      silently([&] { state->main_window.attr("update_idletasks")(); });
      silently([&] { state->main_window.attr("destroy")(); });
      toolkit::forget_closed_window(state->main_window);
    }
    toolkit::restore_polls();
  } catch (...) {
    // The start-up error is the one the caller needs; nothing may escape this C function.
  }
  row_products::clear();
  state->release();
  return nullptr;
}

PyMethodDef g_entry = {"GUI", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry_function)),
                       METH_VARARGS | METH_KEYWORDS, nullptr};

}  // namespace

void register_entry_function() {
  py::str module_name("GUI");
  PyObject* function = PyCFunction_NewEx(&g_entry, nullptr, module_name.ptr());
  if (!function) throw py::error_already_set();
  set_global("GUI", py::reinterpret_steal<py::object>(function));
}

}  // namespace gui
