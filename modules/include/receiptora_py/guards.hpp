// Catch-all guards where C++ meets Python, one named policy per kind: a Python Exception
// raised in the block (a C++ exception counts as the Python error it stands for, errors.hpp)
// is handed to the guard's reaction and the caller goes on. KeyboardInterrupt and SystemExit
// are requests, not faults: they always pass through.
#pragma once

#include <pybind11/pybind11.h>

#include <utility>

#include "receiptora_py/errors.hpp"

namespace receiptora_py {

namespace py = pybind11;

template <class Block, class Reaction>
void on_exception(Block&& block, Reaction&& reaction) {
  try {
    block();
  } catch (...) {
    py::error_already_set error = as_python_error();
    if (!error.matches(PyExc_Exception)) throw error;
    reaction(error.value());
  }
}

// Prints the error as one line on standard output, and goes on.
template <class Block>
void print_and_go_on(Block&& block) {
  on_exception(std::forward<Block>(block), [](py::handle error) { py::print(error); });
}

// Swallows the error silently.
template <class Block>
void silently(Block&& block) {
  on_exception(std::forward<Block>(block), [](py::handle) {});
}

}  // namespace receiptora_py
