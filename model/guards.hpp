// The window's catch-all guards: a Python Exception (not KeyboardInterrupt or SystemExit)
// raised in a block is handed to the guard's reaction, and the window goes on.
#pragma once

#include <pybind11/pybind11.h>

#include "receiptora_py/errors.hpp"

namespace gui {

namespace py = pybind11;

// A C++ exception counts as the Python error it stands for (receiptora_py/errors.hpp).
template <class Block, class Reaction>
void on_exception(Block&& block, Reaction&& reaction) {
  try {
    block();
  } catch (...) {
    py::error_already_set error = receiptora_py::as_python_error();
    if (!error.matches(PyExc_Exception)) throw error;
    reaction(error.value());
  }
}

// A guard that prints the error as one line on standard output, and goes on.
template <class Block>
void print_and_go_on(Block&& block) {
  on_exception(std::forward<Block>(block), [](py::handle error) { py::print(error); });
}

// A guard that swallows the error silently.
template <class Block>
void silently(Block&& block) {
  on_exception(std::forward<Block>(block), [](py::handle) {});
}

}  // namespace gui
