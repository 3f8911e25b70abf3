// The window's catch-all guards: the named policies of receiptora_py/guards.hpp (print and go
// on, silently, or a reaction of its own); KeyboardInterrupt and SystemExit always pass.
#pragma once

#include "receiptora_py/guards.hpp"

namespace gui {

using receiptora_py::on_exception;
using receiptora_py::print_and_go_on;
using receiptora_py::silently;

}  // namespace gui
