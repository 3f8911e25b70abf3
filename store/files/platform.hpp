// The operating system's file calls that the store needs, in one place: platform_posix.cpp
// holds them for Linux and the other POSIX systems; a Windows port adds its own file beside
// it. Every failure throws std::system_error whose text names the file; a path holding a NUL
// (which would cut the name short in the system call) throws std::invalid_argument.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace receiptora::store::platform {

namespace fs = std::filesystem;

[[noreturn]] void fail(int error, const std::string& what, const fs::path& path);

// An open file, closed when the object goes.
class File {
 public:
  File() = default;
  explicit File(int fd) : fd_(fd) {}
  File(File&& other) noexcept : fd_(other.release()) {}
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();
  int fd() const { return fd_; }
  int release() noexcept;
  // Closes now and reports a failed close (the last chance to learn of a failed write).
  void close(const fs::path& path);

 private:
  int fd_ = -1;
};

enum class Access { Read, AppendCreate };

// Opens `path` only when it is a regular file: a symbolic link is refused without being
// followed, and a FIFO or device is refused without blocking on it. `what` names the file
// for the operator ("the ledger", "the stamp picture").
File open_regular(const fs::path& path, Access access, const std::string& what);

// Takes an exclusive lock on the whole file, polling, for at most `limit`; then throws an
// error naming the file and saying that another program holds it.
void lock_exclusive(const File& file, const fs::path& path, std::chrono::milliseconds limit);

// Creates the folder when missing; refuses one that is a symbolic link or not a folder, so
// that nothing written into it can land elsewhere.
void make_real_folder(const fs::path& folder, const std::string& what);

bool is_symbolic_link(const fs::path& path);

// Creates `marker` exclusively (empty). False when the name exists already.
bool create_exclusive(const fs::path& marker);

// A new file with a unique name starting `prefix` in `folder`, readable by others.
struct Temporary {
  File file;
  fs::path path;
};
Temporary create_temporary(const fs::path& folder, const std::string& prefix);
// The same, readable and writable by its owner only (0600): for a secret such as a key.
Temporary create_private_temporary(const fs::path& folder, const std::string& prefix);
// True when nobody but the file's owner may read or write it (no group or other bits).
bool private_to_owner(const File& file, const fs::path& path);

void write_all(const File& file, std::string_view bytes, const fs::path& path);
// One write() of all of `bytes` at the end; false (errno set) when it wrote less.
bool write_once(const File& file, std::string_view bytes);
void flush_file(const File& file, const fs::path& path);
void flush_data(const File& file, const fs::path& path);
void truncate(const File& file, std::uint64_t size);
std::uint64_t size_of(const File& file, const fs::path& path);
// The last byte of the file, or -1 when it is empty.
int last_byte(const File& file, std::uint64_t size, const fs::path& path);
std::string read_all(const File& file, const fs::path& path, std::uint64_t limit);

// rename() that never replaces an existing file; errno EEXIST then.
bool rename_no_replace(const fs::path& from, const fs::path& to);
void remove_file(const fs::path& path) noexcept;

// The file system a path lies on, and one flush of everything written to it.
std::uint64_t file_system_of(const fs::path& path);
void sync_file_system(const fs::path& path);
// A folder's entries (new names from renames) flushed; failures ignored.
void sync_folder(const fs::path& folder) noexcept;

struct Identity {
  std::uint64_t device = 0, inode = 0, size = 0;
  std::int64_t modified_ns = 0;
  bool operator<(const Identity& o) const;
};
Identity identity_of(const File& file, const fs::path& path);

// Seconds since the file was last modified (never negative); -1 when it cannot be read.
double age_in_seconds(const fs::path& path) noexcept;
// True when a writer holds a lock on the file right now.
bool locked_by_another(const fs::path& path) noexcept;

}  // namespace receiptora::store::platform
