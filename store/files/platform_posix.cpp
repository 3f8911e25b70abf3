// The store's file calls on Linux and other POSIX systems.
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <tuple>

#include "platform.hpp"
#include "receiptora/store/file_error.hpp"

namespace receiptora::store::platform {

void fail(int error, const std::string& what, const fs::path& path) {
  throw FileError(error, what + " " + path.string());
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

int File::release() noexcept {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void File::close(const fs::path& path) {
  if (::close(release()) != 0) fail(errno, "無法寫入", path);
}

namespace {

// A path as the system calls take it. A NUL inside would silently cut the name short, and the
// call would act on another file: refused.
const char* native(const fs::path& path) {
  if (path.native().find('\0') != std::string::npos)
    throw std::invalid_argument("檔名 " + std::string(path.native().c_str()) +
                                "… 含有 NUL 字元，檔名不能有這個字元");
  return path.c_str();
}

bool has_nul(const fs::path& path) { return path.native().find('\0') != std::string::npos; }

const char* kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "資料夾";
  if (S_ISFIFO(mode)) return "具名管道（FIFO）";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "裝置";
  if (S_ISSOCK(mode)) return "通訊端（socket）";
  return "特殊檔案";
}

}  // namespace

File open_regular(const fs::path& path, Access access, const std::string& what) {
  int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
  flags |= access == Access::Read ? O_RDONLY : O_RDWR | O_APPEND | O_CREAT;
  File file(::open(native(path), flags, 0644));
  if (file.fd() < 0) {
    if (errno == ELOOP) fail(ELOOP, what + "是符號連結（捷徑），為了不寫到別處而拒絕：", path);
    fail(errno, "無法開啟" + what, path);
  }
  struct stat info {};
  if (::fstat(file.fd(), &info) != 0) fail(errno, "無法讀取" + what, path);
  if (!S_ISREG(info.st_mode))
    fail(EINVAL, what + "是" + kind_of(info.st_mode) + "，不是一般檔案，拒絕：", path);
  // Reads and writes of a regular file block as usual from here on.
  const int status = ::fcntl(file.fd(), F_GETFL);
  if (status < 0 || ::fcntl(file.fd(), F_SETFL, status & ~O_NONBLOCK) != 0)
    fail(errno, "無法開啟" + what, path);
  return file;
}

void lock_exclusive(const File& file, const fs::path& path, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  auto pause = std::chrono::microseconds(100);  // short at first: most locks are held for one write
  for (;;) {
    if (::flock(file.fd(), LOCK_EX | LOCK_NB) == 0) return;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) fail(errno, "無法鎖定", path);
    if (std::chrono::steady_clock::now() >= until) {
      const auto seconds = std::chrono::duration<double>(limit).count();
      fail(EWOULDBLOCK, "其他程式鎖住已超過 " + std::to_string(seconds).substr(0, 4) + " 秒，不再等候：",
           path);
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(10000));
  }
}

bool is_symbolic_link(const fs::path& path) {
  struct stat info {};
  return !has_nul(path) && ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

void make_real_folder(const fs::path& folder, const std::string& what) {
  struct stat info {};
  if (::lstat(native(folder), &info) != 0) {
    if (errno != ENOENT) fail(errno, "無法開啟" + what, folder);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) fail(ec.value(), "無法建立" + what, folder);
    if (::lstat(folder.c_str(), &info) != 0) fail(errno, "無法開啟" + what, folder);
  }
  if (S_ISLNK(info.st_mode)) fail(ELOOP, what + "是符號連結（捷徑），為了不寫到別處而拒絕：", folder);
  if (!S_ISDIR(info.st_mode)) fail(ENOTDIR, what + "不是資料夾：", folder);
}

bool create_exclusive(const fs::path& marker) {
  const int fd = ::open(native(marker), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) return false;
    fail(errno, "無法取用號碼", marker);
  }
  ::close(fd);
  return true;
}

Temporary create_temporary(const fs::path& folder, const std::string& prefix) {
  native(folder);
  std::string name = (folder / (prefix + "XXXXXX")).string();
  File file(::mkstemp(name.data()));
  if (file.fd() < 0) fail(errno, "無法在這個資料夾建立檔案：", folder);
  ::fchmod(file.fd(), 0644);  // mkstemp makes the file private; receipts are ordinary documents
  // Held until the file is closed: a writer that is still alive is never mistaken for a
  // temporary left by a kill.
  ::flock(file.fd(), LOCK_EX | LOCK_NB);
  return {std::move(file), fs::path(name)};
}

