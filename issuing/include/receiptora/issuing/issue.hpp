// Issuing receipts into a shop's output folder as a journal, so that a kill, a full disk or a
// failing renderer never loses a request and never leaves a saved receipt unrecorded:
//   1. claim the number and store the whole request as a pending record (one transaction);
//   2. render PDF and PNG into temporary files in the month folder and flush them;
//   3. rename them to their names (never replacing a file);
//   4. mark the record issued with the files' SHA-256, then append its ledger line.
// Recovery at every start finishes what a killed process left pending. The journal is
// journal.cpp, recovery recovery.cpp, the import of an older folder import.cpp, the void
// and reprint copies copies.cpp. Plain C++ (no Python),
// so the worker and the batch command run it with the GIL released.
#pragma once

#include <atomic>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "receiptora/receipt.hpp"
#include "receiptora/store/book.hpp"
#include "receiptora/store/book_ledger.hpp"
#include "receiptora/store/files.hpp"
#include "receiptora/store/numbering.hpp"

namespace receiptora::issuing {

namespace fs = std::filesystem;

// A failure that names the receipt and says whether it exists: `saved` is true when the
// receipt's files are in place (only recording them failed, and the next start completes
// it), false when no receipt was made. The number is empty when none was taken. Its kind
// tells apart the failures a caller acts on: NoSeller (the profile names no shop, so nothing
// can be issued until it does) and LedgerNotWritten (the book holds the change; the ledger
// lacks its line until the next start writes it).
class IssueError : public std::runtime_error {
 public:
  enum class Kind { Other, NoSeller, LedgerNotWritten };
  IssueError(std::string number, bool saved, const std::string& what, int code = 0, Kind kind = Kind::Other)
      : std::runtime_error(what), number_(std::move(number)), saved_(saved), code_(code), kind_(kind) {}
  const std::string& number() const { return number_; }
  bool saved() const { return saved_; }
  int code() const { return code_; }  // errno of the underlying failure, 0 when none
  Kind kind() const { return kind_; }

