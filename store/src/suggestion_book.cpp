// The suggestion counts read from the book through SQLite's C API, on a connection of their
// own: the receipt window's process reads them without the rest of the store.
#include <sqlite3.h>

#include <memory>
#include <stdexcept>
#include <system_error>

#include "receiptora/store/book.hpp"
#include "receiptora/store/suggestions.hpp"

namespace receiptora::store {

namespace fs = std::filesystem;

namespace {

constexpr int kCountsVersion = 3;  // the book's first schema with buyer_uses and item_uses

struct Finalize {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

std::string column(sqlite3_stmt* s, int i) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
  return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(s, i))) : std::string();
}

// name, detail, uses, last_day of a table's rows
std::string select_from(SuggestionKind kind, const char* where) {
  return std::string(kind == SuggestionKind::Buyer
                         ? "SELECT buyer, tax_id, uses, last_day FROM buyer_uses "
                         : "SELECT name, unit_price, uses, last_day FROM item_uses ") +
         where;
}

}  // namespace

SuggestionBook::SuggestionBook(fs::path folder) : folder_(std::move(folder)) {}

SuggestionBook::~SuggestionBook() { sqlite3_close_v2(db_); }

void SuggestionBook::fail() const {
  const std::string why = db_ ? sqlite3_errmsg(db_) : "無法開啟";
  sqlite3_close_v2(db_);                             // closes once the caller's statements are finalized
  const_cast<SuggestionBook*>(this)->db_ = nullptr;  // the next call opens the book again
  const_cast<SuggestionBook*>(this)->data_version_ = -1;
  throw std::runtime_error("收據簿 " + (folder_ / std::string(kBookName)).string() +
                           " 讀不到常用的買受人與品項（" + why + "）");
}

bool SuggestionBook::open() {
  if (db_) return true;
  std::error_code ec;
  const fs::path file = folder_ / std::string(kBookName);
  if (!fs::is_regular_file(file, ec)) return false;  // no book before the first receipt
  if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
    fail();
  sqlite3_busy_timeout(db_, 2000);
  return true;
}

sqlite3_stmt* SuggestionBook::prepare(const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) fail();
  return raw;
}

std::int64_t SuggestionBook::pragma(const char* name) {
  Statement query(prepare(std::string("PRAGMA ") + name));
  if (sqlite3_step(query.get()) != SQLITE_ROW) fail();
  return sqlite3_column_int64(query.get(), 0);
}

std::vector<Suggestion> SuggestionBook::read(SuggestionKind kind, const char* where) {
  std::vector<Suggestion> out;
  Statement rows(prepare(select_from(kind, where)));
  int rc;
  while ((rc = sqlite3_step(rows.get())) == SQLITE_ROW)
    out.push_back({column(rows.get(), 0), column(rows.get(), 1), sqlite3_column_int64(rows.get(), 2),
                   column(rows.get(), 3)});
  if (rc != SQLITE_DONE) fail();
  return out;
}

void SuggestionBook::refresh() {
  const std::int64_t now = pragma("data_version");
  if (now == data_version_) return;
  if (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) fail();
  struct End {
    sqlite3* db;
    ~End() { sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr); }
  } end{db_};
  counted_ = pragma("user_version") >= kCountsVersion;
  for (SuggestionKind kind : {SuggestionKind::Buyer, SuggestionKind::Item})
    lists_[static_cast<int>(kind)].assign(counted_ ? read(kind, "WHERE uses > 0 AND hidden = 0")
                                                   : std::vector<Suggestion>{});
  data_version_ = now;
}

std::vector<Suggestion> SuggestionBook::suggest(SuggestionKind kind, std::string_view typed,
                                                std::string_view today, size_t limit) {
  if (!open()) return {};
  refresh();
  return lists_[static_cast<int>(kind)].match(typed, today, limit);
}

void SuggestionBook::set_hidden(SuggestionKind kind, const std::string& name, const std::string& detail,
                                bool hidden) {
  std::error_code ec;
  if (fs::is_symlink(folder_ / std::string(kBookName), ec))
    throw std::runtime_error("收據簿 " + (folder_ / std::string(kBookName)).string() + " 是符號連結，不寫入");
  if (!open()) return;
  Statement update(prepare(kind == SuggestionKind::Buyer
                               ? "UPDATE buyer_uses SET hidden = ?3 WHERE buyer = ?1 AND tax_id = ?2"
                               : "UPDATE item_uses SET hidden = ?3 WHERE name = ?1"));
  sqlite3_bind_text(update.get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  if (kind == SuggestionKind::Buyer)
    sqlite3_bind_text(update.get(), 2, detail.data(), static_cast<int>(detail.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int(update.get(), 3, hidden ? 1 : 0);
  if (sqlite3_step(update.get()) != SQLITE_DONE) fail();
  data_version_ = -1;  // our own write does not change data_version: read the counts again
}

std::vector<Suggestion> SuggestionBook::hidden(SuggestionKind kind) {
  if (!open()) return {};
  refresh();
  if (!counted_) return {};  // a book from before the counts hides nothing
  return read(kind, "WHERE hidden <> 0 ORDER BY 1, 2");
}

}  // namespace receiptora::store
