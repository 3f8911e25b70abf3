// The GUI extension module: its definition, create step and execute step, written against
// CPython's C API. One interpreter and one module object per process.
#include <Python.h>

#include <cstdio>
#include <cstring>

#include "module_names.hpp"
#include "receiptora_py/errors.hpp"
#include "registration.hpp"

namespace {

// The interpreter that first loaded the module; recorded once and never cleared.
int64_t g_main_interpreter_id = -1;

// Copies spec.<attribute> to module.<name>; a missing attribute is simply not copied.
int copy_spec_attribute(PyObject* spec, PyObject* module, const char* attribute, const char* name,
                        bool allow_none) {
  PyObject* value = PyObject_GetAttrString(spec, attribute);
  if (!value) {
    if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
      PyErr_Clear();
      return 0;
    }
    return -1;
  }
  int result = 0;
  if (allow_none || value != Py_None) result = PyObject_SetAttrString(module, name, value);
  Py_DECREF(value);
  return result;
}

PyObject* create_module(PyObject* spec, PyModuleDef*) {
  const int64_t current = PyInterpreterState_GetID(PyThreadState_Get()->interp);
  if (current == -1) return nullptr;
  // pybind11, used from the execute step on, hangs in a sub-interpreter (PyGILState_Ensure
  // waits for the main interpreter), so a sub-interpreter is refused even when it comes first.
  const bool in_main = PyThreadState_Get()->interp == PyInterpreterState_Main();
  if (in_main && g_main_interpreter_id == -1) {
    g_main_interpreter_id = current;
  } else if (!in_main || current != g_main_interpreter_id) {
    PyErr_SetString(PyExc_ImportError,
                    "Interpreter change detected - this module can only be loaded into one "
                    "interpreter per process.");
    return nullptr;
  }
  if (PyObject* loaded = gui::loaded_module()) {
    Py_INCREF(loaded);
    return loaded;
  }
  PyObject* name = PyObject_GetAttrString(spec, "name");
  if (!name) return nullptr;
  PyObject* module = PyModule_NewObject(name);
  Py_DECREF(name);
  if (!module) return nullptr;
  if (copy_spec_attribute(spec, module, "loader", "__loader__", true) < 0 ||
      copy_spec_attribute(spec, module, "origin", "__file__", true) < 0 ||
      copy_spec_attribute(spec, module, "parent", "__package__", true) < 0 ||
      copy_spec_attribute(spec, module, "submodule_search_locations", "__path__", false) < 0) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}

// Warns when the running interpreter is not the 3.11 this module was built for.
int check_runtime_version() {
  const char* runtime = Py_GetVersion();
  int major = 0, minor = 0;
  if (std::sscanf(runtime, "%d.%d", &major, &minor) != 2) return 0;
  if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION) return 0;
  char message[200];
  std::snprintf(message, sizeof message,
                "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                PY_MAJOR_VERSION, PY_MINOR_VERSION, "GUI", "does not match", major, minor);
  return PyErr_WarnEx(nullptr, message, 1);
}

int enter_in_sys_modules(PyObject* module) {
  PyObject* modules = PyImport_GetModuleDict();
  if (PyDict_GetItemString(modules, "GUI")) return 0;
  return PyDict_SetItemString(modules, "GUI", module);
}

int execute_module(PyObject* module) {
  if (PyObject* loaded = gui::loaded_module()) {
    if (loaded == module) return 0;
    PyErr_SetString(PyExc_RuntimeError,
                    "Module 'GUI' has already been imported. Re-initialisation is not supported.");
    return -1;
  }
  gui::set_loaded_module(module);
  bool traceback_entry = false;
  try {
    if (check_runtime_version() < 0) throw pybind11::error_already_set();
    traceback_entry = true;
    if (enter_in_sys_modules(module) < 0) throw pybind11::error_already_set();
    receiptora_py::use_error_policy_in_this_module();  // for the handlers and classes made below
    gui::bind_imports();
    gui::register_entry_table();
    gui::register_parameters();
    gui::register_entry_function();
    if (gui::standalone()) gui::global("GUI")("X", "X");
    return 0;
  } catch (...) {
    receiptora_py::set_python_error();
  }
  if (traceback_entry) _PyTraceback_Add("init GUI", "GUI", 1);
  gui::set_loaded_module(nullptr);  // a later import starts again from the create step
  return -1;
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create_module)},
    {Py_mod_exec, reinterpret_cast<void*>(execute_module)},
    {0, nullptr},
};

PyModuleDef g_definition = {
    PyModuleDef_HEAD_INIT,
    "GUI",
    nullptr,  // no docstring
    0,        // no per-module state: the state is process-wide
    nullptr,  // functions are bound by the execute step
    g_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_GUI(void) { return PyModuleDef_Init(&g_definition); }

// The same module when the import system loads this file under the name "__main__"
// (importlib.util.spec_from_file_location("__main__", path)): it then opens the window itself.
PyMODINIT_FUNC PyInit___main__(void) { return PyModuleDef_Init(&g_definition); }
