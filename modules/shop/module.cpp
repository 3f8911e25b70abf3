// receiptora._shop: the module object; each area registers its own functions.
#include <pybind11/pybind11.h>

#include "receiptora_py/book_errors.hpp"
#include "receiptora_py/main_interpreter.hpp"
#include "registration.hpp"

// Loaded only into the main interpreter (see main_interpreter.hpp).
#define PyInit__shop pybind11_entry_point
PYBIND11_MODULE(_shop, m) {
  m.doc() = "Receiptora's receipt book: printing, exports, reports and the 收據簿 window";
  // The boundary's one error policy with the book's failures by kind; the printer's in printing.cpp.
  receiptora_py::use_book_error_kinds_in_this_module(m);
  receiptora_shop::register_printing(m);
  receiptora_shop::register_exports(m);
  receiptora_shop::register_window(m);
  receiptora_shop::register_profile_form(m);
}
#undef PyInit__shop

extern "C" PYBIND11_EXPORT PyObject* PyInit__shop() {
  return receiptora_py::in_main_interpreter("receiptora._shop", pybind11_entry_point);
}
