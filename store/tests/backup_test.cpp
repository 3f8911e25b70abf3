#include "receiptora/store/backup.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "case_name.hpp"
#include "shop_folder.hpp"

namespace receiptora::store {
namespace {

namespace fs = std::filesystem;

// A shop folder, perhaps damaged, backed up: a sound one becomes a complete folder whose
// book passes and whose files match; a damaged one is refused naming the receipt and file,
// and leaves nothing under the destination.
struct BackupCase {
  const char* name;
  std::function<void(const fs::path& root)> damage;
  const char* refusal;  // empty: the backup is made
};

class Backup : public testing::TestWithParam<BackupCase> {};

TEST_P(Backup, MakesACompleteVerifiedFolderOrNothing) {
  TempFolder shop, dest;
  const fs::path root = shop.path / "Receiptora";
  const auto records = fill_shop(root, 3);
  write_text(root / "開立結果-20261208-101500.csv", "result");
  write_text(root / "2026-12" / ".收據-20261208-004.pdf.tmp", "a save under way");
  GetParam().damage(root);
  Book book(root);
  if (*GetParam().refusal) {
    try {
      back_up(book, dest.path / "備份");
      FAIL() << "backed up";
    } catch (const BackupError& error) {
      EXPECT_NE(std::string(error.what()).find(GetParam().refusal), std::string::npos) << error.what();
    }
    EXPECT_TRUE(fs::is_empty(dest.path / "備份"));
    EXPECT_FALSE(last_backup(book));
    return;
  }
  const BackupReport report = back_up(book, dest.path / "備份");
  EXPECT_EQ(report.folder.parent_path(), dest.path / "備份");
  EXPECT_EQ(report.folder.filename().string().rfind("收據備份-", 0), 0u);
  EXPECT_EQ(report.receipts, records.size());
  EXPECT_EQ(report.checked, 2 * records.size());
  for (const char* name : {"收據清冊.csv", "賣方資料.toml", "stamp.png", "開立結果-20261208-101500.csv",
                           "2026-12/收據-20261208-003.png"})
    EXPECT_EQ(read_all(report.folder / name), read_all(root / name)) << name;
  EXPECT_FALSE(fs::exists(report.folder / "2026-12" / ".收據-20261208-004.pdf.tmp"));
  EXPECT_FALSE(fs::exists(report.folder / "收據簿.sqlite3-wal"));
  Book copy(report.folder);  // a book of its own, equal to the original
  EXPECT_EQ(all_records(copy).size(), records.size());
  EXPECT_EQ(find_receipt(copy, records.back().number)->files.back().sha256,
            records.back().files.back().sha256);
  EXPECT_TRUE(last_backup(book));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Backup,
    testing::Values(
        BackupCase{"Sound", [](const fs::path&) {}, ""},
        BackupCase{"FileMissing",
                   [](const fs::path& root) { fs::remove(root / "2026-12/收據-20261207-002.pdf"); },
                   "收據-20261207-002 的檔案 2026-12/收據-20261207-002.pdf 不在備份裡"},
        BackupCase{"FileChanged",
                   [](const fs::path& root) { write_text(root / "2026-12/收據-20261208-001.png", "x"); },
                   "收據-20261208-001 的檔案 2026-12/收據-20261208-001.png 在備份裡與收據簿記錄的不同"}),
    CaseName());

// A backup killed half-way leaves a hidden partial copy; the next backup into the same place
// removes it (nobody holds its lock) and is not stopped by it. A destination inside the output
// folder is refused: a failing disk would take the backup with it.
TEST(BackupPlace, LeftoversOfAKilledBackupAreRemovedAndTheFolderItselfIsRefused) {
  TempFolder shop, dest;
  fill_shop(shop.path, 1);
  Book book(shop.path);
  const fs::path leftover = dest.path / ".收據備份-20261207-101500.partial";
  fs::create_directories(leftover / "2026-12");
  write_text(leftover / "2026-12" / "收據-20261207-001.pdf", "half a copy");
  fs::last_write_time(leftover, fs::file_time_type::clock::now() - std::chrono::hours(1));
  back_up(book, dest.path);
  EXPECT_FALSE(fs::exists(leftover));
  for (const fs::path& inside : {shop.path, shop.path / "備份"})
    EXPECT_THROW(back_up(book, inside), BackupError) << inside;
  EXPECT_FALSE(fs::exists(shop.path / "備份"));
}

}  // namespace
}  // namespace receiptora::store
