#include "receiptora/store/numbering.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <system_error>
#include <utility>

#include "platform.hpp"
#include "receiptora/store/files.hpp"

namespace receiptora::store {

namespace {

constexpr std::string_view kPrefix = "收據-";

std::string day_digits(Day day) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d%02d", day.year, day.month, day.day);
  return text;
}

// The highest sequence of `day` among the names in `folder` (0 when none).
int highest_in(const fs::path& folder, const std::string& stem) {
  int highest = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, stem.size(), stem) != 0) continue;
    int sequence = 0;
    size_t i = stem.size();
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9' && sequence < 100000000; ++i)
      sequence = sequence * 10 + (name[i] - '0');
    if (i > stem.size() && (i == name.size() || name[i] == '.') && sequence > highest) highest = sequence;
  }
  return highest;
}

// The last number this process claimed per month folder and day: later claims start above it
// instead of reading the folder again. Another process's claims are met by EEXIST.
std::mutex g_hint_mutex;
std::map<std::pair<std::string, std::string>, int> g_last_claimed;

}  // namespace

std::string receipt_number(Day day, int sequence) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03d", sequence);
  return std::string(kPrefix) + day_digits(day) + "-" + digits;
}

fs::path month_folder(const fs::path& root, Day day) {
  char name[16];
  std::snprintf(name, sizeof name, "%04d-%02d", day.year, day.month);
  return root / name;
}

fs::path real_month_folder(const fs::path& root, Day day) {
  check_path_text(root);
  const fs::path folder = month_folder(root, day);
  platform::make_real_folder(folder, "月份資料夾");
  return folder;
}

std::string claim_number(const fs::path& root, Day day) {
  check_path_text(root);
  const fs::path folder = month_folder(root, day);
  const fs::path claims = folder / ".claimed";
  platform::make_real_folder(folder, "月份資料夾");
  platform::make_real_folder(claims, "已取用號碼的資料夾");

  const std::string stem = std::string(kPrefix) + day_digits(day) + "-";
  const auto key = std::make_pair(folder.string(), stem);
  int sequence;
  {
    std::lock_guard lock(g_hint_mutex);
    auto found = g_last_claimed.find(key);
    sequence = found != g_last_claimed.end() ? found->second
                                             : std::max(highest_in(claims, stem), highest_in(folder, stem));
  }
  // Other writers take numbers meanwhile, so a few tries may meet taken ones; thousands in a
  // row mean the folder does not behave as a folder should, and the caller hears of it.
  for (int tries = 0; tries < kClaimTries; ++tries) {
    ++sequence;
    const std::string number = receipt_number(day, sequence);
    if (!platform::create_exclusive(claims / number)) continue;
    std::error_code ec;
    if (fs::exists(folder / (number + ".pdf"), ec) || fs::exists(folder / (number + ".png"), ec)) continue;
    std::lock_guard lock(g_hint_mutex);
    int& last = g_last_claimed[key];
    if (sequence > last) last = sequence;
    return number;
  }
  {  // the numbers tried are taken: the next claim starts after them
    std::lock_guard lock(g_hint_mutex);
    int& last = g_last_claimed[key];
    if (sequence > last) last = sequence;
  }
  throw std::system_error(
      std::make_error_code(std::errc::resource_unavailable_try_again),
      "no free receipt number found in " + std::to_string(kClaimTries) + " tries in " + claims.string());
}

}  // namespace receiptora::store
