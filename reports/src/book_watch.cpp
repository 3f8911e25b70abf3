#include "receiptora/reports/book_watch.hpp"

#include <sqlite3.h>

#include <memory>
#include <mutex>
#include <stdexcept>

namespace receiptora::reports {

BookWatch::BookWatch(const store::Book& book) : book_(book), last_(version()) {}

bool BookWatch::changed() {
  const std::int64_t now = version();
  if (now == last_) return false;
  last_ = now;
  return true;
}

std::int64_t BookWatch::version() const {
  std::lock_guard lock(book_.mutex());
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(book_.db(), "PRAGMA data_version", -1, &raw, nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string("收據簿無法讀取：") + sqlite3_errmsg(book_.db()));
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
  if (sqlite3_step(raw) != SQLITE_ROW)
    throw std::runtime_error(std::string("收據簿無法讀取：") + sqlite3_errmsg(book_.db()));
  return sqlite3_column_int64(raw, 0);
}

}  // namespace receiptora::reports
