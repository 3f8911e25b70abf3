// An X display of the test's own (Xvfb on a free display number, ended with the object), and the
// clipboard read back from it as a person's paste would: `xclip -selection clipboard -o -t image/png`.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

extern char** environ;

namespace receiptora {

class PrivateDisplay {
 public:
  PrivateDisplay() {
    int ends[2];
    if (pipe(ends) != 0) return;
    const std::string fd = std::to_string(ends[1]);
    const char* argv[] = {"Xvfb",    "-displayfd", fd.c_str(),   "-nolisten", "tcp",
                          "-screen", "0",          "320x240x24", nullptr};
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", 01, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", 01, 0);
    if (posix_spawnp(&pid_, "Xvfb", &files, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&files);
    close(ends[1]);
    char number[16] = {};
    if (pid_ > 0 && read(ends[0], number, sizeof number - 1) > 0)
      name_ = ":" + std::to_string(std::atoi(number));
    close(ends[0]);
  }
  ~PrivateDisplay() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  PrivateDisplay(const PrivateDisplay&) = delete;
  PrivateDisplay& operator=(const PrivateDisplay&) = delete;

  // ":N", or "" when Xvfb could not start.
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = 0;
  std::string name_;
};

// The clipboard's image/png on $DISPLAY ("" when there is none). xclip's server takes the
// selection just after its first process ends, so the paste is tried again for a few seconds
// until it gives `expected`.
inline std::string pasted_png(const std::string& expected) {
  std::string bytes;
  for (int attempt = 0; attempt < 100; ++attempt) {
    bytes.clear();
    FILE* out = popen("xclip -selection clipboard -o -t image/png 2>/dev/null", "r");
    if (!out) return bytes;
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, out)) > 0) bytes.append(chunk, got);
    pclose(out);
    if (bytes == expected) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return bytes;
}

}  // namespace receiptora
