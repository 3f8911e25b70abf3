#include "receiptora/store/audit.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/stat.h>

#include <functional>
#include <map>

#include "case_name.hpp"
#include "shop_folder.hpp"

namespace receiptora::store {
namespace {

namespace fs = std::filesystem;

void sql(const fs::path& root, const std::string& statement) {
  sqlite3* db = nullptr;
  sqlite3_open((root / std::string(kBookName)).c_str(), &db);
  ASSERT_EQ(sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

void write_ledger(const fs::path& root, const std::vector<std::string>& lines) {
  std::string text = ledger_header();
  for (const std::string& line : lines) text += line;
  write_text(root / std::string(kLedgerName), text);
}

std::vector<std::string> ledger_lines(const std::vector<Record>& records) {
  std::vector<std::string> lines;
  for (const Record& record : records) lines.push_back(ledger_line(ledger_line_of(record)));
  return lines;
}

// A sound folder (three receipts on each of two days), damaged one way: the audit names the
// receipt, the file and the problem; the sound folder has no fault.
struct AuditCase {
  const char* name;
  std::function<void(const fs::path& root, std::vector<Record>& records)> damage;
  const char* number;  // the fault expected; empty: none at all
  const char* file;
  const char* problem;
};

class Audit : public testing::TestWithParam<AuditCase> {};

TEST_P(Audit, NamesTheReceiptAndFileAtFault) {
  TempFolder shop;
  auto records = fill_shop(shop.path, 3);
  GetParam().damage(shop.path, records);
  const AuditReport report = audit_folder(Book(shop.path), 2);
  std::string faults;
  for (const Fault& f : report.faults) faults += f.number + " | " + f.file + " | " + f.problem + "\n";
  if (!*GetParam().number) {
    EXPECT_TRUE(report.sound()) << faults;
    EXPECT_EQ(report.receipts, 6u);
    EXPECT_EQ(report.files, 12u);
    EXPECT_EQ(report.ledger_lines, 6u);
    return;
  }
  const bool named = std::any_of(report.faults.begin(), report.faults.end(), [&](const Fault& f) {
    return f.number == GetParam().number && f.file == GetParam().file &&
           f.problem.find(GetParam().problem) != std::string::npos;
  });
  EXPECT_TRUE(named) << faults;
}

const char kPdf[] = "2026-12/收據-20261207-002.pdf";

INSTANTIATE_TEST_SUITE_P(
    Cases, Audit,
    testing::Values(
        AuditCase{"Sound", [](const fs::path&, std::vector<Record>&) {}, "", "", ""},
        AuditCase{"LedgerBeforeTheBook",  // lines without the 狀態 column count as 已開立
                  [](const fs::path& root, std::vector<Record>& records) {
                    std::vector<std::string> lines;
                    for (Record& r : records) {
                      LedgerLine line = ledger_line_of(r);
                      line.state.clear();
                      lines.push_back(ledger_line(line));
                    }
                    write_ledger(root, lines);
                  },
                  "", "", ""},
        AuditCase{"FileMissing", [](const fs::path& root, std::vector<Record>&) { fs::remove(root / kPdf); },
                  "收據-20261207-002", kPdf, "檔案不見了"},
        AuditCase{
            "FileChanged",
            [](const fs::path& root, std::vector<Record>&) { write_text(root / kPdf, "another receipt"); },
            "收據-20261207-002", kPdf, "SHA-256 不同"},
        AuditCase{"FileIsALink",
                  [](const fs::path& root, std::vector<Record>&) {
                    fs::rename(root / kPdf, root / "elsewhere.pdf");
                    fs::create_symlink(root / "elsewhere.pdf", root / kPdf);
                  },
                  "收據-20261207-002", kPdf, "不是一般檔案"},
        AuditCase{"FileWithoutRecord",
                  [](const fs::path& root, std::vector<Record>&) {
                    write_text(root / "2026-12/收據-20261207-009-補印.pdf", "x");
                  },
                  "收據-20261207-009", "2026-12/收據-20261207-009-補印.pdf", "收據簿裡沒有這個檔案"},
        AuditCase{"NumberMissing",
                  [](const fs::path& root, std::vector<Record>&) {
                    sql(root, "DELETE FROM receipts WHERE number = '收據-20261208-002'");
                  },
                  "收據-20261208-002", "", "號碼有缺漏"},
        AuditCase{"Pending",
                  [](const fs::path& root, std::vector<Record>&) {
                    sql(root, "UPDATE receipts SET state = 'pending' WHERE number = '收據-20261208-003'");
                  },
                  "收據-20261208-003", "", "待完成"},
        AuditCase{"LedgerLineMissing",
                  [](const fs::path& root, std::vector<Record>& records) {
                    auto lines = ledger_lines(records);
                    lines.erase(lines.begin() + 1);
                    write_ledger(root, lines);
                  },
                  "收據-20261207-002", "收據清冊.csv", "「已開立」行不見了"},
        AuditCase{"LedgerLineTwice",
                  [](const fs::path& root, std::vector<Record>& records) {
                    auto lines = ledger_lines(records);
                    lines.push_back(lines[0]);
                    write_ledger(root, lines);
                  },
                  "收據-20261207-001", "收據清冊.csv", "重複了 2 次"},
        AuditCase{"LedgerTotalDiffers",
                  [](const fs::path& root, std::vector<Record>& records) {
                    records[2].total = "999";
                    write_ledger(root, ledger_lines(records));
                  },
                  "收據-20261207-003", "收據清冊.csv", "總額"},
        AuditCase{"LedgerBuyerDiffers",  // every column counts, not only date and total
                  [](const fs::path& root, std::vector<Record>& records) {
                    records[4].buyer = "別的客人";
                    write_ledger(root, ledger_lines(records));
                  },
                  "收據-20261208-002", "收據清冊.csv", "買受人「別的客人」"},
        AuditCase{"LedgerItemCountDiffers",
                  [](const fs::path& root, std::vector<Record>& records) {
                    records[0].items.push_back({"糖", "1", "1", ""});
                    write_ledger(root, ledger_lines(records));
                  },
                  "收據-20261207-001", "收據清冊.csv", "品項數「2」"},
        AuditCase{"LedgerVoidWithoutTheBook",
                  [](const fs::path& root, std::vector<Record>& records) {
                    auto lines = ledger_lines(records);
                    records[0].state = State::Void;
                    lines.push_back(ledger_line(ledger_line_of(records[0])));
                    write_ledger(root, lines);
                  },
                  "收據-20261207-001", "收據清冊.csv", "有「作廢」行，與收據簿不符"}),
    CaseName());

// The folder's files and their bytes, but the -shm: SQLite's shared index of the -wal, which
// every reader may rebuild.
std::map<std::string, std::string> folder_bytes(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file() && !entry.path().string().ends_with("-shm"))
      out[fs::relative(entry.path(), root).string()] = read_all(entry.path());
  return out;
}

// A check after a writer was killed (its records only in the -wal), and one of a book at rest:
// reading leaves every byte as it was, folds no -wal and makes none.
TEST(AuditReadsOnly, ChangesNoByteOfTheFolder) {
  for (bool killed_writer : {true, false}) {
    TempFolder shop;
    auto records = fill_shop(shop.path, 2);
    if (killed_writer) {
      sqlite3* db = nullptr;
      sqlite3_open((shop.path / std::string(kBookName)).c_str(), &db);
      sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
      ASSERT_EQ(sqlite3_exec(db, "UPDATE receipts SET buyer = buyer", nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_close(db);  // as a kill leaves it: the -wal not folded into the book
      ASSERT_TRUE(fs::exists(shop.path / "收據簿.sqlite3-wal"));
    }
    const auto before = folder_bytes(shop.path);
    AuditReport report;
    ASSERT_TRUE(read_book_once(shop.path, [&](const Book& book) { report = audit_folder(book, 1); }));
    EXPECT_TRUE(report.sound()) << report.faults.size();
    EXPECT_EQ(folder_bytes(shop.path), before) << "killed writer: " << killed_writer;
  }
}

// A book damaged the ways a shop's disk or a curious hand does: reading it fails with our own
// words (the kind says which), never a crash and never SQLite's English.
TEST(AuditReadsOnly, DamagedBooksAreNamed) {
  const fs::path book_name(kBookName);
  const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> damages = {
      {"truncated", [&](const fs::path& root) { fs::resize_file(root / book_name, 1500); }},
      {"pages flipped",
       [&](const fs::path& root) {
         std::string bytes = read_all(root / book_name);
         for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = static_cast<char>(~bytes[i]);
         write_text(root / book_name, bytes);
       }},
      {"bad header", [&](const fs::path& root) { write_text(root / book_name, std::string(8192, 'x')); }},
      {"newer schema", [&](const fs::path& root) { sql(root, "PRAGMA user_version = 99"); }},
      {"dropped table", [&](const fs::path& root) { sql(root, "DROP TABLE files"); }},
      {"a folder",
       [&](const fs::path& root) {
         fs::remove(root / book_name);
         fs::create_directory(root / book_name);
       }},
      {"a FIFO",
       [&](const fs::path& root) {
         fs::remove(root / book_name);
         ASSERT_EQ(::mkfifo((root / book_name).c_str(), 0600), 0);
       }},
  };
  for (const auto& [name, damage] : damages) {
    TempFolder shop;
    fill_shop(shop.path, 2);
    damage(shop.path);
    std::string said;
    try {
      read_book_once(shop.path, [](const Book& book) { audit_folder(book, 1); });
    } catch (const BookError& error) {
      said = error.what();
    } catch (const std::system_error& error) {
      said = error.what();
    }
    EXPECT_NE(said.find("收據簿"), std::string::npos) << name << ": " << said;
    EXPECT_EQ(said.find("SQLite 錯誤碼"), std::string::npos) << name << ": " << said;
  }
}

}  // namespace
}  // namespace receiptora::store
