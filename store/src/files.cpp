#include "receiptora/store/files.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace receiptora::store {

namespace {

[[noreturn]] void fail(int error, const std::string& what, const fs::path& path) {
  throw std::system_error(error, std::generic_category(), what + " " + path.string());
}

void write_all(int fd, std::string_view bytes, const fs::path& path) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(errno, "cannot write", path);
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

// rename() that never replaces an existing file.
int rename_no_replace(const fs::path& from, const fs::path& to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
#endif
  // File systems without renameat2 flags: link() also refuses an existing name.
  if (::link(from.c_str(), to.c_str()) != 0) return -1;
  ::unlink(from.c_str());
  return 0;
}

}  // namespace

StagedFile stage_file(const fs::path& target, std::string_view bytes, bool flush) {
  std::string name(1, '.');
  name.append(target.filename().string()).append(".XXXXXX");
  std::string temp = (target.parent_path() / name).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) fail(errno, "cannot create a file in", target.parent_path());
  try {
    ::fchmod(fd, 0644);  // mkstemp makes the file private; receipts are ordinary documents
    write_all(fd, bytes, target);
    if (flush && ::fsync(fd) != 0) fail(errno, "cannot flush", target);
    if (::close(fd) != 0) {
      ::unlink(temp.c_str());
      fail(errno, "cannot write", target);
    }
  } catch (...) {
    ::close(fd);
    ::unlink(temp.c_str());
    throw;
  }
  return {temp, target};
}

void commit_file(const StagedFile& staged) {
  if (rename_no_replace(staged.temp, staged.target) != 0) {
    const int error = errno;
    ::unlink(staged.temp.c_str());
    fail(error, "cannot save", staged.target);
  }
}

void discard_file(const StagedFile& staged) noexcept { ::unlink(staged.temp.c_str()); }

void write_new_file(const fs::path& target, std::string_view bytes) {
  commit_file(stage_file(target, bytes, true));
}

void sync_file_system(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail(errno, "cannot open", path);
  const int result = ::syncfs(fd);
  const int error = errno;
  ::close(fd);
  if (result != 0) fail(error, "cannot flush the files in", path);
}

void sync_folder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace receiptora::store
