#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "receiptora/store/files.hpp"
#include "receiptora/store/ledger.hpp"
#include "receiptora/store/profile.hpp"
#include "case_name.hpp"
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

struct PathTextCase {
  const char* name;
  std::string path;
  bool refused;
};

class PathText : public testing::TestWithParam<PathTextCase> {};

TEST_P(PathText, ControlCharactersRefused) {
  if (GetParam().refused)
    EXPECT_THROW(check_path_text(GetParam().path), std::invalid_argument);
  else
    EXPECT_NO_THROW(check_path_text(GetParam().path));
}

INSTANTIATE_TEST_SUITE_P(Cases, PathText,
                         testing::Values(PathTextCase{"Plain", "/home/林記/quillmarkers/Receiptora/", false},
                                         PathTextCase{"SpacesAndSymbols", "/tmp/a b (2)/#1 ~x", false},
                                         PathTextCase{"Nul", std::string("/tmp/a\0b", 8), true},
                                         PathTextCase{"LineBreak", "/tmp/a\nb", true},
                                         PathTextCase{"Tab", "/tmp/a\tb", true},
                                         PathTextCase{"Escape", "/tmp/\x1b[31m", true},
                                         PathTextCase{"Delete", "/tmp/a\x7f", true}),
                         CaseName());

TEST(Store, NameWithANulNeverReachesTheSystem) {
  TempFolder dir;
  const fs::path cut = dir.path / "a";  // what the system would see of "a\0b"
  write_text(cut, "");
  const fs::path folder = dir.path / std::string("a\0b", 3);
  EXPECT_THROW(write_new_file(folder / "f.pdf", "x"), std::invalid_argument);
  EXPECT_THROW(append_ledger(folder / std::string(kLedgerName), {"n", "", "b", "", 1, "1", "f", "l"}),
               std::invalid_argument);
  const ProfileRead profile = read_profile(folder);
  ASSERT_EQ(profile.problems.size(), 1u);
  EXPECT_NE(profile.problems[0].find("控制字元"), std::string::npos) << profile.problems[0];
  EXPECT_EQ(read_all(cut), "");
  EXPECT_EQ(entries(dir.path), 1u);
}

void make_old(const fs::path& file) {
  fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(2));
}

TEST(RemoveStaleTemporaries, OnlyOurOldUnlockedTemporaries) {
  TempFolder dir;
  const fs::path month = dir.path / "2026-12";
  fs::create_directories(month / ".claimed");
  const fs::path stale[] = {month / ".收據-20261207-001.pdf.a1B2c3",
                            month / ".收據-20261207-001.png.Zz9999",
                            month / ".收據-20261207-001-第2頁.png.b2C3d4",  // a page's picture
                            month / ".收據-20261207-001-作廢-第2頁.png.c3D4e5",
                            dir.path / ".收據清冊.csv.qwerty",
                            dir.path / ".賣方資料.toml.ABCDEF"};
  const fs::path kept[] = {
      month / "收據-20261207-001.pdf",       // a receipt
      month / ".收據-20261207-002.pdf.swp",  // not a name we give
      month / ".claimed" / "收據-20261207-001",
      dir.path / "收據清冊.csv",
      dir.path / "notes.txt",
      dir.path / ".收據-20261207-003.pdf.abcdef",  // receipts' temporaries live in month folders
  };
  for (const fs::path& file : stale) write_text(file, "x");
  for (const fs::path& file : kept) write_text(file, "x");
  for (const fs::path& file : kept) make_old(file);
  for (const fs::path& file : stale) make_old(file);
  const fs::path fresh = month / ".收據-20261207-004.pdf.fresh1";  // a writer may still be at work
  write_text(fresh, "x");
  const fs::path locked = month / ".收據-20261207-005.png.locked";
  write_text(locked, "x");
  make_old(locked);
  const int holder = ::open(locked.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  const fs::path link = month / ".收據-20261207-006.pdf.linked";
  fs::create_symlink(dir.path / "notes.txt", link);

  std::vector<fs::path> removed = remove_stale_temporaries(dir.path);
  ::close(holder);
  std::sort(removed.begin(), removed.end());
  std::vector<fs::path> expected(std::begin(stale), std::end(stale));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(removed, expected);
  for (const fs::path& file : stale) EXPECT_FALSE(fs::exists(file)) << file;
  for (const fs::path& file : kept) EXPECT_TRUE(fs::exists(file)) << file;
  EXPECT_TRUE(fs::exists(fresh));
  EXPECT_TRUE(fs::exists(locked));
  EXPECT_TRUE(fs::is_symlink(link));
}

TEST(StageFile, FlushedPerFileSystemThenCommitted) {
  TempFolder dir;
  std::vector<StagedFile> staged{stage_file(dir.path / "a.pdf", "a", false),
                                 stage_file(dir.path / "b.pdf", "b", false)};
  sync_staged_files(staged);
  for (const StagedFile& file : staged) commit_file(file);
  EXPECT_EQ(read_all(dir.path / "a.pdf"), "a");
  EXPECT_EQ(read_all(dir.path / "b.pdf"), "b");
  EXPECT_EQ(entries(dir.path), 2u);
}

}  // namespace
}  // namespace receiptora::store
