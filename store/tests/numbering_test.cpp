#include <gtest/gtest.h>

#include "receiptora/store/numbering.hpp"
#include "temp_folder.hpp"

namespace receiptora::store {
namespace {

TEST(Numbering, NumbersAndMonthFoldersOfADay) {
  EXPECT_EQ(receipt_number({2026, 12, 7}, 3), "收據-20261207-003");
  EXPECT_EQ(receipt_number({2026, 12, 7}, 1234), "收據-20261207-1234");  // the thousandth gets four digits
  EXPECT_EQ(month_folder("/shop", {2027, 1, 1}), fs::path("/shop/2027-01"));
  TempFolder dir;
  EXPECT_EQ(real_month_folder(dir.path, {2026, 12, 7}), dir.path / "2026-12");
  EXPECT_TRUE(fs::is_directory(dir.path / "2026-12"));
}

TEST(Numbering, RootWithAControlCharacterIsRefusedNotTried) {
  TempFolder dir;
  // A NUL cuts the name short in every system call: the month folder would be made elsewhere.
  const fs::path root = dir.path.string() + std::string("\0x", 2);
  EXPECT_THROW(real_month_folder(root, {2026, 12, 7}), std::invalid_argument);
  EXPECT_FALSE(fs::exists(dir.path / "2026-12"));
}

TEST(Numbering, SymbolicLinkAsMonthFolderIsRefused) {
  TempFolder dir, elsewhere;
  fs::create_symlink(elsewhere.path, dir.path / "2026-12");
  try {
    real_month_folder(dir.path, {2026, 12, 7});
    FAIL() << "no error";
  } catch (const std::system_error& error) {
    EXPECT_NE(std::string(error.what()).find("符號連結"), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("2026-12"), std::string::npos) << error.what();
  }
  EXPECT_TRUE(fs::is_empty(elsewhere.path));
}

}  // namespace
}  // namespace receiptora::store
