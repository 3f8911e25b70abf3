#include "receiptora/store/ledger.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace receiptora::store {

namespace {

std::string field(std::string_view text, bool typed) {
  std::string out;
  if (typed && !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
    out.push_back('\'');
  out.append(text);
  if (out.find_first_of(",\"\r\n") == std::string::npos) return out;
  std::string quoted(1, '"');
  for (char c : out) {
    if (c == '"') quoted.push_back('"');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

[[noreturn]] void fail(int error, const fs::path& file) {
  throw std::system_error(error, std::generic_category(), "cannot add to the ledger " + file.string());
}

// Writes `bytes` at the end in one call; on a short or failed write the file is cut back to
// `size`, so no partial line stays behind.
void write_whole(int fd, std::string_view bytes, off_t size, const fs::path& file) {
  const ssize_t n = ::write(fd, bytes.data(), bytes.size());
  if (n == static_cast<ssize_t>(bytes.size())) return;
  const int error = n < 0 ? errno : ENOSPC;
  if (::ftruncate(fd, size) != 0) {
    // Nothing more can be done; the error below is what matters.
  }
  fail(error, file);
}

}  // namespace

std::string ledger_header() {
  return "\xEF\xBB\xBF收據號碼,日期,買受人,買受人統一編號,品項數,總額,檔案,版本,狀態\r\n";
}

std::string ledger_line(const LedgerLine& line) {
  std::string text;
  for (const auto& [value, typed] : {std::pair<std::string_view, bool>{line.number, false},
                                     {line.date, false},
                                     {line.buyer, true},
                                     {line.buyer_tax_id, true}}) {
    text += field(value, typed);
    text += ',';
  }
  text += std::to_string(line.item_count);
  for (std::string_view value :
       {std::string_view(line.total), std::string_view(line.files), std::string_view(line.layout)}) {
    text += ',';
    text += field(value, false);
  }
  if (!line.state.empty()) {
    text += ',';
    text += field(line.state, false);
  }
  text += "\r\n";
  return text;
}

void append_ledger(const fs::path& file, const LedgerLine& line) {
  append_ledger(file, std::vector<LedgerLine>{line});
}

void append_ledger(const fs::path& file, const std::vector<LedgerLine>& lines) {
  std::string text;
  for (const LedgerLine& line : lines) text += ledger_line(line);
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) fail(errno, file);
  int error = 0;
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      error = errno;
      break;
    }
  }
  try {
    if (error) fail(error, file);
    struct stat info {};
    if (::fstat(fd, &info) != 0) fail(errno, file);
    off_t size = info.st_size;
    if (size == 0) {
      const std::string header = ledger_header();
      write_whole(fd, header, 0, file);
      size = static_cast<off_t>(header.size());
    }
    write_whole(fd, text, size, file);
    if (::fdatasync(fd) != 0) fail(errno, file);
  } catch (...) {
    ::close(fd);  // also releases the lock
    throw;
  }
  ::close(fd);
}

}  // namespace receiptora::store
