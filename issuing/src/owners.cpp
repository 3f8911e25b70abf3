#include "owners.hpp"

#include <fcntl.h>
#include <cerrno>
#include <unistd.h>

#include <map>
#include <mutex>
#include <utility>

namespace receiptora::issuing {

namespace {

constexpr const char* kOwnersName = ".收據簿-owners";

std::mutex g_mutex;
// Open descriptors per folder and process id. They stay open for the life of the process:
// closing any descriptor of the file would drop this process's lock on it.
std::map<std::pair<std::string, pid_t>, int>& descriptors() {
  static auto* map = new std::map<std::pair<std::string, pid_t>, int>;
  return *map;
}

struct flock byte_at(pid_t pid, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = pid;
  lock.l_len = 1;
  return lock;
}

// The descriptor of `root`'s owners file for this process, locking this process's byte on
// first use; -1 when the file cannot be opened.
int owners_file(const std::filesystem::path& root) {
  const pid_t pid = ::getpid();  // a forked child is a new owner with a lock of its own
  std::lock_guard lock(g_mutex);
  auto key = std::make_pair(root.string(), pid);
  auto found = descriptors().find(key);
  if (found != descriptors().end()) return found->second;
  const int fd = ::open((root / kOwnersName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd >= 0) {
    struct flock mine = byte_at(pid, F_WRLCK);
    if (::fcntl(fd, F_SETLK, &mine) != 0) {
      // Without the lock this process only looks dead to others, which makes them finish its
      // pending receipts after it; renames never replace, so no file is written twice.
    }
  }
  descriptors()[key] = fd;
  return fd;
}

}  // namespace

std::string this_owner(const std::filesystem::path& root) {
  owners_file(root);
  return std::to_string(::getpid());
}

bool owner_alive(const std::filesystem::path& root, const std::string& owner) {
  if (owner.empty() || owner.size() > 9) return false;
  pid_t pid = 0;
  for (char c : owner) {
    if (c < '0' || c > '9') return false;
    pid = pid * 10 + (c - '0');
  }
  if (pid == ::getpid()) return true;
  const int fd = owners_file(root);
  if (fd < 0) return false;
  struct flock probe = byte_at(pid, F_WRLCK);
  return ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

RepairLock::RepairLock(const std::filesystem::path& root) : fd_(owners_file(root)) {
  struct flock lock = byte_at(0, F_WRLCK);  // no process has the id 0
  while (fd_ >= 0 && ::fcntl(fd_, F_SETLKW, &lock) != 0 && errno == EINTR) {
  }
}

RepairLock::~RepairLock() {
  struct flock lock = byte_at(0, F_UNLCK);
  if (fd_ >= 0) ::fcntl(fd_, F_SETLK, &lock);
}

}  // namespace receiptora::issuing
