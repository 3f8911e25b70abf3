// The book's writes, each one transaction: a claim (the day's next number and the record),
// imports, the journal's later steps, void and reprint copies, files adopted, settings.
#include <sqlite3.h>

#include <cstdio>
#include <stdexcept>

#include "book_sql.hpp"
#include "receiptora/store/book.hpp"

namespace receiptora::store {

using sql::exec;
using sql::Statement;
using sql::Transaction;

namespace {

std::int64_t sequence_of(const std::string& number) {
  const size_t dash = number.rfind('-');
  std::int64_t seq = 0;
  if (dash == std::string::npos) return 0;
  for (size_t i = dash + 1; i < number.size() && seq < 1000000000; ++i) {
    if (number[i] < '0' || number[i] > '9') return 0;
    seq = seq * 10 + (number[i] - '0');
  }
  return seq;
}

void check_iso_day(const std::string& day) {
  int y, m, d;
  char end;
  if (day.size() != 10 || std::sscanf(day.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &end) != 3)
    throw std::invalid_argument("日期不是 YYYY-MM-DD：" + day);
}

}  // namespace

Claim claim_receipt(Book& book, Record& record, bool hold_changed) {
  check_iso_day(record.date);
  const Day day = day_of(record);
  std::lock_guard lock(book.mutex());
  // The claim is not flushed on its own: the next commit (the files recorded) flushes it, and
  // should the power fail before, the files saved meanwhile are imported at the next start,
  // so their number is never issued again. One flush fewer for every receipt.
  struct Unflushed {
    sqlite3* db;
    explicit Unflushed(sqlite3* d) : db(d) { exec(db, "PRAGMA synchronous=NORMAL"); }
    ~Unflushed() { sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr); }
  } unflushed(book.db());
  Transaction transaction(book);
  if (!record.batch_key.empty()) {
    Statement earlier(book.db(), "SELECT number, state FROM receipts WHERE batch_key = ?");
    earlier.bind(1, record.batch_key);
    if (earlier.step()) {
      const State state = sql::row_state(book.db(), earlier.view(0), earlier.view(1));
      if (state != State::Unfinished) return {earlier.text(0), true, state};
      Statement release(book.db(), "UPDATE receipts SET batch_key = NULL WHERE batch_key = ?");
      release.bind(1, record.batch_key).run();
    }
    if (hold_changed && !record.order_label.empty()) {
      // The same order issued before under another key: its content has changed since.
      Statement other(book.db(),
                      "SELECT number, state FROM receipts WHERE order_label = ? AND order_label <> '' "
                      "AND batch_key IS NOT NULL AND batch_key <> ? AND state IN ('issued', 'pending') "
                      "ORDER BY day DESC, seq DESC LIMIT 1");
      other.bind(1, record.order_label).bind(2, record.batch_key);
      if (other.step()) {
        Claim held{other.text(0), false, sql::row_state(book.db(), other.view(0), other.view(1))};
        held.held = true;
        return held;
      }
    }
  }
  Statement highest(book.db(), "SELECT coalesce(max(seq), 0) FROM receipts WHERE day = ?");
  highest.bind(1, record.date);
  highest.step();
  record.number = receipt_number(day, static_cast<int>(highest.integer(0)) + 1);
  sql::sign_new_record(book, record);
  sql::insert_rows(book.db(), record, highest.integer(0) + 1);
  transaction.commit();
  return {record.number, false, record.state};
}

bool insert_record(Book& book, const Record& record) { return insert_records(book, {record}) == 1; }

size_t insert_records(Book& book, const std::vector<Record>& records) {
  for (const Record& record : records) check_iso_day(record.date);
  std::lock_guard lock(book.mutex());
  Transaction transaction(book);
  Statement exists(book.db(), "SELECT 1 FROM receipts WHERE number = ?");
  size_t added = 0;
  for (const Record& record : records) {
    exists.bind(1, record.number);
    const bool known = exists.step();
    exists.reset();
    if (known) continue;
    Record signed_record = record;
    sql::sign_new_record(book, signed_record);
    sql::insert_rows(book.db(), signed_record, sequence_of(record.number));
    ++added;
  }
  transaction.commit();
  return added;
}

void mark_issued(Book& book, const std::string& number, const std::vector<BookFile>& files,
                 const std::string& issued_at) {
  std::lock_guard lock(book.mutex());
  Transaction transaction(book);
  Statement update(book.db(), "UPDATE receipts SET state = 'issued', issued_at = ? WHERE number = ?");
  update.bind(1, issued_at).bind(2, number).run();
  if (sqlite3_changes(book.db()) == 0)
    throw BookError(BookError::Kind::Unknown, "收據簿 " + book.file().string() + " 沒有收據 " + number);
  sql::FileRows(book.db()).add(number, files);
  transaction.commit();
}

