#include "launch.hpp"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace receiptora_shop {

std::string launch(const std::vector<std::string>& command_and_arguments) {
  if (command_and_arguments.empty()) return "nothing to start";
  std::vector<char*> argv;
  for (const std::string& argument : command_and_arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (error != 0) return "cannot start " + command_and_arguments[0] + ": " + std::strerror(error);
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return "";
}

}  // namespace receiptora_shop
