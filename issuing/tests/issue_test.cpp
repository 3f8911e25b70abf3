// The journal read back from the output folder: the book's records, the files and the ledger.
#include "receiptora/issuing/issue.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <atomic>
#include <set>
#include <sstream>
#include <thread>

#include "../../store/tests/temp_folder.hpp"
#include "../../core/tests/pdf_text.hpp"
#include "receiptora/issuing/batch.hpp"
#include "receiptora/render/render.hpp"
#include "receiptora/store/audit.hpp"
#include "receiptora/store/backup.hpp"
#include "receiptora/store/book_ledger.hpp"
#include "receiptora/store/ledger.hpp"
#include "receiptora/store/profile.hpp"

namespace receiptora::issuing {
namespace {

using store::read_all;
using store::TempFolder;
using store::write_text;

constexpr store::Day kDay{2026, 12, 7};

Receipt sample(const std::string& buyer = "王小明") {
  Receipt r;
  r.seller.name = "林記茶行";
  r.buyer = buyer;
  r.buyer_tax_id = "22099131";
  r.date = Date{2026, 12, 7};
  r.items = {{"茶葉", 3, 450, ""}, {"運費", 1, 80, "宅配"}};
  return r;
}

// A shop's output folder: a profile with the shop's name, which the batch reads.
struct ShopFolder : TempFolder {
  ShopFolder() { write_text(path / std::string(store::kProfileName), "\"商號名稱\" = \"林記茶行\"\n"); }
};

// The ledger's lines after the header, without their CRLF.
std::vector<std::string> ledger_lines(const fs::path& root) {
  const std::string text = read_all(root / std::string(store::kLedgerName));
  std::vector<std::string> lines;
  size_t start = store::ledger_header().size();
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

size_t lines_with(const fs::path& root, const std::string& text) {
  size_t n = 0;
  for (const auto& line : ledger_lines(root)) n += line.find(text) != std::string::npos;
  return n;
}

TEST(IssueReceipt, FilesRecordAndLedgerLineAgree) {
  TempFolder folder;
  const Issued issued = issue_receipt(sample(), folder.path, kDay);
  EXPECT_EQ(issued.number, "收據-20261207-001");
  EXPECT_TRUE(issued.ledger_problem.empty());
  const auto record = store::find_receipt(book_for(folder.path), issued.number);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->state, store::State::Issued);
  EXPECT_EQ(record->total, "1430");
  EXPECT_TRUE(record->ledger_written);
  EXPECT_FALSE(record->issued_at.empty());
  ASSERT_EQ(record->files.size(), 2u);
  for (const auto& file : record->files)
    EXPECT_EQ(store::sha256_of_file(folder.path / file.name), file.sha256);
  ASSERT_EQ(ledger_lines(folder.path).size(), 1u);
  EXPECT_NE(ledger_lines(folder.path)[0].find(",已開立"), std::string::npos);
  EXPECT_EQ(issue_receipt(sample(), folder.path, kDay).number, "收據-20261207-002");
}

TEST(IssueReceipt, AReceiptThatCannotBeRenderedKeepsItsNumberAsUnfinished) {
  TempFolder folder;
  Receipt bad = sample();
  bad.date = Date{1800, 1, 1};  // no day of the Republic-of-China calendar
  try {
    issue_receipt(bad, folder.path, kDay);
    FAIL() << "issued an unrenderable receipt";
  } catch (const IssueError& error) {
    EXPECT_EQ(error.number(), "收據-20261207-001");
    EXPECT_FALSE(error.saved());
    EXPECT_NE(std::string(error.what()).find("收據-20261207-001 未開立"), std::string::npos);
  }
  EXPECT_EQ(store::find_receipt(book_for(folder.path), "收據-20261207-001")->state, store::State::Unfinished);
  EXPECT_EQ(lines_with(folder.path, "未完成"), 1u);
  EXPECT_FALSE(fs::exists(folder.path / "2026-12" / "收據-20261207-001.pdf"));
  EXPECT_EQ(issue_receipt(sample(), folder.path, kDay).number, "收據-20261207-002");
}

// A seller without a 商號名稱 (none, blank, full-width blank) issues nothing: the window's
// worker and the batch are refused before a number is taken; the shop's first named receipt
// is then the day's first number.
TEST(IssueReceipt, NoReceiptWithoutTheShopsName) {
  for (const char* name : {"", " \t", "\u3000"}) {
    SCOPED_TRACE(name);
    TempFolder folder;
    Receipt r = sample();
    r.seller = {name, "22099131", "王小明", "臺北市", "02-2345-6789", "", ""};
    try {
      issue_receipt(r, folder.path, kDay);
      ADD_FAILURE() << "issued without a seller";
    } catch (const IssueError& error) {
      EXPECT_EQ(std::string(error.what()), kNoSeller);
      EXPECT_EQ(error.kind(), IssueError::Kind::NoSeller);
      EXPECT_TRUE(error.number().empty());
      EXPECT_FALSE(error.saved());
    }
    write_text(folder.path / std::string(store::kProfileName),
               "\"商號名稱\" = \"" + std::string(name) + "\"\n");
    std::vector<BatchJob> jobs{{sample(), folder.path, kDay, "a", false, false, ""}};
    const BatchReport report = issue_batch(jobs, 1, false, nullptr);
    ASSERT_TRUE(report.outcomes[0].failure);
    EXPECT_TRUE(report.outcomes[0].number.empty());
    EXPECT_EQ(issue_receipt(sample(), folder.path, kDay).number, "收據-20261207-001");
    close_books();
  }
}

// A profile without 統一編號, 負責人 or 地址 issues, and the batch says what the 專用章 lacks.
TEST(IssueBatch, SaysWhatTheStampLacksOncePerFolder) {
  TempFolder folder;
  write_text(folder.path / std::string(store::kProfileName),
             "\"商號名稱\" = \"林記茶行\"\n\"地址\" = \"臺北市\"\n");
  std::vector<BatchJob> jobs{{sample(), folder.path, kDay, "a", false, false, ""},
                             {sample(), folder.path, kDay, "b", false, false, ""}};
  const BatchReport report = issue_batch(jobs, 1, false, nullptr);
  for (const BatchOutcome& outcome : report.outcomes) EXPECT_FALSE(outcome.failure);
  size_t lacking = 0;
  for (const std::string& problem : report.problems)
    if (problem.find("專用章缺「統一編號」、「負責人」：") != std::string::npos) ++lacking;
  EXPECT_EQ(lacking, 1u);
  close_books();
}

TEST(IssueBatch, ALedgerLineNotWrittenIsTheRunsFailureNotANote) {
  ShopFolder folder;
  fs::create_directories(folder.path / std::string(store::kLedgerName));  // no file to append to
  std::vector<BatchJob> jobs{{sample(), folder.path, kDay, "a", false, false, ""}};
  const BatchReport report = issue_batch(jobs, 1, false, nullptr);
  EXPECT_FALSE(report.outcomes[0].failure) << "issued and in the book all the same";
  ASSERT_EQ(report.ledger_problems.size(), 1u);
  EXPECT_NE(report.ledger_problems[0].find(store::kLedgerName), std::string::npos)
      << report.ledger_problems[0];
  for (const std::string& note : report.problems)
    EXPECT_EQ(note.find("收據清冊："), std::string::npos) << note;
  close_books();
}

// --- recovery: what a kill between the journal's steps leaves, and what the next start makes of it ---

struct RecoveryRow {
  const char* name;
  std::function<void(const fs::path& root, store::Book& book)> leave;  // the state a kill left
  store::State after;
  size_t Recovery::*counted;
  std::function<void(const fs::path& root)> check;
};

// Steps 1 (and 2 or 3, when `files`) of the journal, as a process killed there leaves them.
void pending(const fs::path& root, store::Book& book, const std::string& files, Receipt r = sample()) {
  r.created_at = "2026-12-07T10:00:00+08:00";  // as claim() fixes it
  store::Record record = store::record_from_receipt(r, kDay);
  record.state = store::State::Pending;
  record.owner = "999999999";  // a process that is gone
  store::claim_receipt(book, record);
  fs::create_directories(root / "2026-12");
  // The files the killed process saved: the receipt's own bytes, or another receipt's (a
  // book older than the folder).
  const bool foreign = files.find("foreign") != std::string::npos;
  Receipt made = store::receipt_from_record(*store::find_receipt(book, record.number));
  if (foreign) made.buyer = "別的客人";
  const auto [pdf, png] = render::render_both(made);
  if (files.find("pdf") != std::string::npos) write_text(root / "2026-12" / (record.number + ".pdf"), pdf);
  if (files.find("png") != std::string::npos) write_text(root / "2026-12" / (record.number + ".png"), png);
  if (files.find("temp") != std::string::npos)
    write_text(root / "2026-12" / ("." + record.number + ".pdf.Ab12Cd"), "half");
}

class Recover : public ::testing::TestWithParam<RecoveryRow> {};

TEST_P(Recover, NextStartLeavesNoPendingRecordAndNoSavedReceiptWithoutALedgerLine) {
  TempFolder folder;
  {
    store::Book book(folder.path);
    store::set_book_setting(book, "imported", "before");
    GetParam().leave(folder.path, book);
  }
  store::Book book(folder.path);
  const Recovery report = recover(book);
  if (GetParam().counted) {
    EXPECT_EQ(report.*(GetParam().counted), 1u);
  }
  EXPECT_TRUE(store::records_in_state(book, store::State::Pending).empty());
  const auto record = store::find_receipt(book, "收據-20261207-001");
  ASSERT_TRUE(record);
  EXPECT_EQ(record->state, GetParam().after);
  EXPECT_EQ(lines_with(folder.path, "收據-20261207-001"), 1u);
  EXPECT_TRUE(store::records_without_ledger_line(book).empty());
  for (const auto& file : record->files)
    EXPECT_EQ(store::sha256_of_file(folder.path / file.name), file.sha256);
  if (GetParam().check) GetParam().check(folder.path);
  EXPECT_EQ(recover(book).ledger_lines, 0u) << "a second start adds nothing";
}

const fs::path kPdf = "2026-12/收據-20261207-001.pdf";
const fs::path kPng = "2026-12/收據-20261207-001.png";

INSTANTIATE_TEST_SUITE_P(
    Kills, Recover,
    ::testing::Values(
        RecoveryRow{"AfterClaim", [](const fs::path& root, store::Book& book) { pending(root, book, ""); },
                    store::State::Issued, &Recovery::rendered_again,
                    [](const fs::path& root) { EXPECT_EQ(read_all(root / kPdf).substr(0, 4), "%PDF"); }},
        RecoveryRow{"WithAHalfWrittenTemporaryFile",
                    [](const fs::path& root, store::Book& book) { pending(root, book, "temp"); },
                    store::State::Issued, &Recovery::rendered_again, nullptr},
        RecoveryRow{"AfterThePdfsRename",
                    [](const fs::path& root, store::Book& book) { pending(root, book, "pdf"); },
                    store::State::Issued, &Recovery::rendered_again,
                    [](const fs::path& root) { EXPECT_EQ(read_all(root / kPng).substr(1, 3), "PNG"); }},
        RecoveryRow{"AfterBothRenames",
                    [](const fs::path& root, store::Book& book) { pending(root, book, "pdf png"); },
                    store::State::Issued, &Recovery::completed, nullptr},
        RecoveryRow{"AnotherReceiptsFilesUnderItsNumber",
                    [](const fs::path& root, store::Book& book) { pending(root, book, "foreign pdf png"); },
                    store::State::Unfinished, &Recovery::unfinished,
                    [](const fs::path& root) {
                      const auto record =
                          store::find_receipt(*store::open_book_for_reading(root), "收據-20261207-001");
                      EXPECT_NE(record->unfinished_reason.find("不符"), std::string::npos);
                      EXPECT_TRUE(record->files.empty())
                          << "a file that is not the record's is never adopted";
                      EXPECT_TRUE(fs::exists(root / kPdf)) << "and left where it is";
                    }},
        RecoveryRow{"AfterMarkingIssued",
                    [](const fs::path& root, store::Book& book) {
                      pending(root, book, "pdf png");
                      store::mark_issued(book, "收據-20261207-001",
                                         {{kPdf.string(), store::sha256_of_file(root / kPdf), "original"},
                                          {kPng.string(), store::sha256_of_file(root / kPng), "original"}},
                                         store::now_iso());
                    },
                    store::State::Issued, &Recovery::ledger_lines, nullptr},
        RecoveryRow{"AfterTheLedgerLineBeforeTheBookNotedIt",
                    [](const fs::path& root, store::Book& book) {
                      pending(root, book, "pdf png");
                      store::mark_issued(book, "收據-20261207-001", {}, store::now_iso());
                      store::append_ledger(
                          root / std::string(store::kLedgerName),
                          store::ledger_line_of(*store::find_receipt(book, "收據-20261207-001")));
                    },
                    store::State::Issued, nullptr, nullptr},
        RecoveryRow{"ARequestThatNoLongerRenders",
                    [](const fs::path& root, store::Book& book) {
                      Receipt r = sample();
                      r.items[0].name = "";
                      pending(root, book, "", r);
                      // A stored request the renderer refuses (no such day) cannot be made again.
                      sqlite3_exec(book.db(), "UPDATE receipts SET day = '2026-02-30'", nullptr, nullptr,
                                   nullptr);
                    },
                    store::State::Unfinished, &Recovery::unfinished,
                    [](const fs::path& root) { EXPECT_EQ(lines_with(root, "未完成"), 1u); }}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(RecoverTest, APendingRecordOfALiveProcessIsLeftToIt) {
  TempFolder folder;
  store::Book book(folder.path);
  store::Record record = store::record_from_receipt(sample(), kDay);
  record.owner = std::to_string(::getpid());  // this very process, still at work
  store::claim_receipt(book, record);
  recover(book);
  EXPECT_EQ(store::find_receipt(book, record.number)->state, store::State::Pending);
}

// --- an output folder made before the book ---

TEST(Import, EveryNumberOfAnOlderFolderIsKeptAndNeverReused) {
  TempFolder folder;
  const fs::path month = folder.path / "2026-12";
  fs::create_directories(month / ".claimed");
  store::append_ledger(
      folder.path / std::string(store::kLedgerName),
      store::LedgerLine{"收據-20261207-001", "2026-12-07", "=甲", "22099131", 1, "50",
                        "2026-12/收據-20261207-001.pdf; 2026-12/收據-20261207-001.png", "一般格式", ""});
  for (const char* name : {"收據-20261207-001", "收據-20261207-002", "收據-20261207-003"})
    write_text(month / ".claimed" / name, "");
  write_text(month / "收據-20261207-001.pdf", "%PDF");
  write_text(month / "收據-20261207-002.pdf", "%PDF saved, no ledger line");
  write_text(month / "收據-20261207-002.png", "PNG");

  EXPECT_EQ(recovery_of(folder.path).imported, 3u);
  store::Book& book = book_for(folder.path);
  const auto first = store::find_receipt(book, "收據-20261207-001");
  EXPECT_EQ(first->state, store::State::Issued);
  EXPECT_EQ(first->buyer, "=甲");
  EXPECT_EQ(first->buyer_tax_id, "22099131");  // written as the text cell ="22099131"
  EXPECT_EQ(first->total, "50");
  EXPECT_EQ(store::find_receipt(book, "收據-20261207-002")->files.size(), 2u);
  EXPECT_EQ(store::find_receipt(book, "收據-20261207-003")->state, store::State::Unfinished);
  EXPECT_EQ(lines_with(folder.path, "收據-20261207-001"), 1u) << "an imported line is not written again";
  EXPECT_EQ(lines_with(folder.path, "收據-20261207-002"), 1u) << "a saved receipt gets its missing line";
  EXPECT_EQ(lines_with(folder.path, "收據-20261207-003"), 1u) << "a gap is shown in the ledger";
  EXPECT_EQ(issue_receipt(sample(), folder.path, kDay).number, "收據-20261207-004");
}

TEST(Import, AFileThatCannotBeReadKeepsItsNumberButNoHashAndIsNamed) {
  TempFolder folder;
  const fs::path month = folder.path / "2026-12";
  fs::create_directories(month / "收據-20261207-001.pdf");  // no file to read: a folder by that name
  write_text(month / "收據-20261207-001.png", "PNG");

  const Recovery report = recovery_of(folder.path);
  const auto record = store::find_receipt(book_for(folder.path), "收據-20261207-001");
  ASSERT_TRUE(record);
  ASSERT_EQ(record->files.size(), 1u) << "the unreadable file is left out of the record";
  EXPECT_EQ(record->files[0].name, "2026-12/收據-20261207-001.png");
  std::string notes;
  for (const std::string& problem : report.problems) notes += problem + "\n";
  EXPECT_NE(notes.find("2026-12/收據-20261207-001.pdf 無法讀取"), std::string::npos) << notes;
  EXPECT_EQ(issue_receipt(sample(), folder.path, kDay).number, "收據-20261207-002");
  close_books();
}

// --- void, reprint, ledger rebuilt ---

TEST(VoidAndReprint, CopiesBesideTheOriginalWhichIsKeptUntouched) {
  TempFolder folder;
  const std::string number = issue_receipt(sample(), folder.path, kDay).number;
  const std::string original = store::sha256_of_file(folder.path / kPdf);

  const auto reprints = reprint_receipt(folder.path, number);
  EXPECT_EQ(reprints, (std::vector<std::string>{"2026-12/收據-20261207-001-補印.pdf",
                                                "2026-12/收據-20261207-001-補印.png"}));
  EXPECT_EQ(reprint_receipt(folder.path, number)[0], "2026-12/收據-20261207-001-補印-2.pdf");
  // Each reprint says which it is.
  for (const auto& [file, count] :
       {std::pair{"收據-20261207-001-補印.pdf", "第 1 次"}, {"收據-20261207-001-補印-2.pdf", "第 2 次"}})
    EXPECT_NE(pdf_text(folder.path / "2026-12" / file).find(count), std::string::npos) << file;

  const auto copies = void_receipt(folder.path, number, "金額打錯");
  EXPECT_EQ(copies[0], "2026-12/收據-20261207-001-作廢.pdf");
  EXPECT_EQ(store::sha256_of_file(folder.path / "2026-12/.原本/收據-20261207-001.pdf"), original);
  const auto record = store::find_receipt(book_for(folder.path), number);
  EXPECT_EQ(record->state, store::State::Void);
  EXPECT_EQ(record->void_reason, "金額打錯");
  EXPECT_EQ(record->files.size(), 8u);
  EXPECT_EQ(lines_with(folder.path, ",作廢"), 1u);

  struct Refusal {
    const char* number;
    store::BookError::Kind kind;
  };
  for (const Refusal& refusal : {Refusal{"收據-20261207-001", store::BookError::Kind::AlreadyVoid},
                                 {"收據-20261207-777", store::BookError::Kind::Unknown}}) {
    try {
      void_receipt(folder.path, refusal.number, "x");
      ADD_FAILURE() << "voided " << refusal.number;
    } catch (const store::BookError& error) {
      EXPECT_EQ(error.kind(), refusal.kind);
      EXPECT_NE(std::string(error.what()).find(refusal.number), std::string::npos);
    }
  }
}

// After a void the month folder holds no clean copy: the original is kept, untouched, in the
// month's .原本 folder, where check and backup find it. A stop between the void and the move
// leaves the original in view, which check names and the next start moves.
TEST(VoidAndReprint, TheCleanOriginalLeavesTheMonthsView) {
  const fs::path month = "2026-12", kept = month / ".原本";
  for (const bool stopped_before_the_move : {false, true}) {
    SCOPED_TRACE(stopped_before_the_move ? "stopped before the move" : "voided");
    TempFolder folder, dest;
    const std::string number = issue_receipt(sample(), folder.path, kDay).number;
    const std::string original = store::sha256_of_file(folder.path / kPdf);
    void_receipt(folder.path, number, "退貨");
    if (stopped_before_the_move) {
      for (const char* file : {"收據-20261207-001.pdf", "收據-20261207-001.png"})
        fs::rename(folder.path / kept / file, folder.path / month / file);
      close_books();
      const auto before = store::audit_folder(store::Book(folder.path, store::Book::Access::Read), 1);
      ASSERT_EQ(before.faults.size(), 2u);
      EXPECT_NE(before.faults[0].problem.find("原本仍在月份資料夾"), std::string::npos)
          << before.faults[0].problem;
    }
    store::Book& book = book_for(folder.path);  // the next start's recovery, or the same process
    for (const char* file : {"收據-20261207-001.pdf", "收據-20261207-001.png"}) {
      EXPECT_FALSE(fs::exists(folder.path / month / file)) << file;
      EXPECT_TRUE(fs::is_regular_file(folder.path / kept / file)) << file;
    }
    EXPECT_EQ(store::sha256_of_file(folder.path / kept / "收據-20261207-001.pdf"), original);
    const auto audit = store::audit_folder(book, 1);
    for (const auto& fault : audit.faults) ADD_FAILURE() << fault.file << " " << fault.problem;
    const fs::path copy = store::back_up(book, dest.path).folder;
    EXPECT_EQ(store::sha256_of_file(copy / kept / "收據-20261207-001.pdf"), original);
    close_books();
  }
}

// A receipt of several pages: one picture per page, each in the book, for the copies too.
TEST(IssueReceipt, EveryPageHasItsPicture) {
  TempFolder folder;
  Receipt r = sample();
  r.items.assign(30, Item{"茶葉", 1, 1, ""});
  const std::string number = issue_receipt(r, folder.path, kDay).number;
  const auto record = store::find_receipt(book_for(folder.path), number);
  ASSERT_TRUE(record);
  std::vector<std::string> names;
  for (const auto& file : record->files) {
    names.push_back(file.name);
    EXPECT_EQ(store::sha256_of_file(folder.path / file.name), file.sha256) << file.name;
  }
  const std::string base = "2026-12/收據-20261207-001";
  EXPECT_EQ(names, (std::vector<std::string>{base + ".pdf", base + ".png", base + "-第2頁.png",
                                             base + "-第3頁.png"}));
  EXPECT_EQ(void_receipt(folder.path, number, "重開"),
            (std::vector<std::string>{base + "-作廢.pdf", base + "-作廢.png", base + "-作廢-第2頁.png",
                                      base + "-作廢-第3頁.png"}));
}

TEST(VoidAndReprint, AVoidReceiptIsNeverReprintedClean) {
  TempFolder folder;
  const std::string number = issue_receipt(sample(), folder.path, kDay).number;
  void_receipt(folder.path, number, "退貨");
  try {
    reprint_receipt(folder.path, number);
    FAIL() << "reprinted a void receipt";
  } catch (const store::BookError& error) {
    EXPECT_EQ(error.kind(), store::BookError::Kind::AlreadyVoid);
    EXPECT_NE(std::string(error.what()).find("已作廢"), std::string::npos);
    EXPECT_NE(std::string(error.what()).find("-作廢.pdf"), std::string::npos) << "names the copy to print";
  }
  EXPECT_FALSE(fs::exists(folder.path / "2026-12/收據-20261207-001-補印.pdf"));
}

TEST(VoidAndReprint, VoidsAtOnceLeaveOneCopyAndOneLine) {
  TempFolder folder;
  const std::string number = issue_receipt(sample(), folder.path, kDay).number;
  std::atomic<int> voided{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      try {
        void_receipt(folder.path, number, "重複");
        ++voided;
      } catch (const store::BookError&) {
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(voided, 1);
  size_t copies = 0;
  for (const auto& entry : fs::directory_iterator(folder.path / "2026-12"))
    copies += entry.path().filename().string().find("作廢") != std::string::npos;
  EXPECT_EQ(copies, 2u) << "one void copy: its PDF and PNG";
  EXPECT_EQ(lines_with(folder.path, ",作廢"), 1u);
  const auto outcomes = void_receipts(folder.path, {number, "收據-20261207-404"}, "再一次");
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_NE(outcomes[0].error.find("已經作廢"), std::string::npos);
  EXPECT_NE(outcomes[1].error.find("收據-20261207-404"), std::string::npos);
}

TEST(MonthFolder, ASymbolicLinkIsRefusedForReceiptsAndCopies) {
  TempFolder folder;
  const std::string number = issue_receipt(sample(), folder.path, kDay).number;
  fs::create_directory(folder.path / "elsewhere");
  fs::rename(folder.path / "2026-12", folder.path / "elsewhere" / "2026-12");
  fs::create_directory_symlink(folder.path / "elsewhere" / "2026-12", folder.path / "2026-12");
  EXPECT_THROW(issue_receipt(sample(), folder.path, kDay), IssueError);
  EXPECT_THROW(reprint_receipt(folder.path, number), std::system_error);
  EXPECT_THROW(void_receipt(folder.path, number, "x"), std::system_error);
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder.path / "elsewhere" / "2026-12"))
    ++files;
  EXPECT_EQ(files, 2u) << "nothing written through the link (only the original's two files are there)";
  EXPECT_EQ(store::find_receipt(book_for(folder.path), number)->state, store::State::Issued);
}

// --- a book older than its folder, a damaged book ---

TEST(StaleBook, ACopyOlderThanTheFolderImportsTheFilesItMissesAndNeverReusesTheirNumbers) {
  TempFolder folder;
  const fs::path book_file = folder.path / std::string(store::kBookName);
  for (int i = 0; i < 2; ++i) issue_receipt(sample("甲"), folder.path, kDay);
  close_books();
  fs::copy_file(book_file, folder.path / "old.sqlite3");
  for (int i = 0; i < 2; ++i) issue_receipt(sample("乙"), folder.path, kDay);
  close_books();
  EXPECT_FALSE(fs::exists(book_file.string() + "-wal")) << "closed: the book file is complete alone";
  fs::copy_file(folder.path / "old.sqlite3", book_file, fs::copy_options::overwrite_existing);

  EXPECT_EQ(recovery_of(folder.path).imported, 2u);
  const auto third = store::find_receipt(book_for(folder.path), "收據-20261207-003");
  EXPECT_EQ(third->state, store::State::Issued);
  EXPECT_EQ(third->files[0].sha256, store::sha256_of_file(folder.path / third->files[0].name));
  EXPECT_EQ(issue_receipt(sample("丙"), folder.path, kDay).number, "收據-20261207-005");
  EXPECT_EQ(lines_with(folder.path, "收據-20261207-003"), 1u);
  close_books();
}

TEST(DamagedBook, IsKeptAsideAndRebuiltFromTheLedgerAndTheFiles) {
  TempFolder folder;
  for (int i = 0; i < 2; ++i) issue_receipt(sample("甲"), folder.path, kDay);
  close_books();
  write_text(folder.path / std::string(store::kBookName), std::string(8192, 'x'));

  const Recovery report = recovery_of(folder.path);
  ASSERT_FALSE(report.problems.empty());
  EXPECT_NE(report.problems[0].find("已損壞"), std::string::npos) << report.problems[0];
  size_t kept = 0;
  for (const auto& entry : fs::directory_iterator(folder.path))
    kept += entry.path().filename().string().rfind("收據簿-損壞-", 0) == 0;
  EXPECT_EQ(kept, 1u);
  EXPECT_EQ(store::find_receipt(book_for(folder.path), "收據-20261207-002")->buyer, "甲");
  EXPECT_EQ(issue_receipt(sample(), folder.path, kDay).number, "收據-20261207-003");
  EXPECT_EQ(ledger_lines(folder.path).size(), 3u) << "the ledger's lines are not written twice";
  close_books();
}

TEST(DamagedBook, ItsRebuildAdoptsTheVoidAndReprintCopies) {
  TempFolder folder;
  for (int i = 0; i < 2; ++i) issue_receipt(sample("甲"), folder.path, kDay);
  void_receipt(folder.path, "收據-20261207-001", "打錯");
  reprint_receipt(folder.path, "收據-20261207-002");
  close_books();
  write_text(folder.path / std::string(store::kBookName), std::string(8192, 'x'));

  const auto audit = store::audit_folder(book_for(folder.path), 1);
  EXPECT_TRUE(audit.sound()) << audit.faults.front().file << " " << audit.faults.front().problem;
  close_books();
}

// A backup copied back over a folder that moved on (later receipts, voids, a reprint): no
// number is issued again, no void undone, every later receipt kept and named when the
// backup's book and ledger no longer know what it held.
TEST(Restore, CopiedBackOverAFolderThatMovedOnKeepsEveryNumberAndEveryVoid) {
  TempFolder folder, dest;
  for (int i = 0; i < 2; ++i) issue_receipt(sample("甲"), folder.path, kDay);
  const fs::path backup = store::back_up(book_for(folder.path), dest.path).folder;
  for (int i = 0; i < 6; ++i) issue_receipt(sample("乙"), folder.path, kDay);
  for (const char* number : {"收據-20261207-001", "收據-20261207-004"})
    void_receipt(folder.path, number, "退貨");
  reprint_receipt(folder.path, "收據-20261207-005");
  close_books();
  fs::copy(backup, folder.path, fs::copy_options::recursive | fs::copy_options::overwrite_existing);

  const Recovery report = recovery_of(folder.path);
  store::Book& book = book_for(folder.path);
  EXPECT_EQ(report.imported, 6u);
  for (const char* number : {"收據-20261207-001", "收據-20261207-004"})
    EXPECT_EQ(store::find_receipt(book, number)->state, store::State::Void) << number;
  EXPECT_EQ(store::find_receipt(book, "收據-20261207-005")->files.size(), 4u) << "the reprint is kept";
  EXPECT_EQ(issue_receipt(sample("丙"), folder.path, kDay).number, "收據-20261207-009");
  std::string notes;
  for (const auto& problem : report.problems) notes += problem;
  EXPECT_NE(notes.find("6 張收據只找到收據檔"), std::string::npos) << notes;
  size_t unknown = 0;
  for (const auto& fault : store::audit_folder(book, 1).faults)
    unknown += fault.problem.find("內容不明") != std::string::npos;
  EXPECT_EQ(unknown, 6u) << "the audit names each receipt whose content the folder lost";
  close_books();
}

// Backups taken while a batch issues: each is the folder of one moment, and audits sound.
TEST(Restore, BackupsTakenWhileABatchIssuesAuditSound) {
  ShopFolder folder;
  TempFolder dest;
  issue_receipt(sample(), folder.path, kDay);
  std::vector<BatchJob> jobs(24);
  for (BatchJob& job : jobs) {
    job.receipt = sample("乙");
    job.root = folder.path;
    job.day = kDay;
  }
  std::atomic<bool> done{false};
  std::thread batch([&] {
    issue_batch(jobs, 1, false, [](size_t) { return true; });
    done = true;
  });
  std::vector<fs::path> copies;
  do copies.push_back(store::back_up(book_for(folder.path), dest.path).folder);
  while (!done && copies.size() < 4);
  batch.join();
  for (const fs::path& copy : copies) {
    const auto audit = store::audit_folder(store::Book(copy, store::Book::Access::Read), 1);
    for (const auto& fault : audit.faults)
      ADD_FAILURE() << copy << ": " << fault.number << " " << fault.problem;
  }
  close_books();
}

TEST(StaleBook, TheLedgersNewestNumbersAreNotIssuedAgainEvenWithoutTheirFiles) {
  TempFolder folder;
  issue_receipt(sample("甲"), folder.path, kDay);
  close_books();
  const fs::path book_file = folder.path / std::string(store::kBookName);
  fs::copy_file(book_file, folder.path / "old.sqlite3");
  issue_receipt(sample("乙"), folder.path, kDay);
  close_books();
  fs::copy_file(folder.path / "old.sqlite3", book_file, fs::copy_options::overwrite_existing);
  for (const char* ext : {".pdf", ".png"})
    fs::remove(folder.path / "2026-12" / (std::string("收據-20261207-002") + ext));

  EXPECT_EQ(store::find_receipt(book_for(folder.path), "收據-20261207-002")->buyer, "乙");
  EXPECT_EQ(issue_receipt(sample("丙"), folder.path, kDay).number, "收據-20261207-003");
  close_books();
}

// --- the ledger under writers at once ---

TEST(LedgerWriters, IssuingRecoveryAndRebuildsAtOnceLeaveEachLineOnce) {
  TempFolder folder;
  { store::Book make(folder.path); }
  std::atomic<bool> done{false};
  auto issuer = [&] {
    store::Book book(folder.path);  // a process of its own
    for (int i = 0; i < 15; ++i) {
      Receipt receipt = sample();
      claim(book, receipt, kDay, {}, {});
      std::vector<Staged> staged{stage(book, receipt, true)};
      std::string problem;
      commit(book, staged, problem);
    }
  };
  auto other = [&](bool rebuild) {
    store::Book book(folder.path);
    while (!done) {
      rebuild ? (void)store::rebuild_ledger_file(book) : (void)store::write_missing_ledger_lines(book);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));  // as commands come, not a tight loop
    }
  };
  std::thread a(issuer), b(issuer), c(other, true), d(other, false);
  a.join();
  b.join();
  done = true;
  c.join();
  d.join();
  const auto lines = ledger_lines(folder.path);
  std::set<std::string> numbers;
  for (const auto& line : lines) numbers.insert(line.substr(0, line.find(',')));
  EXPECT_EQ(lines.size(), 30u);
  EXPECT_EQ(numbers.size(), 30u);
}

TEST(RebuildLedger, OneLineForEachRecordAndBothLinesOfAVoidOne) {
  TempFolder folder;
  issue_receipt(sample("甲"), folder.path, kDay);
  issue_receipt(sample("乙"), folder.path, kDay);
  void_receipt(folder.path, "收據-20261207-002", "錯");
  const auto before = ledger_lines(folder.path);
  write_text(folder.path / std::string(store::kLedgerName), "garbage");
  EXPECT_EQ(rebuild_ledger(folder.path).lines, 3u);
  EXPECT_EQ(ledger_lines(folder.path), before);
}

// What a spreadsheet computes over the ledger: `formulas` (each over whole columns of the
// ledger, e.g. SUM(F:F)), put in rows of their own beyond its columns on a copy of it,
// recalculated and written out by Gnumeric's ssconvert.
std::vector<std::string> spreadsheet_values(const fs::path& root, const std::vector<std::string>& formulas) {
  const fs::path copy = root / "copy.csv", shown = root / "shown.csv";
  std::string text = read_all(root / std::string(store::kLedgerName));
  for (const std::string& formula : formulas) {
    std::string quoted;  // a CSV field: quotes doubled
    for (char c : formula) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    text += "總計,,,,,,,,,,,\"" + quoted + "\"\r\n";
  }
  write_text(copy, text);
  const std::string command =
      "ssconvert --recalc '" + copy.string() + "' '" + shown.string() + "' > /dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return {"ssconvert (Debian package gnumeric) failed"};
  std::vector<std::string> values;
  std::istringstream lines(read_all(shown));
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with("總計,")) values.push_back(line.substr(line.rfind(',') + 1));
  return values;
}

TEST(Ledger, ASpreadsheetsSumIsTheIssuedTotalAndEachStateFiltersRight) {
  TempFolder folder;
  issue_receipt(sample("甲"), folder.path, kDay);  // 1,430
  Receipt small = sample("乙");
  small.items = {{"茶包", 2, 125, ""}};  // 250
  issue_receipt(small, folder.path, kDay);
  issue_receipt(sample("丙"), folder.path, kDay);  // 1,430, voided
  void_receipt(folder.path, "收據-20261207-003", "=開錯");
  const store::Summary summary = store::summarize(book_for(folder.path), "2026-12-01", "2026-12-31");
  ASSERT_EQ(summary.total, "1680");
  const std::vector<std::string> want{summary.total, "3110", "-1430"};
  const std::vector<std::string> formulas{"=SUM(F:F)", "=SUMIF(I:I,\"已開立\",F:F)",
                                          "=SUMIF(I:I,\"作廢\",F:F)"};
  EXPECT_EQ(spreadsheet_values(folder.path, formulas), want);
  // the same after the ledger is written again from the book
  rebuild_ledger(folder.path);
  EXPECT_EQ(spreadsheet_values(folder.path, formulas), want);
  const auto lines = ledger_lines(folder.path);
  EXPECT_EQ(lines.back().substr(lines.back().rfind(',') + 1), "'=開錯");  // the reason, disarmed
}

TEST(RebuildLedger, AnOlderLedgerIsRewrittenOnceAndCheckAsksForIt) {
  TempFolder folder;
  issue_receipt(sample("甲"), folder.path, kDay);
  void_receipt(folder.path, "收據-20261207-001", "錯");
  const fs::path ledger = folder.path / std::string(store::kLedgerName);
  // as the older ledger was: no 作廢原因 column, the 作廢 line's amount positive
  std::string older = store::ledger_header();
  older.replace(older.find(",作廢原因"), std::string(",作廢原因").size(), "");
  for (std::string line : ledger_lines(folder.path)) {
    line.erase(line.rfind(','));
    if (line.ends_with("作廢")) line.replace(line.find(",-1430,"), 7, ",1430,");
    older += line + "\r\n";
  }
  write_text(ledger, older);
  const auto faults = store::audit_folder(book_for(folder.path)).faults;
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_NE(faults[0].problem.find("ledger --rebuild"), std::string::npos) << faults[0].problem;
  EXPECT_TRUE(rebuild_ledger(folder.path).was_older);
  EXPECT_FALSE(rebuild_ledger(folder.path).was_older);
  EXPECT_TRUE(store::audit_folder(book_for(folder.path)).faults.empty());
  EXPECT_EQ(spreadsheet_values(folder.path, {"=SUM(F:F)"}), std::vector<std::string>{"0"});
}

// --- the batch ---

TEST(IssueBatch, ARerunIssuesOnlyWhatIsMissingAndAgainIssuesAll) {
  ShopFolder folder;
  auto jobs_of = [&](std::vector<std::string> keys) {
    std::vector<BatchJob> jobs;
    for (const auto& key : keys)
      jobs.push_back({sample(key), folder.path, kDay, key, false, false, "訂單 " + key});
    return jobs;
  };
  auto first = jobs_of({"a", "b", "c", "d", "e"});
  size_t polled = 0;
  const BatchReport done = issue_batch(first, 2, false, [&](size_t n) {
    polled += n;
    return true;
  });
  for (size_t i = 0; i < done.outcomes.size(); ++i) {  // numbered in the sheet's order, on two threads
    EXPECT_FALSE(done.outcomes[i].failure);
    EXPECT_EQ(done.outcomes[i].number, "收據-20261207-00" + std::to_string(i + 1));
  }
  EXPECT_EQ(polled, 5u);
  EXPECT_EQ(ledger_lines(folder.path).size(), 5u);

  auto rerun = jobs_of({"a", "b", "c", "d", "e", "f"});
  const BatchReport second = issue_batch(rerun, 2, false, nullptr);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_TRUE(second.outcomes[i].skipped);
    EXPECT_EQ(second.outcomes[i].number, done.outcomes[i].number) << "the earlier receipt named";
  }
  EXPECT_FALSE(second.outcomes[5].skipped);
  EXPECT_EQ(second.outcomes[5].number, "收據-20261207-006");
  EXPECT_EQ(store::find_receipt(book_for(folder.path), "收據-20261207-006")->order_label, "訂單 f");

