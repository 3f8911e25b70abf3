#include "receiptora/print/clipboard.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "receiptora/print/print.hpp"
#include "receiptora/store/file_error.hpp"

extern char** environ;

namespace receiptora::print {

namespace {

// xclip forks its server and its first process ends at once; one that hangs (a display that does
// not answer) is ended after this long.
constexpr auto kCopyLimit = std::chrono::seconds(10);

bool set(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

bool on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string_view rest = path ? path : "/usr/bin:/bin";
  while (true) {
    const size_t colon = rest.find(':');
    const fs::path folder(std::string(rest.substr(0, colon)));
    if (!folder.empty() && access((folder / program).c_str(), X_OK) == 0) return true;
    if (colon == std::string_view::npos) return false;
    rest.remove_prefix(colon + 1);
  }
}

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r')) text.pop_back();
  return text;
}

struct FileActions {
  posix_spawn_file_actions_t actions;
  FileActions() { posix_spawn_file_actions_init(&actions); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
};

// Runs `argv` with standard input from `input`, output to /dev/null and errors collected; the
// server it leaves behind keeps none of this process's other files open. Returns "" or why not.
std::string run(const std::vector<std::string>& argv, const fs::path& input) {
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) return "無法啟動 " + argv[0] + "：" + store::FileError::reason(errno);
  FileActions files;
  posix_spawn_file_actions_addopen(&files.actions, 0, input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files.actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&files.actions, pipe_ends[1], 2);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  posix_spawn_file_actions_addclosefrom_np(&files.actions, 3);
#endif
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, args[0], &files.actions, nullptr, args.data(), environ);
  close(pipe_ends[1]);
  if (failed != 0) {
    close(pipe_ends[0]);
    return "無法啟動 " + argv[0] + "：" + store::FileError::reason(failed);
  }
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + kCopyLimit;
  pid_t ended = 0;
  while ((ended = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (ended == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  // Only what the first process wrote: the server in the background keeps the pipe's other end.
  fcntl(pipe_ends[0], F_SETFL, O_NONBLOCK);
  std::string errors;
  char chunk[512];
  ssize_t got;
  while (errors.size() < 4096 && (got = read(pipe_ends[0], chunk, sizeof chunk)) > 0)
    errors.append(chunk, static_cast<size_t>(got));
  close(pipe_ends[0]);
  if (ended == 0) return argv[0] + " 沒有回應（" + std::to_string(kCopyLimit.count()) + " 秒）";
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  const std::string said = trimmed(errors);
  return argv[0] + " 失敗" + (said.empty() ? "" : "：" + said);
}

}  // namespace

std::string copy_png_to_clipboard(const fs::path& png) {
  std::error_code ec;
  if (!fs::is_regular_file(png, ec) || access(png.c_str(), R_OK) != 0) return "找不到圖片 " + png.string();
  if (set("WAYLAND_DISPLAY") && on_path("wl-copy")) return run({"wl-copy", "--type", "image/png"}, png);
  if (!set("DISPLAY")) return "沒有桌面畫面（未設定 DISPLAY），無法使用剪貼簿";
  if (!on_path("xclip")) return "找不到 xclip，無法使用剪貼簿（請安裝 xclip 套件）";
  return run({"xclip", "-selection", "clipboard", "-t", "image/png", "-i", png.string()}, "/dev/null");
}

CopyOutcome copy_receipt_picture(const fs::path& root, std::string_view number) {
  ReceiptPicture picture;
  try {
    picture = receipt_picture(root, number);
  } catch (const PrintError& error) {
    return {false, error.what()};
  }
  const std::string failed = copy_png_to_clipboard(picture.png);
  if (!failed.empty()) return {false, failed};
  const std::string name = picture.png.stem().string();
  if (picture.pages == 1) return {true, "已複製 " + name + " 的圖片，可以貼到聊天或郵件"};
  return {true, "已複製 " + name + " 第 1 頁的圖片（共 " + std::to_string(picture.pages) +
                    " 頁，其他頁的圖片在 " + picture.png.parent_path().string() + "）"};
}

}  // namespace receiptora::print
