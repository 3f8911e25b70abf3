// The receipt book 收據簿.sqlite3 in the output folder: the system of record. One record per
// receipt number, holding the whole request, the seller as printed, the files with their
// SHA-256 and what happened to the receipt (issued, voided, never finished). Written through
// SQLite in WAL mode with synchronous=FULL, so a committed record survives a power cut.
//
// In this order: records and their conversions (records.cpp), the open book (book.cpp), the
// journal's writes (journal.cpp), then the reads (queries.cpp).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "receiptora/receipt.hpp"
#include "receiptora/store/book_error.hpp"
#include "receiptora/store/ledger.hpp"
#include "receiptora/store/numbering.hpp"
#include "receiptora/store/shop_files.hpp"

struct sqlite3;

namespace receiptora::store {
class ShopKey;
}

namespace receiptora::store {

namespace fs = std::filesystem;

// The schema this build writes; older books are migrated on open, newer ones refused.
inline constexpr int kBookVersion = 6;
// How long a command waits for another process's write transaction before it gives up.
inline constexpr std::chrono::milliseconds kBusyLimit{10000};

// pending: number claimed and request stored, files not yet in place.
// unfinished: the number was taken but the receipt could not be made (the reason says why).
enum class State { Pending, Issued, Void, Unfinished };
std::string_view state_name(State state);  // "pending", "issued", "void", "unfinished"
std::optional<State> state_from_name(std::string_view name);
std::string_view state_label(State state);  // the ledger's words: 待完成, 已開立, 作廢, 未完成

struct BookItem {
  std::string name;
  std::string quantity;    // decimal digits, any length, as the receipt prints them
  std::string unit_price;  // likewise
  std::string note;        // 備註
};

struct BookFile {
  std::string name;    // relative to the output folder: "2026-12/收據-20261207-001.pdf"
  std::string sha256;  // lower-case hex
  std::string kind;    // "original", "void", "reprint"
};

struct Record {
  std::string number;
  std::string date;  // YYYY-MM-DD: the receipt's day, which its number carries
  State state = State::Pending;
  // The request as issued.
  std::string buyer;
  std::string buyer_tax_id;
  std::vector<BookItem> items;
  bool print_date = true;
  bool exemption_stamp = false;
  bool owner_seal = false;
  Template layout = Template::General;
  std::string created_at;  // the PDF's creation date, so a receipt made again is the same
  SellerProfile seller;
  std::string total = "0";  // decimal text
  std::vector<BookFile> files;
  std::string issued_at;  // ISO 8601 with the zone: 2026-12-07T14:03:00+08:00
  std::string voided_at;
  std::string void_reason;
  std::string unfinished_reason;
  std::string batch_key;    // empty for the window's receipts
  std::string order_label;  // the batch order's 收據 value; empty for the window's receipts
  std::string run;          // the batch run that issued it (its result table's stamp); empty otherwise
  bool ledger_written = false;
  // Who is issuing a pending record (a process id): recovery leaves alone what a live
  // process is still working on.
  std::string owner;
  // The receipt's signed code (signing.hpp), the first group of its key's fingerprint and its
  // place in the chain of signatures (0: not signed).
  std::string code;
  std::string key_id;
  std::int64_t chain = 0;
};

// The month folder's subfolder where a void receipt's clean original is kept for audit, out
// of the view of someone browsing the month: YYYY-MM/.原本/收據-…-003.pdf. The book and the
// ledger keep the names the files were issued under; stored_name() says where one lives.
inline constexpr std::string_view kKeptOriginals = ".原本";
// Where a record's file lives, relative to the output folder: under its name, except the
// original files of a void receipt, in its month's kKeptOriginals folder.
std::string stored_name(const Record& record, const BookFile& file);
std::string stored_name(State state, const BookFile& file);
// Moves a void receipt's original files that are still in the month folder into its .原本
// folder (the folder made, a real one; each rename never replaces, both folders flushed).
// Returns the stored names moved; nothing for a record not void. Throws std::system_error.
std::vector<std::string> keep_originals_out_of_view(const fs::path& root, const Record& record);

// A record from a numbered receipt: request, seller, total (its number, day and state
// stay for the caller). And back: the receipt the record describes, without a mark.
Record record_from_receipt(const Receipt& receipt, Day day);
Receipt receipt_from_record(const Record& record);
Day day_of(const Record& record);
// The record's ledger line (state column included).
LedgerLine ledger_line_of(const Record& record);

// Lower-case hex SHA-256 of `bytes`; of a file's contents (throws std::system_error).
std::string sha256_hex(std::string_view bytes);
std::string sha256_of_file(const fs::path& file);
// Now, as ISO 8601 with the local zone.
std::string now_iso();

// An open book. Opened for writing, the file is created when missing (never through a
// symbolic link) and an older schema migrated. Opened for reading, nothing is created,
// migrated or written. One connection, safe to share between threads: every operation holds
// the book's lock and is one transaction.
class Book {
 public:
  // Read: SQLite's read-only open, which sees a live writer's -wal and never folds it into
  // the book. ReadFile: the book file alone, without locks, -wal or -shm; only for a book
  // whose folder holds no -wal (nothing committed outside the file), and checked afterwards
  // with moved_on().
  enum class Access { Write, Read, ReadFile };
  explicit Book(const fs::path& folder, Access access = Access::Write);
  ~Book();
  Book(const Book&) = delete;
  Book& operator=(const Book&) = delete;

