// The window's catch-all guards: a Python Exception (not KeyboardInterrupt or SystemExit)
// raised in a block is handed to the guard's reaction, and the window goes on.
#pragma once

#include <pybind11/pybind11.h>

namespace gui {

namespace py = pybind11;

template <class Block, class Reaction>
void on_exception(Block&& block, Reaction&& reaction) {
  try {
    block();
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_Exception)) throw;
    reaction(e.value());
  } catch (py::builtin_exception& e) {  // a failed conversion inside the binding layer
    e.set_error();
    py::error_already_set error;
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
