// Shared pieces of the quillmarkers_model extension: registration entry points and the few
// helpers every widget class uses (customtkinter access, the CJK font).
#pragma once

#include <pybind11/pybind11.h>

namespace quillmarkers {

namespace py = pybind11;

void register_error_log(py::module_& m);
void register_set_button(py::module_& m);
void register_set_table(py::module_& m);
void register_entry_table(py::module_& m);
void register_calendar(py::module_& m);

// The customtkinter module (imported on first use; Python caches it in sys.modules).
py::module_ ctk();

// A CTkFont in the first CJK-capable family Tk knows (the theme's default family when none
// is installed). Needs a Tk root, so widget code calls it only while building widgets.
py::object kit_font(int size, const char* weight = "normal");

// Python equality, treating a comparison that raises as "different".
bool same_value(py::handle a, py::handle b);

}  // namespace quillmarkers
