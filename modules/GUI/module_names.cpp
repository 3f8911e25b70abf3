#include "module_names.hpp"

#include <unordered_map>

namespace gui {

namespace {
PyObject* g_module = nullptr;

PyObject* module_dict() {
  if (!g_module) throw py::import_error("GUI is not loaded");
  return PyModule_GetDict(g_module);
}
}  // namespace

PyObject* loaded_module() { return g_module; }

py::handle name(const char* literal) {
  static std::unordered_map<const char*, PyObject*> names;  // keyed by the literal's address
  auto [it, inserted] = names.try_emplace(literal, nullptr);
  if (inserted) {
    it->second = PyUnicode_InternFromString(literal);
    if (!it->second) {
      names.erase(it);
      throw py::error_already_set();
    }
  }
  return it->second;
}

void set_loaded_module(PyObject* module) {
  Py_XINCREF(module);
  Py_XSETREF(g_module, module);
}

py::object global(const char* name_) {
  PyObject* value = PyDict_GetItemWithError(module_dict(), name(name_).ptr());
  if (!value) {
    if (PyErr_Occurred()) throw py::error_already_set();
    PyErr_Format(PyExc_NameError, "name '%s' is not defined", name_);
    throw py::error_already_set();
  }
  return py::reinterpret_borrow<py::object>(value);
}

py::object global_or_none(const char* name_) {
  PyObject* value = PyDict_GetItemWithError(module_dict(), name(name_).ptr());
  if (!value && PyErr_Occurred()) throw py::error_already_set();
  return value ? py::reinterpret_borrow<py::object>(value) : py::object();
}

void set_global(const char* name, py::handle value) {
  if (PyDict_SetItemString(module_dict(), name, value.ptr()) < 0) throw py::error_already_set();
}

void remove_global(const char* name_) {
  if (PyDict_DelItem(module_dict(), name(name_).ptr()) < 0) {
    if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw py::error_already_set();
    PyErr_Clear();
  }
}

bool standalone() {
  PyObject* name = PyDict_GetItemString(module_dict(), "__name__");
  return name && PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, "__main__") == 0;
}

}  // namespace gui
