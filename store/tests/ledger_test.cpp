#include <gtest/gtest.h>
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

}  // namespace
}  // namespace receiptora::store
