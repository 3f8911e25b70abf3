#include "receiptora/store/files.hpp"

#include <map>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>

#include "platform.hpp"
#include "receiptora/store/ledger.hpp"
#include "receiptora/store/shop_files.hpp"

namespace receiptora::store {

namespace {

// "." + name + ".": the start of a temporary file's name beside `name`.
std::string temporary_prefix(std::string_view name) {
  std::string prefix(1, '.');
  prefix.append(name).push_back('.');
  return prefix;
}

}  // namespace

void check_path_text(const fs::path& path) {
  const std::string& text = path.native();
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, "U+%04X", c);
      throw std::invalid_argument("資料夾名稱 " + text.substr(0, i) + "… 含有控制字元（" + std::string(code) +
                                  "，第 " + std::to_string(i + 1) + " 個位元組），資料夾名稱不能有控制字元");
    }
  }
}

StagedFile stage_file(const fs::path& target, std::string_view bytes, bool flush) {
  auto [file, temp] =
      platform::create_temporary(target.parent_path(), temporary_prefix(target.filename().string()));
  try {
    platform::write_all(file, bytes, target);
    if (flush) platform::flush_file(file, target);
    file.close(target);
  } catch (...) {
    platform::remove_file(temp);
    throw;
  }
  return {temp, target};
}

void commit_file(const StagedFile& staged) {
  if (!platform::rename_no_replace(staged.temp, staged.target)) {
    const int error = errno;
    platform::remove_file(staged.temp);
    platform::fail(error, "無法存檔", staged.target);
  }
}

void discard_file(const StagedFile& staged) noexcept { platform::remove_file(staged.temp); }

void write_new_file(const fs::path& target, std::string_view bytes) {
  commit_file(stage_file(target, bytes, true));
}

void sync_file_system(const fs::path& path) { platform::sync_file_system(path); }

void sync_staged_files(const std::vector<StagedFile>& staged) {
  std::set<std::uint64_t> done;
  for (const StagedFile& file : staged) {
    const fs::path folder = file.temp.parent_path();
    if (done.insert(platform::file_system_of(folder)).second) platform::sync_file_system(folder);
  }
}

void sync_folder(const fs::path& folder) { platform::sync_folder(folder); }

std::vector<fs::path> remove_stale_temporaries(const fs::path& root, double older_than_seconds) {
  // Exactly the names stage_file gives: "." + a file of ours + "." + six characters of mkstemp.
  static const std::regex month(R"(\d{4}-\d{2})");
  // A receipt's files, its copies' (-作廢, -補印-2) and its pages' pictures (-第2頁).
  static const std::regex receipt_temp(R"(\.收據-\d{8}-\d{3,}(-[^./]+)*\.(pdf|png)\.[A-Za-z0-9]{6})");
  const std::string ledger = temporary_prefix(kLedgerName), profile = temporary_prefix(kProfileName);
  auto own_root_temp = [&](const std::string& name) {
    for (const std::string& prefix : {ledger, profile})
      if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  };

  std::vector<fs::path> removed;
  auto consider = [&](const fs::path& file) {
    if (platform::is_symbolic_link(file)) return;
    const double age = platform::age_in_seconds(file);
    if (age < older_than_seconds || platform::locked_by_another(file)) return;
    std::error_code ec;
    if (fs::is_regular_file(file, ec) && fs::remove(file, ec)) removed.push_back(file);
  };
  std::error_code ec;
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (own_root_temp(name)) {
      consider(it->path());
    } else if (std::regex_match(name, month) && !platform::is_symbolic_link(it->path())) {
      std::error_code inner;
      for (fs::directory_iterator f(it->path(), inner); !inner && f != end; f.increment(inner))
        if (std::regex_match(f->path().filename().string(), receipt_temp)) consider(f->path());
    }
  }
  return removed;
}

}  // namespace receiptora::store
