#include "module_names.hpp"

namespace gui {

namespace {
PyObject* g_module = nullptr;
Texts* g_texts = nullptr;

PyObject* module_dict() {
  if (!g_module) throw py::import_error("GUI is not loaded");
  return PyModule_GetDict(g_module);
}
}  // namespace

PyObject* loaded_module() { return g_module; }

void set_loaded_module(PyObject* module) {
  Py_XINCREF(module);
  Py_XSETREF(g_module, module);
}

py::object global(const char* name) {
  PyObject* value = PyDict_GetItemString(module_dict(), name);
  if (!value) {
    PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
    throw py::error_already_set();
  }
  return py::reinterpret_borrow<py::object>(value);
}

py::object global_or_none(const char* name) {
  PyObject* value = PyDict_GetItemString(module_dict(), name);
  return value ? py::reinterpret_borrow<py::object>(value) : py::object();
}

void set_global(const char* name, py::handle value) {
  if (PyDict_SetItemString(module_dict(), name, value.ptr()) < 0) throw py::error_already_set();
}

bool standalone() {
  PyObject* name = PyDict_GetItemString(module_dict(), "__name__");
  return name && PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, "__main__") == 0;
}

const Texts& texts() { return *g_texts; }

void make_texts() {
  if (g_texts) return;
  // Never freed: the module stays loaded for the life of the process.
  g_texts = new Texts{py::str("輸出單據"), py::str("get_receipt"), py::str("end"), py::str("text"),
                      py::str("fg_color"), py::str("#3B8ED0"), py::str("日曆按鈕"),
                      py::str("年"), py::str("月"), py::str("日"), py::str("parameters")};
}

}  // namespace gui