void mark_ledger_written(Book& book, const std::vector<std::string>& numbers) {
  std::lock_guard lock(book.mutex());
  Transaction transaction(book);
  Statement update(book.db(), "UPDATE receipts SET ledger_written = 1 WHERE number = ?");
  for (const std::string& number : numbers) update.bind(1, number).run();
  transaction.commit();
}

void mark_unfinished(Book& book, const std::string& number, const std::string& reason) {
  std::lock_guard lock(book.mutex());
  Transaction transaction(book);
  Statement update(book.db(),
                   "UPDATE receipts SET state = 'unfinished', unfinished_reason = ? WHERE number = ? AND "
                   "state = 'pending'");
  update.bind(1, reason).bind(2, number).run();
  transaction.commit();
}

namespace {

// The state of `number` inside a transaction: BookError Unknown when there is none.
State state_in_book(const Book& book, const std::string& number) {
  Statement state(book.db(), "SELECT state FROM receipts WHERE number = ?");
  state.bind(1, number);
  if (!state.step())
    throw BookError(BookError::Kind::Unknown, "收據簿 " + book.file().string() + " 沒有收據 " + number);
  return sql::row_state(book.db(), number, state.view(0));
}

}  // namespace

void mark_void(Book& book, const std::string& number, const std::string& reason, const std::string& voided_at,
               const std::vector<BookFile>& copy, const std::function<void()>& place) {
  std::lock_guard lock(book.mutex());
  Transaction transaction(book);
  const State now = state_in_book(book, number);
  if (now == State::Void) throw BookError(BookError::Kind::AlreadyVoid, number + " 已經作廢");
  if (now != State::Issued)
    throw BookError(BookError::Kind::NotIssued,
                    number + " 沒有開立成功（" + std::string(state_label(now)) + "）");
  Statement update(book.db(),
                   "UPDATE receipts SET state = 'void', voided_at = ?, void_reason = ?, ledger_written = 0 "
                   "WHERE number = ?");
  update.bind(1, voided_at).bind(2, reason).bind(3, number).run();
  sql::FileRows(book.db()).add(number, copy);
  place();
  transaction.commit();
}

void add_reprint(Book& book, const std::string& number, const std::vector<BookFile>& copy,
                 const std::function<void()>& place) {
  std::lock_guard lock(book.mutex());
  Transaction transaction(book);
  const State now = state_in_book(book, number);
  if (now == State::Void) throw BookError(BookError::Kind::AlreadyVoid, number + " 已作廢，不能補印");
  if (now != State::Issued) throw BookError(BookError::Kind::NotIssued, number + " 沒有開立成功，不能補印");
  sql::FileRows(book.db()).add(number, copy);
  place();
  transaction.commit();
}

void release_batch_keys(Book& book, const std::vector<std::string>& numbers) {
  std::lock_guard lock(book.mutex());
  Transaction transaction(book);
  Statement release(book.db(), "UPDATE receipts SET batch_key = NULL WHERE number = ? AND state = 'void'");
  for (const std::string& number : numbers) release.bind(1, number).run();
  transaction.commit();
}

bool adopt_files(Book& book, const std::string& number, const std::vector<BookFile>& files,
                 const std::function<bool(const BookFile&)>& still_there) {
  std::lock_guard lock(book.mutex());
  Transaction transaction(book);
  sql::FileRows file(book.db(), sql::FileRows::OnConflict::Keep);
  bool void_copy = false;
  for (const BookFile& f : files) {
    if (!still_there(f)) continue;  // a copy whose void or reprint failed and was taken back
    file.add(number, f);
    void_copy = void_copy || f.kind == "void";
  }
  bool voided = false;
  if (void_copy) {
    Statement mark(
        book.db(),
        "UPDATE receipts SET state = 'void', voided_at = ?, void_reason = CASE WHEN void_reason = '' "
        "THEN '由作廢副本得知（作廢的紀錄不在收據簿裡）' ELSE void_reason END, ledger_written = 0 "
        "WHERE number = ? AND state = 'issued'");
    mark.bind(1, now_iso()).bind(2, number).run();
    voided = sqlite3_changes(book.db()) > 0;
  }
  transaction.commit();
  return voided;
}

void set_book_setting(Book& book, const std::string& key, const std::string& value) {
  std::lock_guard lock(book.mutex());
  Transaction transaction(book);
  Statement update(book.db(), "INSERT OR REPLACE INTO settings(key, value) VALUES (?, ?)");
  update.bind(1, key).bind(2, value).run();
  transaction.commit();
}

}  // namespace receiptora::store
