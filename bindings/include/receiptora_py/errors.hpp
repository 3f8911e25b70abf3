// The one error policy where C++ meets Python: the C++ exception being handled becomes the
// Python error it stands for.
#pragma once

#include <Python.h>
#include <pybind11/pybind11.h>

#include <exception>

namespace receiptora_py {

namespace py = pybind11;

// Call inside a catch block; afterwards the Python error is set:
//   a Python error carried by pybind11     restored as it is
//   pybind11's own exception types         their Python types (TypeError, KeyError, ...)
//   any other std::exception               RuntimeError with its message
//   anything else                          SystemError
// A Python error already pending when a C++ exception struck becomes the new error's cause.
inline void set_python_error() noexcept {
  auto raise = [](PyObject* type, const char* message) {
    if (PyErr_Occurred()) {
      py::raise_from(type, message);
    } else {
      PyErr_SetString(type, message);
    }
  };
  try {
    throw;
  } catch (py::error_already_set& error) {
    error.restore();
  } catch (py::builtin_exception& error) {
    error.set_error();
  } catch (const std::exception& error) {
    raise(PyExc_RuntimeError, error.what());
  } catch (...) {
    raise(PyExc_SystemError, "an unknown C++ exception");
  }
}

// The handled C++ exception as a Python error object that can be inspected and rethrown.
inline py::error_already_set as_python_error() noexcept {
  set_python_error();
  return py::error_already_set();
}

}  // namespace receiptora_py
