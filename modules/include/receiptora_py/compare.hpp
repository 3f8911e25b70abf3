// Comparing Python values: the one place the extension modules say what "equal" means.
#pragma once

#include <Python.h>
#include <pybind11/pybind11.h>

#include "receiptora_py/guards.hpp"

namespace receiptora_py {

namespace py = pybind11;

// value == constant as Python's == gives it; an exception raised by the comparison propagates.
inline bool equals(py::handle value, py::handle constant) {
  const int result = PyObject_RichCompareBool(value.ptr(), constant.ptr(), Py_EQ);
  if (result < 0) throw py::error_already_set();
  return result == 1;
}

// a == b, where a comparison that raises counts as "different" (a value set again is then
// set again rather than skipped); the same object is always the same value.
inline bool same_value(py::handle a, py::handle b) {
  if (a.is(b)) return true;
  bool same = false;
  silently([&] { same = equals(a, b); });
  return same;
}

// The same text: the very object (a mirrored text stays the same str until Tk writes a new
// one) or an equal str; anything that is not a str is no text. Runs no Python code.
inline bool same_text(py::handle a, py::handle b) {
  if (a.is(b)) return true;
  if (!PyUnicode_Check(a.ptr()) || !PyUnicode_Check(b.ptr())) return false;
  return PyUnicode_GET_LENGTH(a.ptr()) == PyUnicode_GET_LENGTH(b.ptr()) &&
         PyUnicode_Compare(a.ptr(), b.ptr()) == 0;
}

}  // namespace receiptora_py