 private:
  std::string number_;
  bool saved_;
  int code_;
  Kind kind_;
};

// What recovery did when the book was opened.
struct Recovery {
  std::size_t imported = 0;        // numbers of an output folder made before the book
  std::size_t completed = 0;       // pending records whose files were complete
  std::size_t rendered_again = 0;  // pending records made again from their request
  std::size_t unfinished = 0;      // pending records that could not be made
  std::size_t ledger_lines = 0;    // ledger lines written that were missing
  std::vector<std::string> problems;
};

// The book of `root`, opened once per process and folder; the first open recovers (and, the
// first time ever, imports an older output folder). Safe from any thread.
store::Book& book_for(const fs::path& root);
// What the first open of `root`'s book in this process recovered.
Recovery recovery_of(const fs::path& root);
// Closes every book book_for opened (a command's or the app's end), which folds the -wal
// into the book file: the file is then complete on its own. Only when no thread uses one.
void close_books();
// Folds each open book's -wal into its file (and empties the -wal), the books staying open:
// for an end while other threads may still hold a book (the app's receipt worker).
void checkpoint_books();

// Recovers a book: imports an older folder once and files the book does not know (a stale
// copy of the book) every time, finishes pending records whose process is
// gone (files complete: issued; otherwise rendered again from the stored request; a request
// that cannot be rendered: unfinished with its reason), writes missing ledger lines.
Recovery recover(store::Book& book);

struct Issued {
  std::string number;
  // Empty, or why the ledger line is missing (the receipt is saved and in the book; the
  // next start or `ledger --rebuild` writes the line).
  std::string ledger_problem;
};

// One receipt, durably, all four steps with each file flushed on its own. Throws IssueError
// (also for a batch key issued before).
Issued issue_receipt(Receipt receipt, const fs::path& root, store::Day day,
                     const std::string& batch_key = {});

// The steps for callers that issue many receipts at once (the batch):
// claim (step 1) → stage (step 2, flushing left to the caller) → commit (steps 3 and 4).
struct Staged {
  store::Record record;
  fs::path root;
  store::StagedFile pdf;
  store::StagedFile png;  // page 1
  std::string pdf_sha256, png_sha256;
  // The pictures of pages 2, 3 …: 收據-…-NNN-第2頁.png and on, one 1240 × 874 picture each.
  std::vector<store::StagedFile> more_pngs;
  std::vector<std::string> more_png_sha256;
};
// What a receipt without a seller is refused with: no 商號名稱 in the profile, no receipt.
inline constexpr const char* kNoSeller = "請先填寫賣方資料（receiptora profile）";

// Step 1: the number; receipt.number is set. A receipt whose seller has no 商號名稱 is
// refused (IssueError kNoSeller) before a number is taken: a paper without the shop's name is
// no receipt. A batch key the book already holds takes no
// number: the claim says which receipt has it (claimed_before; receipt.number unchanged); so
// does, with `hold_changed`, an order whose 收據 value has a receipt of other content (held).
// Throws IssueError (no number taken).
store::Claim claim(store::Book& book, Receipt& receipt, store::Day day, const std::string& batch_key,
                   const std::string& order_label, const std::string& run = {}, bool hold_changed = false);
// Step 2: renders and writes both files under temporary names. On failure the record
// becomes unfinished with the reason (and its ledger line), and IssueError is thrown.
Staged stage(store::Book& book, const Receipt& receipt, bool flush);
// Step 2's flush for receipts of one output folder staged without it: one flush of the
// folder's file system for them all. When it fails their files are removed (the records stay
// pending: the next start makes them) and the failure is thrown.
void flush_staged(const fs::path& root, const std::vector<const Staged*>& staged);
// Steps 3 and 4 for receipts of one output folder, after their files were flushed: renames,
// marks them issued in one transaction, appends their ledger lines in one write. Per
// receipt the failure (IssueError) or null; a missing ledger line is not a failure but
// reported in `ledger_problem`.
std::vector<std::exception_ptr> commit(store::Book& book, std::vector<Staged>& staged,
                                       std::string& ledger_problem);

// Void: a copy of the receipt with the 作廢 mark, the reason and today's date in the month
// folder, the record marked void, a ledger line with the state 作廢, and then the clean
// original moved into the month's .原本 folder (store::keep_originals_out_of_view; a stop
// before that is finished by the next start's recovery). Throws
// store::BookError (unknown number, already void, never issued) or IssueError; a void that
// fails leaves no file. Returns the copy's file names.
std::vector<std::string> void_receipt(const fs::path& root, const std::string& number,
                                      const std::string& reason);
struct VoidOutcome {
  std::string number;
  std::vector<std::string> files;  // the void copy
  std::string error;               // empty when voided
};
// Several receipts with one reason, each in its own transaction; one refused does not stop
// the others.
std::vector<VoidOutcome> void_receipts(const fs::path& root, const std::vector<std::string>& numbers,
                                       const std::string& reason);
// Undoing a batch run: the receipts the book records for `run` that are still issued, and the
// result table's 已開立 lines (number, order value) that are not among them, each with why (a
// table of another folder or run, a line edited by hand). Only the book's receipts are voided.
struct RunLine {
  std::string number, order;
};
struct RunPlan {
  std::vector<store::Record> receipts;
  std::vector<std::pair<std::string, std::string>> refused;  // number, why (in Chinese)
};
RunPlan plan_run_void(const fs::path& root, const std::string& run, const std::vector<RunLine>& listed);
// Voids the run's receipts with one reason and gives up their orders' keys, so the corrected
// sheet issues those orders again; per number the outcome, as void_receipts.
std::vector<VoidOutcome> void_run(const fs::path& root, const std::vector<std::string>& numbers,
                                  const std::string& reason);

// Reprint: the receipt again from its record with the 補印 mark and today's date, under a
// new file name; the original files are untouched. A void receipt is refused
// (store::BookError AlreadyVoid): nothing clean of it leaves the book again, and its 作廢
// copy is what prints. Returns the new file names.
std::vector<std::string> reprint_receipt(const fs::path& root, const std::string& number);

// Writes 收據清冊.csv again from the book, replacing the old one atomically: the lines, and
// whether the ledger replaced was of the older kind (作廢 lines with positive amounts).
store::LedgerRebuild rebuild_ledger(const fs::path& root);

// Today, from the local clock.
Date today();

}  // namespace receiptora::issuing
