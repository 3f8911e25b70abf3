// Receipt numbers to files, the job's options, and the refusals that come before CUPS is asked.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "../../core/tests/case_label.hpp"
#include "../../core/tests/scoped_env.hpp"
#include "../../store/tests/temp_folder.hpp"
#include "receiptora/print/print.hpp"
#include "receiptora/store/book.hpp"

namespace receiptora::print {
namespace {

using store::TempFolder;

struct NumberCase {
  std::string label;
  std::string number;
  bool found;
};

class ReceiptPdf : public testing::TestWithParam<NumberCase> {};

TEST_P(ReceiptPdf, FindsOnlyReceiptNumbersInTheirMonthFolder) {
  TempFolder root;
  fs::create_directories(root.path / "2026-12");
  store::write_text(root.path / "2026-12" / "收據-20261207-001.pdf", "%PDF");
  store::write_text(root.path / "2026-12" / "收據-20261207-1000.pdf", "%PDF");
  store::write_text(root.path / "secret.pdf", "%PDF");
  const NumberCase& c = GetParam();
  if (c.found) {
    const fs::path pdf = receipt_pdf(root.path, c.number);
    EXPECT_EQ(pdf.parent_path(), root.path / "2026-12");
    EXPECT_TRUE(fs::is_regular_file(pdf));
  } else {
    EXPECT_THROW(receipt_pdf(root.path, c.number), PrintError);
  }
}

INSTANTIATE_TEST_SUITE_P(Numbers, ReceiptPdf,
                         testing::Values(NumberCase{"full_number", "收據-20261207-001", true},
                                         NumberCase{"without_prefix", "20261207-001", true},
                                         NumberCase{"four_digit_count", "20261207-1000", true},
                                         NumberCase{"not_issued", "20261207-002", false},
                                         NumberCase{"other_month", "20261107-001", false},
                                         NumberCase{"short_day", "2026127-001", false},
                                         NumberCase{"no_count", "20261207-", false},
                                         NumberCase{"letters", "2026120X-001", false},
                                         NumberCase{"path_up", "../secret", false},
                                         NumberCase{"path_inside", "20261207-001/../../secret", false},
                                         NumberCase{"empty", "", false}),
                         CaseLabel{});

TEST(ReceiptPdf, AVoidReceiptPrintsOnlyAsItsVoidCopyAndAnUnfinishedOneNotAtAll) {
  TempFolder root;
  fs::create_directories(root.path / "2026-12");
  {
    store::Book book(root.path);
    for (const char* name : {"收據-20261207-001", "收據-20261207-002", "收據-20261207-003"}) {
      store::Record r;
      r.number = name;
      r.date = "2026-12-07";
      r.state = std::string(name).back() == '3' ? store::State::Unfinished : store::State::Issued;
      r.files = {{"2026-12/" + std::string(name) + ".pdf", "", "original"}};
      store::insert_record(book, r);
      store::write_text(root.path / r.files[0].name, "%PDF");
    }
    store::write_text(root.path / "2026-12/收據-20261207-002-作廢.pdf", "%PDF void");
    store::mark_void(book, "收據-20261207-002", "退貨", "t",
                     {{"2026-12/收據-20261207-002-作廢.pdf", "", "void"}}, [] {});
  }
  EXPECT_EQ(receipt_pdf(root.path, "20261207-001").filename(), "收據-20261207-001.pdf");
  EXPECT_EQ(receipt_pdf(root.path, "20261207-002").filename(), "收據-20261207-002-作廢.pdf");
  EXPECT_THROW(receipt_pdf(root.path, "20261207-003"), PrintError);
}

TEST(JobOptions, A5LandscapeWithTheCopies) {
  PrintRequest request;
  request.copies = 3;
  std::map<std::string, std::string> options;
  for (const auto& [name, value] : job_options(request)) options[name] = value;
  EXPECT_EQ(options["media"], "iso_a5_148x210mm");
  EXPECT_EQ(options["orientation-requested"], "4");
  EXPECT_EQ(options["copies"], "3");
}

struct RefusalCase {
  std::string label;
  int copies;
  bool file_exists;
  std::string message_part;
};

class Refusals : public testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, NeverReachCups) {
  // Pointing CUPS at a socket nobody listens on proves these refusals come first.
  ScopedEnv server("CUPS_SERVER", "/nonexistent/cups.sock");
  TempFolder root;
  const fs::path pdf = root.path / "a.pdf";
  if (GetParam().file_exists) store::write_text(pdf, "%PDF");
  PrintRequest request;
  request.copies = GetParam().copies;
  try {
    print_pdf(pdf, request);
    FAIL() << "printed";
  } catch (const PrintError& error) {
    EXPECT_NE(std::string(error.what()).find(GetParam().message_part), std::string::npos) << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Requests, Refusals,
                         testing::Values(RefusalCase{"no_copies", 0, true, "份數"},
                                         RefusalCase{"too_many_copies", 100, true, "份數"},
                                         RefusalCase{"missing_file", 1, false, "找不到收據檔"},
                                         RefusalCase{"cups_down", 1, true, "CUPS"}),
                         CaseLabel{});

}  // namespace
}  // namespace receiptora::print

namespace receiptora::print {
namespace {

TEST(PrintReceipts, EveryFailureIsLoggedAndTheFilesStay) {
  ScopedEnv server("CUPS_SERVER", "/nonexistent/cups.sock");
  TempFolder root;
  fs::create_directories(root.path / "2026-12");
  const fs::path pdf = root.path / "2026-12" / "收據-20261207-001.pdf";
  store::write_text(pdf, "%PDF-1.5 receipt");
  const fs::path log = root.path / "logs" / "error.log";

  const auto outcomes = print_receipts(root.path, {"20261207-001", "20261207-009"}, {}, log);

  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[0].job.id, 0);
  EXPECT_NE(outcomes[0].error.find("CUPS"), std::string::npos);
  EXPECT_NE(outcomes[1].error.find("沒有收據 20261207-009"), std::string::npos);
  const std::string logged = store::read_all(log);
  EXPECT_NE(logged.find("列印 20261207-001\n"), std::string::npos) << logged;
  EXPECT_NE(logged.find("列印 20261207-009\n"), std::string::npos) << logged;
  EXPECT_EQ(store::read_all(pdf), "%PDF-1.5 receipt");
}

}  // namespace
}  // namespace receiptora::print
