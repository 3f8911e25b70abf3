#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "receiptora/store/ledger.hpp"
#include "temp_folder.hpp"

namespace receiptora::store {
namespace {

struct QuotingCase {
  const char* name;
  const char* buyer;
  const char* field;
};

class LedgerQuoting : public testing::TestWithParam<QuotingCase> {};

TEST_P(LedgerQuoting, BuyerField) {
  LedgerLine line{"收據-20261207-001", "2026-12-07", GetParam().buyer, "", 2, "970", "f.pdf", "一般格式"};
  EXPECT_EQ(ledger_line(line),
            std::string("收據-20261207-001,2026-12-07,") + GetParam().field + ",,2,970,f.pdf,一般格式\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LedgerQuoting,
    testing::Values(QuotingCase{"Plain", "林記茶行", "林記茶行"},
                    QuotingCase{"Comma", "林記, 茶行", "\"林記, 茶行\""},
                    QuotingCase{"Quote", "the \"best\" tea", "\"the \"\"best\"\" tea\""},
                    QuotingCase{"Newline", "line1\nline2", "\"line1\nline2\""},
                    QuotingCase{"Formula", "=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
                    QuotingCase{"LeadingMinus", "-5", "'-5"}),
    [](const testing::TestParamInfo<QuotingCase>& case_info) { return std::string(case_info.param.name); });

TEST(Ledger, NegativeTotalIsNotTouched) {
  LedgerLine line{"n", "d", "b", "t", 1, "-50", "f", "l"};
  EXPECT_EQ(ledger_line(line), "n,d,b,t,1,-50,f,l\r\n");
}

TEST(Ledger, HeaderOnceAndWholeLinesFromTwoProcesses) {
  TempFolder dir;
  const fs::path file = dir.path / std::string(kLedgerName);
  constexpr int kEach = 200;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      const std::string buyer(3000, c == 0 ? 'a' : 'b');  // longer than a pipe's atomic write
      for (int i = 0; i < kEach; ++i)
        append_ledger(file, {std::to_string(i), "d", buyer, "", 1, "1", "f", "l"});
      ::_exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
  }
  const std::string text = read_all(file);
  ASSERT_EQ(text.rfind(ledger_header(), 0), 0u);
  std::istringstream lines(text.substr(ledger_header().size()));
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    const size_t a = line.find(std::string(3000, 'a')), b = line.find(std::string(3000, 'b'));
    EXPECT_TRUE((a == std::string::npos) != (b == std::string::npos)) << "line " << count;
    EXPECT_EQ(line.back(), '\r');
  }
  EXPECT_EQ(count, 2 * kEach);
}

struct EndingCase {
  const char* name;
  const char* before;  // the ledger after its header
  const char* after;
};

class LedgerEnding : public testing::TestWithParam<EndingCase> {};

TEST_P(LedgerEnding, NewLineNeverGluedOntoTheLast) {
  TempFolder dir;
  const fs::path file = dir.path / std::string(kLedgerName);
  write_text(file, ledger_header() + GetParam().before);
  append_ledger(file, {"n", "d", "b", "", 1, "1", "f", "l"});
  EXPECT_EQ(read_all(file), ledger_header() + GetParam().after + "n,d,b,,1,1,f,l\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LedgerEnding,
    testing::Values(EndingCase{"HeaderOnly", "", ""}, EndingCase{"Whole", "a,b\r\n", "a,b\r\n"},
                    EndingCase{"LineFeedOnly", "a,b\n", "a,b\n"}, EndingCase{"CutShort", "a,b", "a,b\r\n"}),
    [](const testing::TestParamInfo<EndingCase>& case_info) { return std::string(case_info.param.name); });

struct NotAFileCase {
  const char* name;
  const char* refusal;
  void (*make)(const fs::path& ledger, const fs::path& elsewhere);
};

class LedgerNotAFile : public testing::TestWithParam<NotAFileCase> {};

// Each is refused with a message naming the ledger, without blocking and without writing
// anywhere else.
TEST_P(LedgerNotAFile, RefusedNamingIt) {
  TempFolder dir, elsewhere;
  const fs::path file = dir.path / std::string(kLedgerName);
  GetParam().make(file, elsewhere.path / "other.csv");
  try {
    append_ledger(file, {"n", "d", "b", "", 1, "1", "f", "l"});
    FAIL() << "no error";
  } catch (const std::system_error& error) {
    const std::string what = error.what();
    EXPECT_NE(what.find(GetParam().refusal), std::string::npos) << what;
    EXPECT_NE(what.find(std::string(kLedgerName)), std::string::npos) << what;
  }
  EXPECT_EQ(read_all(elsewhere.path / "other.csv"), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, LedgerNotAFile,
                         testing::Values(NotAFileCase{"SymbolicLink", "symbolic link",
                                                      [](const fs::path& ledger, const fs::path& other) {
                                                        write_text(other, "");
                                                        fs::create_symlink(other, ledger);
                                                      }},
                                         NotAFileCase{"DanglingLink", "symbolic link",
                                                      [](const fs::path& ledger, const fs::path& other) {
                                                        fs::create_symlink(other, ledger);
                                                      }},
                                         NotAFileCase{"Fifo", "FIFO",
                                                      [](const fs::path& ledger, const fs::path&) {
                                                        ::mkfifo(ledger.c_str(), 0644);
                                                      }},
                                         NotAFileCase{"Folder", "directory",
                                                      [](const fs::path& ledger, const fs::path&) {
                                                        fs::create_directory(ledger);
                                                      }}),
                         [](const testing::TestParamInfo<NotAFileCase>& case_info) {
                           return std::string(case_info.param.name);
                         });

TEST(Ledger, LockHeldElsewhereGivesUpNamingTheFile) {
  TempFolder dir;
  const fs::path file = dir.path / std::string(kLedgerName);
  write_text(file, ledger_header());
  const int holder = ::open(file.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  try {
    append_ledger(file, {"n", "d", "b", "", 1, "1", "f", "l"}, std::chrono::milliseconds(50));
    FAIL() << "no error";
  } catch (const std::system_error& error) {
    EXPECT_NE(std::string(error.what()).find(file.string()), std::string::npos) << error.what();
  }
  ::close(holder);
  EXPECT_EQ(read_all(file), ledger_header());
  append_ledger(file, {"n", "d", "b", "", 1, "1", "f", "l"}, std::chrono::milliseconds(50));
  EXPECT_EQ(read_all(file), ledger_header() + "n,d,b,,1,1,f,l\r\n");
}

}  // namespace
}  // namespace receiptora::store
