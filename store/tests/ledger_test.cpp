#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <vector>

#include "receiptora/store/ledger.hpp"
#include "case_name.hpp"
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
  LedgerLine line{"收據-20261207-001", "2026-12-07", GetParam().buyer, "", 2, "970", "f.pdf", "一般格式", ""};
  EXPECT_EQ(ledger_line(line), std::string("收據-20261207-001,\"=\"\"2026-12-07\"\"\",") + GetParam().field +
                                   ",,2,970,f.pdf,一般格式\r\n");
}

INSTANTIATE_TEST_SUITE_P(Cases, LedgerQuoting,
                         testing::Values(QuotingCase{"Plain", "林記茶行", "林記茶行"},
                                         QuotingCase{"Comma", "林記, 茶行", "\"林記, 茶行\""},
                                         QuotingCase{"Quote", "the \"best\" tea", "\"the \"\"best\"\" tea\""},
                                         QuotingCase{"Newline", "line1\nline2", "\"line1\nline2\""},
                                         QuotingCase{"Formula", "=HYPERLINK(\"x\")",
                                                     "\"'=HYPERLINK(\"\"x\"\")\""},
                                         QuotingCase{"LeadingMinus", "-5", "'-5"}),
                         CaseName());

struct CellCase {
  const char* name;
  LedgerLine line;
  const char* written;  // the line as written
};

class LedgerCells : public testing::TestWithParam<CellCase> {};

TEST_P(LedgerCells, WrittenSoASpreadsheetKeepsThem) {
  EXPECT_EQ(ledger_line(GetParam().line), std::string(GetParam().written) + "\r\n");
}

const CellCase kCells[] = {
    {"LeadingZeroTaxId",
     {"n", "", "林記", "04595257", 1, "970", "f", "l", ""},
     "n,,林記,\"=\"\"04595257\"\"\",1,970,f,l"},
    {"DigitsBuyer",
     {"n", "", "0912345678", "", 1, "970", "f", "l", ""},
     "n,,\"=\"\"0912345678\"\"\",,1,970,f,l"},
    {"TextDate",
     {"n", "2026-12-07", "b", "", 1, "970", "f", "l", ""},
     "n,\"=\"\"2026-12-07\"\"\",b,,1,970,f,l"},
    {"NegativeTotal", {"n", "", "b", "", 1, "-50", "f", "l", ""}, "n,,b,,1,-50,f,l"},
    {"FifteenDigitTotal",
     {"n", "", "b", "", 1, "999999999999999", "f", "l", ""},
     "n,,b,,1,999999999999999,f,l"},
    {"LongTotal",
     {"n", "", "b", "", 1, "1000000000000000007", "f", "l", ""},
     "n,,b,,1,\"=\"\"1000000000000000007\"\"\",f,l"},
    {"LongNegativeTotal",
     {"n", "", "b", "", 1, "-1000000000000000007", "f", "l", ""},
     "n,,b,,1,\"=\"\"-1000000000000000007\"\"\",f,l"},
    {"DigitsWithDash", {"n", "", "b", "02-2345-6789", 1, "1", "f", "l", ""}, "n,,b,02-2345-6789,1,1,f,l"},
    {"VoidLineWithItsReasonDisarmed",
     {"n", "", "b", "", 1, "-970", "f", "l", "作廢", "=開錯, 重開"},
     "n,,b,,1,-970,f,l,作廢,\"'=開錯, 重開\""},
};

INSTANTIATE_TEST_SUITE_P(Cases, LedgerCells, testing::ValuesIn(kCells), CaseName());

// The cells of a CSV line as Python's csv module (and any CSV reader) returns them.
std::vector<std::string> csv_cells(const std::string& line) {
  std::vector<std::string> cells(1);
  bool in_quotes = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (in_quotes && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      cells.back().push_back('"');
      ++i;
    } else if (c == '"') {
      in_quotes = !in_quotes;
    } else if (c == ',' && !in_quotes) {
      cells.emplace_back();
    } else if (c != '\r' || in_quotes) {
      cells.back().push_back(c);
    }
  }
  return cells;
}

