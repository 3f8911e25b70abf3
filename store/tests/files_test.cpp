#include <gtest/gtest.h>

#include "receiptora/store/files.hpp"
#include "temp_folder.hpp"

namespace receiptora::store {
namespace {

size_t entries(const fs::path& folder) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(WriteNewFile, WritesWholeFileAndNeverReplacesOne) {
  TempFolder dir;
  const fs::path target = dir.path / "收據-20261207-001.pdf";
  write_new_file(target, "first");
  EXPECT_EQ(read_all(target), "first");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::others_read, fs::perms::others_read);
  EXPECT_THROW(write_new_file(target, "second"), std::system_error);
  EXPECT_EQ(read_all(target), "first");
  EXPECT_EQ(entries(dir.path), 1u);  // no temporary file left behind
}

TEST(WriteNewFile, FolderThatCannotTakeFilesThrowsNamingIt) {
  TempFolder dir;
  write_text(dir.path / "not-a-folder", "");  // fails for root too, unlike permissions
  try {
    write_new_file(dir.path / "not-a-folder" / "a.png", "x");
    FAIL() << "no error";
  } catch (const std::system_error& error) {
    EXPECT_NE(std::string(error.what()).find("not-a-folder"), std::string::npos);
  }
  EXPECT_EQ(entries(dir.path), 1u);
}

}  // namespace
}  // namespace receiptora::store
