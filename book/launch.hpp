// Starting a viewer or file manager for a path: an argument list (no shell), the child reaped
// by a detached thread so it never lingers as a zombie. Pure C++.
#pragma once

#include <string>
#include <vector>

namespace receiptora_shop {

// Starts `command` (looked up on PATH) with `arguments`; returns an error sentence, or ""
// when the program started.
std::string launch(const std::vector<std::string>& command_and_arguments);

}  // namespace receiptora_shop
