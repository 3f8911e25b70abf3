// The suggestion counts read from the book through SQLite's C API, on a connection of their
// own: the receipt window's process reads them without the rest of the store.
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <thread>

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

// SQLite's complaint about `db`, for the caller's message.
struct Unreadable : std::runtime_error {
  using std::runtime_error::runtime_error;
};

Statement prepared(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
    throw Unreadable(sqlite3_errmsg(db));
  return Statement(raw);
}

std::int64_t pragma_of(sqlite3* db, const char* name) {
  Statement query = prepared(db, std::string("PRAGMA ") + name);
  if (sqlite3_step(query.get()) != SQLITE_ROW) throw Unreadable(sqlite3_errmsg(db));
  return sqlite3_column_int64(query.get(), 0);
}

std::vector<Suggestion> rows_of(sqlite3* db, SuggestionKind kind, const char* where) {
  std::vector<Suggestion> out;
  Statement rows = prepared(db, select_from(kind, where));
  int rc;
  while ((rc = sqlite3_step(rows.get())) == SQLITE_ROW)
    out.push_back({column(rows.get(), 0), column(rows.get(), 1), sqlite3_column_int64(rows.get(), 2),
                   column(rows.get(), 3)});
  if (rc != SQLITE_DONE) throw Unreadable(sqlite3_errmsg(db));
  return out;
}

// The counts of both kinds as of one read transaction; `counted`: the book has them.
void read_counts(sqlite3* db, bool& counted, SuggestionList (&lists)[2]) {
  if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) throw Unreadable(sqlite3_errmsg(db));
  struct End {
    sqlite3* db;
    ~End() { sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr); }
  } end{db};
  counted = pragma_of(db, "user_version") >= kCountsVersion;
  for (SuggestionKind kind : {SuggestionKind::Buyer, SuggestionKind::Item})
    lists[static_cast<int>(kind)].assign(counted ? rows_of(db, kind, "WHERE uses > 0 AND hidden = 0")
                                                 : std::vector<Suggestion>{});
}

std::string unreadable(const fs::path& folder, const std::string& why) {
  return "收據簿 " + (folder / std::string(kBookName)).string() + " 讀不到常用的買受人與品項（" + why + "）";
}

}  // namespace

// The counts read again on a thread of their own, over a connection of its own.
struct SuggestionBook::ReadAside {
  std::int64_t version = -1;  // the keystroke connection's data_version when the reading began
  std::chrono::steady_clock::time_point began = std::chrono::steady_clock::now();
  std::atomic<bool> done{false};
  bool counted = false;
  SuggestionList lists[2];
  std::string failure;  // why the counts could not be read; empty when they were
  std::thread thread;

  ReadAside(const fs::path& file, std::int64_t seen, std::string today) : version(seen) {
    thread = std::thread([this, file, today = std::move(today)] {
      sqlite3* db = nullptr;
      try {
        if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
            SQLITE_OK)
          throw Unreadable(db ? sqlite3_errmsg(db) : "無法開啟");
        sqlite3_busy_timeout(db, 2000);
        read_counts(db, counted, lists);
        for (SuggestionList& list : lists) list.weigh(today);
      } catch (const std::exception& error) {
        failure = error.what();
        if (failure.empty()) failure = "無法讀取";
      }
      sqlite3_close_v2(db);
      done = true;
    });
  }
  ~ReadAside() {
    if (thread.joinable()) thread.join();
  }
};

SuggestionBook::SuggestionBook(fs::path folder) : folder_(std::move(folder)) {}

SuggestionBook::~SuggestionBook() {
  aside_.reset();
  sqlite3_close_v2(db_);
}

void SuggestionBook::fail() const {
  const std::string why = db_ ? sqlite3_errmsg(db_) : "無法開啟";
  sqlite3_close_v2(db_);                             // closes once the caller's statements are finalized
  const_cast<SuggestionBook*>(this)->db_ = nullptr;  // the next call opens the book again
  const_cast<SuggestionBook*>(this)->data_version_ = -1;
  throw std::runtime_error(unreadable(folder_, why));
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
  try {
    return rows_of(db_, kind, where);
  } catch (const Unreadable&) {
    fail();
  }
}

// Counts read aside and ready replace those in use.
void SuggestionBook::take_read_aside() {
  if (!aside_ || !aside_->done) return;
  const std::unique_ptr<ReadAside> read = std::move(aside_);  // joined as it goes
  if (!read->failure.empty()) throw std::runtime_error(unreadable(folder_, read->failure));
  counted_ = read->counted;
  for (int kind = 0; kind < 2; ++kind) lists_[kind] = std::move(read->lists[kind]);
  data_version_ = read->version;
  // While a batch commits receipt after receipt, the counts are read again at most about once
  // a second, so the reading does not take the processor the window types on.
  const auto now = std::chrono::steady_clock::now();
  next_read_ =
      now + std::max<std::chrono::steady_clock::duration>(std::chrono::seconds(1), now - read->began);
}

void SuggestionBook::refresh() {
  take_read_aside();
  const std::int64_t now = pragma("data_version");
  if (now == data_version_ || aside_) return;  // unchanged, or the reading under way brings the change
  if (data_version_ >= 0 && lists_[0].size() + lists_[1].size() > kReadAsideRows) {
    if (std::chrono::steady_clock::now() >= next_read_)
      aside_ = std::make_unique<ReadAside>(folder_ / std::string(kBookName), now, today_);
    return;
  }
  try {
    read_counts(db_, counted_, lists_);
  } catch (const Unreadable&) {
    fail();
  }
  for (SuggestionList& list : lists_) list.weigh(today_);  // both kinds now, not at their first keystroke
  data_version_ = now;
}

std::vector<Suggestion> SuggestionBook::suggest(SuggestionKind kind, std::string_view typed,
                                                std::string_view today, size_t limit) {
  if (!open()) return {};
  today_ = today;
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
  aside_.reset();      // counts read before the change are not taken
  data_version_ = -1;  // our own write does not change data_version: read the counts again, now
}

std::vector<Suggestion> SuggestionBook::hidden(SuggestionKind kind) {
  if (!open()) return {};
  refresh();
  if (!counted_) return {};  // a book from before the counts hides nothing
  return read(kind, "WHERE hidden <> 0 ORDER BY 1, 2");
}

}  // namespace receiptora::store
