// The 給會計 folder of a month: what it holds, and the check's verdict on the report's first page.
#include "receiptora/reports/accountant.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>

#include "../../core/tests/case_label.hpp"
#include "../../core/tests/pdf_text.hpp"
#include "../../store/tests/shop_folder.hpp"
#include "receiptora/store/book_ledger.hpp"

namespace receiptora::reports {
namespace {

namespace fs = std::filesystem;
using store::write_text;

struct FolderCase {
  std::string label;
  std::function<void(const fs::path&)> damage;
  bool sound;
  std::string verdict;  // a part of the verdict
  size_t pdfs;
};

class ForTheAccountant : public testing::TestWithParam<FolderCase> {};

TEST_P(ForTheAccountant, HoldsTheMonthAndSaysWhatTheCheckFound) {
  store::TempFolder dir;
  const fs::path root = dir.path / "shop";
  store::fill_shop(root, 2);  // 收據-2026120{7,8}-00{1,2}, totals 1 and 2
  {
    store::Book book(root);  // 收據-20261208-002 voided, with its 作廢 copy
    const std::string copy = "2026-12/收據-20261208-002-作廢.pdf";
    write_text(root / copy, "void copy");
    store::mark_void(book, "收據-20261208-002", "金額打錯", "2026-12-09T09:00:00+08:00",
                     {{copy, store::sha256_hex("void copy"), "void"}}, [] {});
    store::write_ledger_lines(book, {"收據-20261208-002"});
    store::keep_originals_out_of_view(root,
                                      *store::find_receipt(book, "收據-20261208-002"));  // as a void does
  }
  GetParam().damage(root);
  const auto book = store::open_book_for_reading(root);
  const AccountantFolder made = write_accountant_folder(*book, {2026, 12}, dir.path / "dest");
  EXPECT_EQ(made.folder, dir.path / "dest" / "給會計-115年12月");
  EXPECT_EQ(made.sound, GetParam().sound);
  EXPECT_NE(made.verdict.find(GetParam().verdict), std::string::npos) << made.verdict;
  std::set<std::string> pdfs;
  for (const auto& entry : fs::directory_iterator(made.folder / "收據")) pdfs.insert(entry.path().filename());
  EXPECT_EQ(pdfs.size(), GetParam().pdfs);
  EXPECT_TRUE(pdfs.count("收據-20261208-002-作廢.pdf"));  // the void copy, never the clean original
  EXPECT_FALSE(pdfs.count("收據-20261208-002.pdf"));
  for (const char* name : {"收據簿-115年12月.xlsx", "說明.txt"})
    EXPECT_TRUE(fs::is_regular_file(made.folder / name));
  const std::string report = pdf_text(made.folder / "月報表-115年12月.pdf");
  for (const std::string& part :
       {GetParam().verdict, std::string("115年12月 收據清單"),
        std::string("作廢於 115/12/09，原因：金額打錯"), std::string("本月已開立合計 3 張，4 元")})
    EXPECT_NE(report.find(part), std::string::npos) << part << "\n" << report;
  EXPECT_LT(report.find(GetParam().verdict), report.find("\f")) << "the verdict is on the first page";
  // a second folder of the same month never replaces the first
  EXPECT_EQ(write_accountant_folder(*book, {2026, 12}, dir.path / "dest").folder,
            dir.path / "dest" / "給會計-115年12月-2");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ForTheAccountant,
    testing::Values(FolderCase{"sound", [](const fs::path&) {}, true, "檢查結果：無誤", 4},
                    FolderCase{
                        "a_pdf_missing",
                        [](const fs::path& root) { fs::remove(root / "2026-12/收據-20261207-001.pdf"); },
                        false, "收據-20261207-001 2026-12/收據-20261207-001.pdf：檔案不見了", 3}),
    CaseLabel{});

}  // namespace
}  // namespace receiptora::reports
