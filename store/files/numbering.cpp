#include "receiptora/store/numbering.hpp"

#include <cstdio>

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

}  // namespace receiptora::store
