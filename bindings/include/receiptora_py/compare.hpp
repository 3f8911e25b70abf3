// Comparing a Python value to a constant the way Python's == does.
#pragma once

#include <Python.h>
#include <pybind11/pybind11.h>

namespace receiptora_py {

namespace py = pybind11;

// value == constant; an exception raised by the comparison propagates.
inline bool equals(py::handle value, py::handle constant) {
  const int result = PyObject_RichCompareBool(value.ptr(), constant.ptr(), Py_EQ);
  if (result < 0) throw py::error_already_set();
  return result == 1;
}

}  // namespace receiptora_py
