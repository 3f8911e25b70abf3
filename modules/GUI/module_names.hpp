// The loaded GUI module and the names bound on it. The window looks its collaborators
// up by name when it calls them, as a Python module's functions read their globals.
#pragma once

#include <pybind11/pybind11.h>

namespace gui {

namespace py = pybind11;

// The module object of this process, or null before a successful load.
PyObject* loaded_module();
void set_loaded_module(PyObject* module);  // takes a new reference; null clears it

// An interned str for a string literal, made on first use and kept: the handlers run
// every 500 ms and at every press, so their keys and attribute names are made once.
py::handle name(const char* literal);

// A name bound on the module; raises NameError when it is missing.
py::object global(const char* name);
// The name, or an empty handle when it is not bound (used for `calendar`).
py::object global_or_none(const char* name);
void set_global(const char* name, py::handle value);
void remove_global(const char* name);  // nothing when it is not bound

// True when the module runs as the main program (its __name__ is "__main__").
bool standalone();

}  // namespace gui
