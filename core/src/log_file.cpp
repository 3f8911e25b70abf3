#include "receiptora/log_file.hpp"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <system_error>

#include "receiptora/home_folder.hpp"
#include "receiptora/local_time.hpp"

namespace receiptora {

namespace fs = std::filesystem;

fs::path default_log_path() {
#ifdef _WIN32
  return fs::path("C:/quillmarkers/error.log");
#else
  fs::path base;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg && fs::path(xdg).is_absolute()) {
    base = xdg;
  } else {
    base = home_folder() / ".local" / "share";
  }
  return base / "quillmarkers" / "Receiptora" / "error.log";
#endif
}

fs::path rotated_name(const fs::path& log, int n) {
  fs::path name = log;
  name += '.';  // two appends: GCC 12 warns falsely (-Wrestrict) about "." + std::to_string(n)
  name += std::to_string(n);
  return name;
}

namespace {

void rotate(const fs::path& log, int keep) {
  std::error_code ec;
  if (keep <= 0) {
    fs::remove(log, ec);
    return;
  }
  fs::remove(rotated_name(log, keep), ec);
  for (int n = keep - 1; n >= 1; --n) {
    const fs::path from = rotated_name(log, n);
    if (fs::exists(from, ec)) fs::rename(from, rotated_name(log, n + 1), ec);
  }
  fs::rename(log, rotated_name(log, 1), ec);
}

}  // namespace

bool append_to_log(const fs::path& log, std::string_view record, std::uintmax_t limit, int keep) {
  std::error_code ec;
  if (log.has_parent_path()) fs::create_directories(log.parent_path(), ec);

  const std::uintmax_t size = fs::file_size(log, ec);
  if (!ec && size > 0 && size + record.size() > limit) rotate(log, keep);

  std::ofstream out(log, std::ios::binary | std::ios::app);
  if (!out) return false;
  out.write(record.data(), static_cast<std::streamsize>(record.size()));
  out.flush();
  return static_cast<bool>(out);
}

}  // namespace receiptora
