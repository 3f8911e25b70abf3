// The audit of an output folder (`receiptora check`): does everything agree with the book?
// Reads only: it opens nothing for writing and creates nothing.
//   - every record's files are there, regular files, with the SHA-256 the book holds, and no
//     receipt file lies in a month folder without a record;
//   - the ledger 收據清冊.csv is the book's mirror: each record's line (a void one also its
//     已開立 line) once, with the book's date, total and state, and no line the book lacks;
//   - the numbers of each day run from 001 without a gap (a number that failed stays in the
//     book as 未完成 and a voided one as 作廢, so those explain themselves);
//   - nothing is pending;
//   - the chain of signatures verifies from the first receipt to the last (signing.hpp), and
//     the shop's key is in the folder once the book records it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "receiptora/store/book.hpp"

namespace receiptora::store {

namespace fs = std::filesystem;

struct Fault {
  std::string number;   // the receipt at fault, or empty
  std::string file;     // the file at fault (relative to the folder), or empty
  std::string problem;  // in Chinese
};

struct AuditReport {
  std::size_t receipts = 0;      // records in the book
  std::size_t files = 0;         // record files checked
  std::size_t ledger_lines = 0;  // lines of the ledger after its header
  std::size_t chain_links = 0;   // signed receipts verified in chain order, up to any break
  bool chain_whole = true;
  std::string chain_note;     // which receipts were signed together when signing began
  std::vector<Fault> faults;  // by receipt number
  bool sound() const { return faults.empty(); }
};

// Audits `book`'s folder, hashing the files on `threads` threads; with `month` ("YYYY-MM") only
// that month: its receipts, its month folder and its ledger lines.
AuditReport audit_folder(const Book& book, unsigned threads = 0, const std::string& month = "");

}  // namespace receiptora::store
