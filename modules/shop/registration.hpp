// One register function per binding file; module.cpp calls them all.
#pragma once

#include <pybind11/pybind11.h>

namespace receiptora_shop {

void register_printing(pybind11::module_& m);
void register_exports(pybind11::module_& m);
void register_window(pybind11::module_& m);
void register_profile_form(pybind11::module_& m);

}  // namespace receiptora_shop
