// Receipt numbers 收據-YYYYMMDD-NNN, counted per day (the book claims them), and the month
// folders that hold the receipts.
#pragma once

#include <filesystem>
#include <string>

namespace receiptora::store {

namespace fs = std::filesystem;

struct Day {
  int year = 0;
  int month = 0;
  int day = 0;
};

// "收據-20261207-003"; a day's thousandth receipt simply gets four digits.
std::string receipt_number(Day day, int sequence);

// root/"2026-12": the folder that holds a month's receipts.
fs::path month_folder(const fs::path& root, Day day);

// The month folder, created when missing; std::system_error when it is a symbolic link (or
// not a folder): receipts and their copies are written only into a real folder of the root.
fs::path real_month_folder(const fs::path& root, Day day);

}  // namespace receiptora::store