  const fs::path& folder() const { return folder_; }
  fs::path file() const { return folder_ / std::string(kBookName); }
  int version() const { return version_; }
  bool read_only() const { return read_only_; }
  // Opened as ReadFile and since then the book file changed or a writer began its -wal: what
  // was read may be a mix, so read again through a Read book.
  bool moved_on() const;
  // Folds the -wal into the book file (a command's end), so the file is complete alone.
  // Waits for nobody: a reader or writer elsewhere leaves it for the next one.
  void checkpoint();
  // While set, an operation that finds the book locked by another process fails at once
  // instead of waiting up to kBusyLimit (a batch stops after its first claim that waited).
  void give_up_waiting(bool give_up) { give_up_ = give_up; }

  // For the book's own functions.
  sqlite3* db() const { return db_; }
  std::mutex& mutex() const { return mutex_; }
  // The key that signs each record the book stores (signing.hpp's attach_key), or none.
  std::shared_ptr<const ShopKey> signer() const {
    std::lock_guard lock(signer_mutex_);
    return signer_;
  }
  void set_signer(std::shared_ptr<const ShopKey> key) {
    std::lock_guard lock(signer_mutex_);
    signer_ = std::move(key);
  }

 private:
  int read_version() const;
  static int busy(void* book, int count);
  fs::path folder_;
  std::atomic<bool> give_up_{false};
  bool no_wait_ = false;  // under mutex_
  bool read_only_ = false;
  int version_ = 0;
  std::optional<std::pair<std::uintmax_t, fs::file_time_type>> file_stamp_;  // ReadFile: as opened
  sqlite3* db_ = nullptr;
  mutable std::mutex mutex_;
  mutable std::mutex signer_mutex_;
  std::shared_ptr<const ShopKey> signer_;
};

// The folder's book opened for reading, or nullptr when the folder has no book yet (before
// its first receipt): what list, summary, check and the 收據簿 window use. Creates nothing
// and writes nothing; no recovery runs.
std::unique_ptr<Book> open_book_for_reading(const fs::path& folder);
// Runs `read` once on the folder's book as a command that only reads sees it, changing no byte
// of the folder (no -wal or -shm made, none folded): the book file alone while no writer has
// a -wal, read again through SQLite's read-only open should one begin meanwhile. False when the
// folder has no book.
bool read_book_once(const fs::path& folder, const std::function<void(const Book&)>& read);

// What a claim got: a new number, or, for a batch key the book already holds, the number
// that key was claimed for (issued, void, or pending: under way in this or another process).
struct Claim {
  std::string number;
  bool claimed_before = false;
  State state = State::Pending;  // of the earlier record, when claimed_before or held
  // The order's 收據 value has an issued (or pending) receipt of other content, named by
  // `number`: nothing is claimed, the changed order waits for the operator's word.
  bool held = false;
};
// Claims the next number of the record's day and stores the record (normally pending) in
// one transaction; sets record.number. A record with a batch key that the book already
// holds takes no number (an earlier unfinished record gives its key up: its order was never
// made). Another process claiming at the same time waits (busy timeout) and gets the next
// number, or sees the key. With `hold_changed`, a batch record whose order (its 收據 value)
// has an issued or pending receipt under another key takes no number either: it is held.
Claim claim_receipt(Book& book, Record& record, bool hold_changed = false);
// Stores a record whose number is already known (an import); false when the number exists.
bool insert_record(Book& book, const Record& record);
// Many at once, in one transaction; returns how many were new.
size_t insert_records(Book& book, const std::vector<Record>& records);

// The journal's later steps. mark_issued records the files and the time; ledger_written
// that the ledger line is out; mark_unfinished keeps a number that failed with its reason.
void mark_issued(Book& book, const std::string& number, const std::vector<BookFile>& files,
                 const std::string& issued_at);
void mark_ledger_written(Book& book, const std::vector<std::string>& numbers);
void mark_unfinished(Book& book, const std::string& number, const std::string& reason);
// Voids an issued receipt, recording its void copy's files: BookError Unknown / AlreadyVoid /
// NotIssued otherwise. `place` runs inside the transaction once the receipt is seen issued
// (it puts the copy's files under their names); when it throws, nothing is recorded.
void mark_void(Book& book, const std::string& number, const std::string& reason, const std::string& voided_at,
               const std::vector<BookFile>& copy, const std::function<void()>& place);
// Records a reprint's files the same way; a receipt void meanwhile is refused (AlreadyVoid).
void add_reprint(Book& book, const std::string& number, const std::vector<BookFile>& copy,
                 const std::function<void()>& place);

std::optional<Record> find_receipt(const Book& book, const std::string& number);
// Records in a state, by number (recovery reads the pending ones).
std::vector<Record> records_in_state(const Book& book, State state);
// Issued or void records whose ledger line has not been written.
std::vector<Record> records_without_ledger_line(const Book& book);
// Every record's number.
std::vector<std::string> record_numbers(const Book& book);
// The receipts a batch run issued (every state), by day and number.
std::vector<Record> records_of_run(const Book& book, const std::string& run);
// Gives up the batch keys of those of `numbers` that are void: their orders, undone with their
// run, are issued again by the next run of the sheet.
void release_batch_keys(Book& book, const std::vector<std::string>& numbers);
// The name of every file the book records (relative to the folder).
std::vector<std::string> recorded_file_names(const Book& book);
// Records files of the receipt `number` that its record did not name (copies found after a
// restore or a rebuilt book), each only while still_there(file); a 作廢 copy among them makes
// an issued receipt void (its 作廢 line then due). True when it did.
bool adopt_files(Book& book, const std::string& number, const std::vector<BookFile>& files,
                 const std::function<bool(const BookFile&)>& still_there);
// What an imported receipt's unfinished_reason says when neither the book nor the ledger knew
// its content: only its files were found, so its buyer and total are unknown (counted as 0).
inline constexpr std::string_view kContentUnknown =
    "內容不明：只找到收據檔，收據簿與收據清冊都沒有它的買受人與總額";

// Every record, by day and number (the ledger rebuilt).
std::vector<Record> all_records(const Book& book);
// The batch keys among `keys` that the book holds (issued, void or pending), with the number
// and state of the receipt holding each.
struct KeyHolder {
  std::string key, number;
  State state = State::Issued;
  bool operator==(const KeyHolder&) const = default;
};
std::vector<KeyHolder> claimed_batch_keys(const Book& book, const std::vector<std::string>& keys);

// A value kept with the book (for instance that an older output folder was imported).
std::optional<std::string> book_setting(const Book& book, const std::string& key);
void set_book_setting(Book& book, const std::string& key, const std::string& value);

struct ListRow {
  std::string number;
  std::string date;  // ISO
  std::string buyer;
  std::string buyer_tax_id;
  std::string total;  // decimal text
  State state = State::Issued;
  std::vector<std::string> files;
  std::string order_label;  // the batch order's 收據 value, empty for the window's receipts
};

// Receipts of a month ("YYYY-MM"; empty: all) whose number, buyer, buyer's tax id or order holds
// `search` (empty: every one), by number.
std::vector<ListRow> list_receipts(const Book& book, const std::string& month, const std::string& search);

struct DayTotal {
  std::string date;  // ISO
  std::int64_t receipts = 0;
  std::string total;
};

struct Summary {
  std::int64_t receipts = 0;  // issued
  std::int64_t voided = 0;
  std::string total = "0";     // of the issued receipts
  std::vector<DayTotal> days;  // days with an issued receipt, in order
};

// Days from first_day to last_day inclusive (ISO dates).
Summary summarize(const Book& book, const std::string& first_day, const std::string& last_day);

struct MonthTotal {
  std::string month;  // YYYY-MM
  std::int64_t receipts = 0;
  std::string total = "0";
};

// `count` months starting at `first_month` ("YYYY-MM"), every month listed, empty ones as 0.
std::vector<MonthTotal> monthly_totals(const Book& book, const std::string& first_month, int count);

}  // namespace receiptora::store
