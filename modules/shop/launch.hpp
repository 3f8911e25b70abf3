// Starting a viewer or file manager for a path: an argument list (no shell), the child reaped
// by a detached thread so it never lingers as a zombie. Pure C++.
#pragma once

#include <atomic>
#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace receiptora_shop {

// Starts `command` (looked up on PATH) with `arguments`; returns an error sentence, or ""
// when the program started.
std::string launch(const std::vector<std::string>& command_and_arguments);

inline constexpr int kStillRunning = INT_MIN;

struct Launched {
  std::string error;  // "" when the program started
  // The program's exit status once it has ended (128 + the signal when one ended it),
  // kStillRunning until then.
  std::shared_ptr<std::atomic<int>> exit_status = std::make_shared<std::atomic<int>>(kStillRunning);
};

// As launch(), and the exit status is kept for the caller to look at later.
Launched launch_watched(const std::vector<std::string>& command_and_arguments);

}  // namespace receiptora_shop
