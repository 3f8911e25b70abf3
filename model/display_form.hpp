// The one-line display form of a receipt request, as Python's repr() would write it but
// with integers of any length written in full (repr refuses ints past 4300 digits).
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace gui {

std::string display_form(pybind11::handle value);

}  // namespace gui
