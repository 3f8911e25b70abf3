#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <sstream>

#include "receiptora/store/numbering.hpp"
#include "temp_folder.hpp"

namespace receiptora::store {
namespace {

TEST(Numbering, CountsPerDayInMonthFolders) {
  TempFolder dir;
  const Day dec7{2026, 12, 7}, dec8{2026, 12, 8}, jan1{2027, 1, 1};
  const std::pair<Day, const char*> claims[] = {
      {dec7, "收據-20261207-001"}, {dec7, "收據-20261207-002"}, {dec8, "收據-20261208-001"},
      {jan1, "收據-20270101-001"}, {dec7, "收據-20261207-003"},
  };
  for (const auto& [day, number] : claims) EXPECT_EQ(claim_number(dir.path, day), number);
  EXPECT_TRUE(fs::is_directory(dir.path / "2026-12"));
  EXPECT_TRUE(fs::is_directory(dir.path / "2027-01"));
  EXPECT_EQ(receipt_number(dec7, 1234), "收據-20261207-1234");
}

TEST(Numbering, SkipsNumbersWhoseFilesExist) {
  TempFolder dir;  // receipts saved before the claim markers existed, or markers removed
  fs::create_directories(dir.path / "2026-12");
  write_text(dir.path / "2026-12" / "收據-20261207-004.pdf", "kept");
  write_text(dir.path / "2026-12" / "收據-20261206-009.png", "other day");
  EXPECT_EQ(claim_number(dir.path, {2026, 12, 7}), "收據-20261207-005");
  EXPECT_EQ(claim_number(dir.path, {2026, 12, 6}), "收據-20261206-010");
  EXPECT_EQ(read_all(dir.path / "2026-12" / "收據-20261207-004.pdf"), "kept");
}

TEST(Numbering, TwoProcessesOnOneFolderNeverShareANumber) {
  TempFolder dir;
  constexpr int kEach = 60;
  int pipes[2][2];
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    ASSERT_EQ(::pipe(pipes[c]), 0);
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      std::string out;
      for (int i = 0; i < kEach; ++i) out += claim_number(dir.path, {2026, 12, 7}) + "\n";
      if (::write(pipes[c][1], out.data(), out.size()) != static_cast<ssize_t>(out.size())) ::_exit(2);
      ::_exit(0);
    }
    ::close(pipes[c][1]);
  }
  std::set<std::string> numbers;
  for (int c = 0; c < 2; ++c) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipes[c][0], buffer, sizeof buffer)) > 0;)
      text.append(buffer, static_cast<size_t>(n));
    int status = 0;
    ::waitpid(children[c], &status, 0);
    EXPECT_EQ(status, 0);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) numbers.insert(line);
  }
  EXPECT_EQ(numbers.size(), 2u * kEach);
  EXPECT_EQ(*numbers.rbegin(), receipt_number({2026, 12, 7}, 2 * kEach));  // no gaps either
}

TEST(Numbering, RootWithAControlCharacterIsRefusedNotTried) {
  TempFolder dir;
  // A NUL cuts the name short in every system call: the claim would meet the existing
  // folder dir.path as "taken" for ever.
  const fs::path root = dir.path.string() + std::string("\0x", 2);
  EXPECT_THROW(claim_number(root, {2026, 12, 7}), std::invalid_argument);
  EXPECT_FALSE(fs::exists(dir.path / "2026-12"));
}

TEST(Numbering, SymbolicLinkAsMonthFolderIsRefused) {
  TempFolder dir, elsewhere;
  fs::create_symlink(elsewhere.path, dir.path / "2026-12");
  try {
    claim_number(dir.path, {2026, 12, 7});
    FAIL() << "no error";
  } catch (const std::system_error& error) {
    EXPECT_NE(std::string(error.what()).find("符號連結"), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("2026-12"), std::string::npos) << error.what();
  }
  EXPECT_TRUE(fs::is_empty(elsewhere.path));
}

TEST(Numbering, ClaimGivesUpAfterABoundedNumberOfTakenNumbers) {
  TempFolder dir;
  const Day day{2026, 12, 7};
  EXPECT_EQ(claim_number(dir.path, day), "收據-20261207-001");
  // Another writer took every number this process would try next.
  for (int i = 2; i <= kClaimTries + 1; ++i)
    write_text(dir.path / "2026-12" / ".claimed" / receipt_number(day, i), "");
  EXPECT_THROW(claim_number(dir.path, day), std::system_error);
  EXPECT_EQ(claim_number(dir.path, day), receipt_number(day, kClaimTries + 2));  // the next claim goes on
}

}  // namespace
}  // namespace receiptora::store