Temporary create_private_temporary(const fs::path& folder, const std::string& prefix) {
  native(folder);
  std::string name = (folder / (prefix + "XXXXXX")).string();
  File file(::mkstemp(name.data()));  // 0600
  if (file.fd() < 0) fail(errno, "無法在這個資料夾建立檔案：", folder);
  return {std::move(file), fs::path(name)};
}

bool private_to_owner(const File& file, const fs::path& path) {
  struct stat info {};
  if (::fstat(file.fd(), &info) != 0) fail(errno, "無法讀取", path);
  return (info.st_mode & 077) == 0;
}

void write_all(const File& file, std::string_view bytes, const fs::path& path) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(file.fd(), bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(errno, "無法寫入", path);
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

bool write_once(const File& file, std::string_view bytes) {
  const ssize_t n = ::write(file.fd(), bytes.data(), bytes.size());
  if (n == static_cast<ssize_t>(bytes.size())) return true;
  if (n >= 0) errno = ENOSPC;
  return false;
}

void flush_file(const File& file, const fs::path& path) {
  if (::fsync(file.fd()) != 0) fail(errno, "無法寫入磁碟：", path);
}

void flush_data(const File& file, const fs::path& path) {
  if (::fdatasync(file.fd()) != 0) fail(errno, "無法寫入磁碟：", path);
}

void truncate(const File& file, std::uint64_t size) {
  if (::ftruncate(file.fd(), static_cast<off_t>(size)) != 0) {
    // Nothing more can be done; the caller reports the failure that led here.
  }
}

std::uint64_t size_of(const File& file, const fs::path& path) {
  struct stat info {};
  if (::fstat(file.fd(), &info) != 0) fail(errno, "無法讀取", path);
  return static_cast<std::uint64_t>(info.st_size);
}

int last_byte(const File& file, std::uint64_t size, const fs::path& path) {
  if (size == 0) return -1;
  unsigned char byte = 0;
  const ssize_t n = ::pread(file.fd(), &byte, 1, static_cast<off_t>(size - 1));
  if (n != 1) fail(n < 0 ? errno : EIO, "無法讀取", path);
  return byte;
}

std::string read_all(const File& file, const fs::path& path, std::uint64_t limit) {
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(file.fd(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(errno, "無法讀取", path);
    }
    if (n == 0) return text;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > limit) fail(EFBIG, "檔案太大，無法讀取：", path);
  }
}

bool rename_no_replace(const fs::path& from, const fs::path& to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, native(from), AT_FDCWD, native(to), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  // File systems without renameat2 flags: link() also refuses an existing name.
  if (::link(native(from), native(to)) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

void remove_file(const fs::path& path) noexcept {
  if (!has_nul(path)) ::unlink(path.c_str());
}

std::uint64_t file_system_of(const fs::path& path) {
  struct stat info {};
  if (::stat(native(path), &info) != 0) fail(errno, "無法讀取", path);
  return static_cast<std::uint64_t>(info.st_dev);
}

void sync_file_system(const fs::path& path) {
  const int fd = ::open(native(path), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) fail(errno, "無法開啟", path);
  const int result = ::syncfs(fd);
  const int error = errno;
  ::close(fd);
  if (result != 0) fail(error, "無法把檔案寫入磁碟：", path);
}

void sync_folder(const fs::path& folder) noexcept {
  if (has_nul(folder)) return;
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool Identity::operator<(const Identity& o) const {
  return std::tie(device, inode, size, modified_ns) < std::tie(o.device, o.inode, o.size, o.modified_ns);
}

Identity identity_of(const File& file, const fs::path& path) {
  struct stat info {};
  if (::fstat(file.fd(), &info) != 0) fail(errno, "無法讀取", path);
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::uint64_t>(info.st_size),
          static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

double age_in_seconds(const fs::path& path) noexcept {
  struct stat info {};
  if (has_nul(path) || ::lstat(path.c_str(), &info) != 0) return -1;
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const double age = static_cast<double>(now.tv_sec - info.st_mtim.tv_sec) +
                     static_cast<double>(now.tv_nsec - info.st_mtim.tv_nsec) / 1e9;
  return age < 0 ? 0 : age;
}

bool locked_by_another(const fs::path& path) noexcept {
  if (has_nul(path)) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);  // releases the lock taken for the test
  return locked;
}

}  // namespace receiptora::store::platform
