// The loaded GUI module and the names bound on it. The window looks its collaborators
// up by name when it calls them, as a Python module's functions read their globals.
#pragma once

#include <pybind11/pybind11.h>

namespace gui {

namespace py = pybind11;

// The module object of this process, or null before a successful load.
PyObject* loaded_module();
void set_loaded_module(PyObject* module);  // takes a new reference; null clears it

// A name bound on the module; raises NameError when it is missing.
py::object global(const char* name);
// The name, or an empty handle when it is not bound (used for `calendar`).
py::object global_or_none(const char* name);
void set_global(const char* name, py::handle value);

// True when the module runs as the main program (its __name__ is "__main__").
bool standalone();

// Texts used on every refresh tick and press, made once at load.
struct Texts {
  py::str output_caption;  // 輸出單據
  py::str get_receipt;     // get_receipt
  py::str end;             // end
  py::str text;            // text
  py::str fg_color;        // fg_color
  py::str day_colour;      // #3B8ED0
  py::str calendar_buttons;  // 日曆按鈕
  py::str year, month, day;  // 年 月 日
  py::str parameters;      // parameters
};
const Texts& texts();
void make_texts();

}  // namespace gui
