// The month's workbook when it cannot be saved: the shop owner reads why, in Chinese, and the
// caller still sees the errno of the step that failed.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "receiptora/reports/xlsx.hpp"
#include "receiptora/store/file_error.hpp"

namespace receiptora::reports {
namespace {

TEST(MonthWorkbookFailure, KeepsTheRenamesReason) {
  const fs::path folder = fs::path(testing::TempDir()) / "xlsx_failure";
  fs::remove_all(folder);
  const fs::path target = folder / "收據簿-2026-12.xlsx";
  fs::create_directories(target);  // a folder where the workbook goes: the final rename fails
  try {
    write_month_xlsx(target, MonthWorkbook{{2026, 12}, {}, {}, {}, {}, {}});
    FAIL() << "a workbook over a folder was reported saved";
  } catch (const store::FileError& error) {
    EXPECT_EQ(error.code().value(), EISDIR);
    const std::string said = error.what();
    EXPECT_NE(said.find("無法寫入 " + target.string()), std::string::npos) << said;
    EXPECT_EQ(said.find("Success"), std::string::npos) << said;
  }
  for (const auto& entry : fs::directory_iterator(folder))
    EXPECT_EQ(entry.path(), target) << "a temporary workbook was left behind";
  fs::remove_all(folder);
}

}  // namespace
}  // namespace receiptora::reports
