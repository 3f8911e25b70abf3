#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <string>

#include "case_label.hpp"
#include "receiptora/log_file.hpp"
#include "scoped_env.hpp"

namespace receiptora {
namespace {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards.
class LogFolder : public testing::Test {
 protected:
  void SetUp() override {
    // Random: test runs of several checkouts share the temporary folder.
    folder_ = fs::temp_directory_path() / ("receiptora_log_" + std::to_string(std::random_device{}()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  fs::path folder_;
};

std::optional<std::string> read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write(const fs::path& path, const std::string& data) { std::ofstream(path, std::ios::binary) << data; }

const std::string kRecord = "=== record\n";
const std::string kFull(kLogLimit - kRecord.size() + 1, 'o');  // one byte too many for the record

// Files by suffix ("" is the log itself) before and after one append; nullopt: no such file.
struct RotationCase {
  const char* label;
  std::map<std::string, std::string> before;
  int keep;
  std::map<std::string, std::optional<std::string>> after;
};

class Rotation : public LogFolder, public testing::WithParamInterface<RotationCase> {};

TEST_P(Rotation, MovesOldFilesUpBeforeTheLimit) {
  const RotationCase& c = GetParam();
  const fs::path log = folder_ / "logs" / "error.log";
  if (!c.before.empty()) fs::create_directories(log.parent_path());
  for (const auto& [suffix, data] : c.before) write(log.string() + suffix, data);
  ASSERT_TRUE(append_to_log(log, kRecord, kLogLimit, c.keep));
  for (const auto& [suffix, data] : c.after) EXPECT_EQ(read(log.string() + suffix), data) << suffix;
}

const RotationCase kRotations[] = {
    {"new_folder", {}, kLogKeep, {{"", kRecord}, {".1", std::nullopt}}},
    {"under_limit", {{"", "x"}}, kLogKeep, {{"", "x" + kRecord}, {".1", std::nullopt}}},
    {"at_limit", {{"", kFull.substr(1)}}, kLogKeep, {{"", kFull.substr(1) + kRecord}, {".1", std::nullopt}}},
    {"full", {{"", kFull}}, kLogKeep, {{"", kRecord}, {".1", kFull}}},
    {"record_alone_over_limit_in_empty_file", {{"", ""}}, kLogKeep, {{"", kRecord}, {".1", std::nullopt}}},
    {"keeps_three",
     {{"", kFull}, {".1", "1"}, {".2", "2"}, {".3", "3"}},
     kLogKeep,
     {{"", kRecord}, {".1", kFull}, {".2", "1"}, {".3", "2"}, {".4", std::nullopt}}},
    {"gap_in_old_files",
     {{"", kFull}, {".2", "2"}},
     kLogKeep,
     {{"", kRecord}, {".1", kFull}, {".2", std::nullopt}, {".3", "2"}}},
    {"keep_none", {{"", kFull}}, 0, {{"", kRecord}, {".1", std::nullopt}}},
};

INSTANTIATE_TEST_SUITE_P(Cases, Rotation, testing::ValuesIn(kRotations), CaseLabel{});

TEST_F(LogFolder, UnwritableFolderReportsFalse) {
  write(folder_ / "not_a_folder", "a file where the log folder should be");
  EXPECT_FALSE(append_to_log(folder_ / "not_a_folder" / "error.log", kRecord));
}

// XDG_DATA_HOME when absolute, else .local/share in the home folder; nullptr: unset, or for
// the expected base the account's home from the password database.
TEST(DefaultLogPath, DataFolderElseHome) {
  struct Case {
    const char* xdg;
    const char* home;
    const char* base;
  };
  const Case cases[] = {
      {"/data", "/home/operator", "/data"},
      {nullptr, "/home/operator", "/home/operator/.local/share"},
      {"relative/data", "/home/operator", "/home/operator/.local/share"},
      {"", "/home/operator", "/home/operator/.local/share"},
      {nullptr, nullptr, nullptr},
  };
  for (const auto& [xdg, home, base] : cases) {
    ScopedEnv xdg_env("XDG_DATA_HOME", xdg), home_env("HOME", home);
    const fs::path expected = base ? fs::path(base) : fs::path(account_home()) / ".local" / "share";
    EXPECT_EQ(default_log_path(), expected / "quillmarkers" / "Receiptora" / "error.log")
        << (xdg ? xdg : "(unset)") << " " << (home ? home : "(unset)");
  }
}

}  // namespace
}  // namespace receiptora
