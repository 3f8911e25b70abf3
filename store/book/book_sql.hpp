// The book's own SQL, internal to the store: its write transaction and its rows read as
// records and written from them (signing.cpp signs a record as it is stored).
#pragma once

#include <gmpxx.h>

#include <string>
#include <string_view>
#include <vector>

#include "receiptora/store/book.hpp"
#include "sql.hpp"

namespace receiptora::store::sql {

// A write transaction on the book. A book opened for reading refuses it: reading commands never
// write.
class Transaction : public ImmediateTransaction {
 public:
  explicit Transaction(const Book& book) : ImmediateTransaction(writable(book)) {}

 private:
  static sqlite3* writable(const Book& book) {
    if (book.read_only())
      throw BookError(BookError::Kind::ReadOnly, "收據簿 " + book.file().string() + " 只供讀取，不能寫入");
    return book.db();
  }
};

// The state a row of the record `number` names. A word this build does not know is a damaged
// record (BookError Corrupt naming it): never read as pending, which recovery would finish.
State row_state(sqlite3* db, std::string_view number, std::string_view name);
// The total a row of the record `number` holds. A text that is no whole number is a damaged
// record (BookError Corrupt naming it): never counted as 0 in a sum.
mpz_class row_total(sqlite3* db, std::string_view number, std::string_view total);

// The columns read_record reads, in its order.
std::string record_columns(const Book& book);
// A record from a row of record_columns (then its items and files).
Record read_record(sqlite3* db, const Statement& row);
// Inside a write transaction: signs `record` (its number set) with the book's signer, after the
// chain's last receipt; nothing when the book has no signer (signing.cpp).
void sign_new_record(const Book& book, Record& record);

// Writes a record's row, its items and its files; `seq` is its number of the day.
void insert_rows(sqlite3* db, const Record& record, std::int64_t seq);

// The one insert of a receipt's file rows. Replace: a file recorded again takes its new hash;
// Keep: a file the book already names stays as recorded (files adopted after a restore).
class FileRows {
 public:
  enum class OnConflict { Replace, Keep };
  explicit FileRows(sqlite3* db, OnConflict conflict = OnConflict::Replace);
  void add(std::string_view number, const BookFile& file);
  void add(std::string_view number, const std::vector<BookFile>& files);

 private:
  Statement insert_;
};

}  // namespace receiptora::store::sql
