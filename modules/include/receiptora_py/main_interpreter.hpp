// pybind11 sets itself up through PyGILState_Ensure, which in a Python 3.11 sub-interpreter
// waits for ever for the main interpreter. So each extension module renames the entry point
// pybind11 generates and lets the real one refuse every interpreter but the main one first:
//
//   #define PyInit_name pybind11_entry_point
//   PYBIND11_MODULE(name, m) { ... }
//   #undef PyInit_name
//   extern "C" PYBIND11_EXPORT PyObject* PyInit_name() {
//     return receiptora_py::in_main_interpreter("package.name", pybind11_entry_point);
//   }
#pragma once

#include <Python.h>

namespace receiptora_py {

inline PyObject* in_main_interpreter(const char* module, PyObject* (*entry_point)()) {
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    PyErr_Format(PyExc_ImportError, "%s can only be loaded into the main interpreter of the process.",
                 module);
    return nullptr;
  }
  return entry_point();
}

}  // namespace receiptora_py
