#include "launch.hpp"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "receiptora/store/file_error.hpp"

extern char** environ;

namespace receiptora_shop {

Launched launch_watched(const std::vector<std::string>& command_and_arguments) {
  Launched launched;
  if (command_and_arguments.empty()) {
    launched.error = "沒有要啟動的程式";
    return launched;
  }
  std::vector<char*> argv;
  for (const std::string& argument : command_and_arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (error != 0) {
    launched.error =
        "無法啟動 " + command_and_arguments[0] + "：" + receiptora::store::FileError::reason(error);
    return launched;
  }
  std::thread([pid, status_out = launched.exit_status] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return;
    }
    status_out->store(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  }).detach();
  return launched;
}

std::string launch(const std::vector<std::string>& command_and_arguments) {
  return launch_watched(command_and_arguments).error;
}

}  // namespace receiptora_shop