TEST(Ledger, SpreadsheetAndCsvReaderGetTheTextsBack) {
  TempFolder dir;
  const fs::path file = dir.path / std::string(kLedgerName);
  for (const CellCase& cell : kCells) append_ledger(file, cell.line);
  // Gnumeric opens the ledger as a spreadsheet does and writes the values it shows.
  const fs::path shown = dir.path / "shown.csv";
  const std::string command =
      "ssconvert --recalc '" + file.string() + "' '" + shown.string() + "' > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << "ssconvert (Debian package gnumeric) is needed";
  std::istringstream spreadsheet(read_all(shown)), written(read_all(file).substr(3));
  std::string shown_line, written_line;
  std::getline(spreadsheet, shown_line);
  std::getline(written, written_line);
  for (const CellCase& cell : kCells) {
    ASSERT_TRUE(std::getline(spreadsheet, shown_line));
    ASSERT_TRUE(std::getline(written, written_line));
    const std::vector<std::string> values = csv_cells(shown_line), cells = csv_cells(written_line);
    ASSERT_EQ(values.size(), 10u) << shown_line;  // the state and reason columns left empty
    const std::pair<size_t, const std::string*> checked[] = {
        {1, &cell.line.date}, {2, &cell.line.buyer}, {3, &cell.line.buyer_tax_id}, {5, &cell.line.total}};
    for (const auto& [column, text] : checked) {
      EXPECT_EQ(values[column], *text) << cell.name << " column " << column;
      EXPECT_EQ(ledger_cell_text(cells[column]), *text) << cell.name << " column " << column;
    }
  }
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
        append_ledger(file, {std::to_string(i), "d", buyer, "", 1, "1", "f", "l", ""});
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
  const LedgerLine line{"n", "", "b", "", 1, "1", "f", "l", ""};
  append_ledger(file, line);
  EXPECT_EQ(read_all(file), ledger_header() + GetParam().after + ledger_line(line));
}

INSTANTIATE_TEST_SUITE_P(Cases, LedgerEnding,
                         testing::Values(EndingCase{"HeaderOnly", "", ""},
                                         EndingCase{"Whole", "a,b\r\n", "a,b\r\n"},
                                         EndingCase{"LineFeedOnly", "a,b\n", "a,b\n"},
                                         EndingCase{"CutShort", "a,b", "a,b\r\n"}),
                         CaseName());

class LedgerNotAFile : public testing::TestWithParam<NotAFileCase> {};

// Each is refused with a message naming the ledger, without blocking and without writing
// anywhere else.
TEST_P(LedgerNotAFile, RefusedNamingIt) {
  TempFolder dir, elsewhere;
  const fs::path file = dir.path / std::string(kLedgerName);
  GetParam().make(file, elsewhere.path / "other.csv");
  try {
    append_ledger(file, {"n", "d", "b", "", 1, "1", "f", "l", ""});
    FAIL() << "no error";
  } catch (const std::system_error& error) {
    const std::string what = error.what();
    EXPECT_NE(what.find(GetParam().refusal), std::string::npos) << what;
    EXPECT_NE(what.find(std::string(kLedgerName)), std::string::npos) << what;
  }
  EXPECT_EQ(read_all(elsewhere.path / "other.csv").find("收據"), std::string::npos);  // nothing written there
}

INSTANTIATE_TEST_SUITE_P(Cases, LedgerNotAFile, testing::ValuesIn(kNotAFile), CaseName());

TEST(Ledger, LockHeldElsewhereGivesUpNamingTheFile) {
  TempFolder dir;
  const fs::path file = dir.path / std::string(kLedgerName);
  write_text(file, ledger_header());
  const int holder = ::open(file.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  try {
    append_ledger(file, {"n", "d", "b", "", 1, "1", "f", "l", ""}, std::chrono::milliseconds(50));
    FAIL() << "no error";
  } catch (const std::system_error& error) {
    EXPECT_NE(std::string(error.what()).find(file.string()), std::string::npos) << error.what();
  }
  ::close(holder);
  EXPECT_EQ(read_all(file), ledger_header());
  append_ledger(file, {"n", "", "b", "", 1, "1", "f", "l", ""}, std::chrono::milliseconds(50));
  EXPECT_EQ(read_all(file), ledger_header() + "n,,b,,1,1,f,l\r\n");
}

}  // namespace
}  // namespace receiptora::store
