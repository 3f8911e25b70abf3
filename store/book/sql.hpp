// SQLite as the store uses it, for the book and for every reader of it: statements finalized
// on scope exit, transactions rolled back when left by an exception, and SQLite's failures
// turned into the shop owner's words. Header-only, so a reader that links SQLite alone (the
// window's suggestions) uses the same.
#pragma once

#include <sqlite3.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <system_error>

#include "receiptora/store/book_error.hpp"
#include "receiptora/store/file_error.hpp"

namespace receiptora::store::sql {

// The book's file as SQLite names it (empty for a connection without one).
inline std::string file_of(sqlite3* db) {
  const char* name = db ? sqlite3_db_filename(db, "main") : nullptr;
  return name ? name : "";
}

// A failure of the connection `db` as an exception whose message says, in Chinese, what is
// wrong with which book: std::system_error for the failures of the disk and of access (so
// callers and Python see ENOSPC, EIO, EBUSY, EACCES), BookError otherwise.
[[noreturn]] inline void fail(sqlite3* db) {
  const int code = db ? sqlite3_extended_errcode(db) & 0xff : SQLITE_NOMEM;
  const std::string book = "收據簿 " + file_of(db);
  switch (code) {
    case SQLITE_FULL:
      throw FileError(ENOSPC, book + "：磁碟已滿，無法寫入", false);
    case SQLITE_IOERR:
      throw FileError(EIO, book + "：讀寫磁碟失敗（磁碟 I/O 錯誤）", false);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      throw FileError(EBUSY, book + "：正被其他程式使用中（已鎖定），請稍後再試", false);
    case SQLITE_READONLY:
      throw FileError(EACCES, book + "：唯讀，無法寫入", false);
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
    case SQLITE_AUTH:
      throw FileError(EACCES, book + "：無法開啟（沒有權限，或不是一般檔案）", false);
    case SQLITE_NOMEM:
      throw std::bad_alloc();
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      throw BookError(BookError::Kind::Corrupt, book + "：檔案已損壞（SQLite 無法讀取）");
    case SQLITE_ERROR:
      // A table or column the schema must have is gone: the file was altered by hand.
      if (const std::string_view said = db ? sqlite3_errmsg(db) : "";
          said.starts_with("no such table") || said.starts_with("no such column"))
        throw BookError(BookError::Kind::Corrupt,
                        book + "：缺少資料表或欄位，檔案已損壞（或被其他程式改過）");
      [[fallthrough]];
    default:
      throw BookError(BookError::Kind::Database,
                      book + "：資料庫錯誤（SQLite 錯誤碼 " + std::to_string(code) + "）");
  }
}

inline void exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail(db);
}

// A prepared statement, finalized on scope exit.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK)
      fail(db);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int i, std::string_view text) {
    check(sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
    return *this;
  }
  Statement& bind(int i, std::int64_t value) {
    check(sqlite3_bind_int64(stmt_, i, value));
    return *this;
  }
  Statement& bind_null(int i) {
    check(sqlite3_bind_null(stmt_, i));
    return *this;
  }
  // True while there is a row.
  bool step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    fail(db_);
  }
  void run() {
    while (step()) {
    }
    reset();
  }
  void reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  std::string text(int i) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
    return p ? std::string(p, sqlite3_column_bytes(stmt_, i)) : std::string();
  }
  // The column's text, valid until the next step (no copy, for reads of many rows).
  std::string_view view(int i) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
    return p ? std::string_view(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, i))) : std::string_view();
  }
  std::int64_t integer(int i) const { return sqlite3_column_int64(stmt_, i); }
  bool is_null(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }

 private:
  void check(int rc) {
    if (rc != SQLITE_OK) fail(db_);
  }
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// A connection of our own, closed whatever happens.
struct Close {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, Close>;

// `file` opened with SQLite's `flags`; the failure in the shop owner's words when it cannot be.
inline Connection open(const std::string& file, int flags) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(file.c_str(), &db, flags, nullptr);
  Connection connection(db);
  if (rc != SQLITE_OK) fail(db);
  return connection;
}

// BEGIN IMMEDIATE ... COMMIT, rolled back when left by an exception.
class ImmediateTransaction {
 public:
  explicit ImmediateTransaction(sqlite3* db) : db_(db) { exec(db_, "BEGIN IMMEDIATE"); }
  ~ImmediateTransaction() {
    if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  ImmediateTransaction(const ImmediateTransaction&) = delete;
  ImmediateTransaction& operator=(const ImmediateTransaction&) = delete;
  void commit() {
    exec(db_, "COMMIT");
    done_ = true;
  }

 private:
  sqlite3* db_;
  bool done_ = false;
};

}  // namespace receiptora::store::sql
