// Receipt numbers 收據-YYYYMMDD-NNN: counted per day, never reused, claimed by exclusive
// creation so that two windows (or two processes) saving into one folder never share one.
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

// Numbers tried by one claim before it gives up.
inline constexpr int kClaimTries = 1000;

// Claims the next number of `day`: creates the month folder when missing, then the marker
// <month folder>/.claimed/<number> with O_CREAT|O_EXCL. A number whose marker, PDF or PNG
// already exists is skipped, so a number is never handed out twice, even after a crash
// between claim and save. Throws std::invalid_argument for a root whose name holds a control
// character, and std::system_error when the folder cannot be written, when the month folder
// (or its .claimed folder) is a symbolic link, or when kClaimTries numbers in a row are taken.
std::string claim_number(const fs::path& root, Day day);

}  // namespace receiptora::store