  auto again = jobs_of({"a"});
  EXPECT_EQ(issue_batch(again, 1, true, nullptr).outcomes[0].number, "收據-20261207-007");
}

TEST(IssueBatch, AChangedOrderIsHeldUntilAskedAnewAndAVoidOneIsSaidSo) {
  ShopFolder folder;
  auto job = [&](const std::string& key, const std::string& order, const std::string& buyer) {
    return BatchJob{sample(buyer), folder.path, kDay, key, false, false, order};
  };
  std::vector<BatchJob> first{job("a05", "A05", "甲"), job("a06", "A06", "乙")};
  issue_batch(first, 2, false, nullptr);  // 001 and 002

  std::vector<BatchJob> changed{job("a05-edited", "A05", "甲商行"), job("a07", "A07", "丙")};
  const BatchReport held = issue_batch(changed, 2, false, nullptr);
  EXPECT_TRUE(held.outcomes[0].held);
  EXPECT_FALSE(held.outcomes[0].started);
  EXPECT_EQ(held.outcomes[0].number, "收據-20261207-001") << "the receipt it was issued as";
  EXPECT_EQ(held.outcomes[1].number, "收據-20261207-003");
  EXPECT_EQ(ledger_lines(folder.path).size(), 3u);

  changed = {job("a05-edited", "A05", "甲商行")};
  changed[0].again = true;
  EXPECT_EQ(issue_batch(changed, 1, false, nullptr).outcomes[0].number, "收據-20261207-004");
  changed = {job("a05-edited", "A05", "甲商行")};
  EXPECT_TRUE(issue_batch(changed, 1, false, nullptr).outcomes[0].skipped) << "issued anew with its key";

  void_receipt(folder.path, "收據-20261207-002", "寫錯");
  std::vector<BatchJob> rerun{job("a06", "A06", "乙")};
  const BatchOutcome voided = issue_batch(rerun, 1, false, nullptr).outcomes[0];
  EXPECT_TRUE(voided.skipped && voided.void_before);
  EXPECT_EQ(voided.number, "收據-20261207-002");
  rerun = {job("a06-edited", "A06", "乙商行")};
  EXPECT_EQ(issue_batch(rerun, 1, false, nullptr).outcomes[0].number, "收據-20261207-005")
      << "an order whose receipt is void is issued with its new content";
}

TEST(IssueBatch, StoppingLeavesNothingPendingAndNoReceiptStartedUnsaved) {
  ShopFolder folder;
  std::vector<BatchJob> jobs;
  for (int i = 0; i < 20; ++i)
    jobs.push_back({sample(), folder.path, kDay, std::to_string(i), false, false, ""});
  const BatchReport report = issue_batch(jobs, 2, false, [](size_t) { return false; });
  size_t started = 0;
  for (const auto& outcome : report.outcomes) {
    if (!outcome.started) continue;
    ++started;
    EXPECT_FALSE(outcome.failure);
  }
  EXPECT_LT(started, 20u);
  EXPECT_TRUE(store::records_in_state(book_for(folder.path), store::State::Pending).empty());
  EXPECT_EQ(ledger_lines(folder.path).size(), started);
}

}  // namespace
}  // namespace receiptora::issuing
