// The suggestion counts read from the book on a connection of their own, through the store's
// SQLite wrapper (header-only): the receipt window's process reads them without the rest of
// the store.
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "receiptora/store/shop_files.hpp"
#include "receiptora/store/suggestions.hpp"
#include "sql.hpp"

namespace receiptora::store {

namespace fs = std::filesystem;

namespace {

using sql::Statement;

constexpr int kCountsVersion = 3;  // the book's first schema with buyer_uses and item_uses

// name, detail, uses, last_day of a table's rows
std::string select_from(SuggestionKind kind, const char* where) {
  return std::string(kind == SuggestionKind::Buyer
                         ? "SELECT buyer, tax_id, uses, last_day FROM buyer_uses "
                         : "SELECT name, unit_price, uses, last_day FROM item_uses ") +
         where;
}

std::int64_t pragma_of(sqlite3* db, const char* name) {
  Statement query(db, std::string("PRAGMA ") + name);
  query.step();
  return query.integer(0);
}

std::vector<Suggestion> rows_of(sqlite3* db, SuggestionKind kind, const char* where) {
  std::vector<Suggestion> out;
  Statement rows(db, select_from(kind, where));
  while (rows.step()) out.push_back({rows.text(0), rows.text(1), rows.integer(2), rows.text(3)});
  return out;
}

// The counts of both kinds as of one read transaction; `counted`: the book has them.
void read_counts(sqlite3* db, bool& counted, SuggestionList (&lists)[2]) {
  sql::exec(db, "BEGIN");
  struct End {
    sqlite3* db;
    ~End() { sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr); }
  } end{db};
  counted = pragma_of(db, "user_version") >= kCountsVersion;
  for (SuggestionKind kind : {SuggestionKind::Buyer, SuggestionKind::Item})
    lists[static_cast<int>(kind)].assign(counted ? rows_of(db, kind, "WHERE uses > 0 AND hidden = 0")
                                                 : std::vector<Suggestion>{});
}

// The book's file opened for reading and writing (the operator hides suggestions), never
// created; the wrapper's failure, naming the file, when it cannot be.
sqlite3* open_book(const fs::path& file) {
  sql::Connection db = sql::open(file.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
  sqlite3_busy_timeout(db.get(), 2000);
  return db.release();
}

std::string unreadable(const std::string& why) { return why + "：讀不到常用的買受人與品項"; }

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
        db = open_book(file);
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

void SuggestionBook::fail(const std::string& why) {
  sqlite3_close_v2(db_);  // closes once the caller's statements are finalized
  db_ = nullptr;          // the next call opens the book again
  data_version_ = -1;
  throw std::runtime_error(unreadable(why));
}

bool SuggestionBook::open() {
  if (db_) return true;
  std::error_code ec;
  const fs::path file = folder_ / std::string(kBookName);
  if (!fs::is_regular_file(file, ec)) return false;  // no book before the first receipt
  db_ = open_book(file);
  return true;
}

// Counts read aside and ready replace those in use.
void SuggestionBook::take_read_aside() {
  if (!aside_ || !aside_->done) return;
  const std::unique_ptr<ReadAside> read = std::move(aside_);  // joined as it goes
  if (!read->failure.empty()) throw std::runtime_error(read->failure);
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
  const std::int64_t now = pragma_of(db_, "data_version");
  if (now == data_version_ || aside_) return;  // unchanged, or the reading under way brings the change
  if (data_version_ >= 0 && lists_[0].size() + lists_[1].size() > kReadAsideRows) {
    if (std::chrono::steady_clock::now() >= next_read_)
      aside_ = std::make_unique<ReadAside>(folder_ / std::string(kBookName), now, today_);
    return;
  }
  read_counts(db_, counted_, lists_);
  for (SuggestionList& list : lists_) list.weigh(today_);  // both kinds now, not at their first keystroke
  data_version_ = now;
}

std::vector<Suggestion> SuggestionBook::suggest(SuggestionKind kind, std::string_view typed,
                                                std::string_view today, size_t limit) {
  try {
    if (!open()) return {};
    today_ = today;
    refresh();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& error) {
    fail(error.what());
  }
  return lists_[static_cast<int>(kind)].match(typed, today, limit);
}

void SuggestionBook::set_hidden(SuggestionKind kind, const std::string& name, const std::string& detail,
                                bool hidden) {
  std::error_code ec;
  if (fs::is_symlink(folder_ / std::string(kBookName), ec))
    throw std::runtime_error("收據簿 " + (folder_ / std::string(kBookName)).string() + " 是符號連結，不寫入");
  try {
    if (!open()) return;
    Statement update(db_, kind == SuggestionKind::Buyer
                              ? "UPDATE buyer_uses SET hidden = ?3 WHERE buyer = ?1 AND tax_id = ?2"
                              : "UPDATE item_uses SET hidden = ?3 WHERE name = ?1");
    update.bind(1, name).bind(3, std::int64_t{hidden ? 1 : 0});
    if (kind == SuggestionKind::Buyer) update.bind(2, detail);
    update.run();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& error) {
    fail(error.what());
  }
  aside_.reset();      // counts read before the change are not taken
  data_version_ = -1;  // our own write does not change data_version: read the counts again, now
}

std::vector<Suggestion> SuggestionBook::hidden(SuggestionKind kind) {
  try {
    if (!open()) return {};
    refresh();
    if (!counted_) return {};  // a book from before the counts hides nothing
    return rows_of(db_, kind, "WHERE hidden <> 0 ORDER BY 1, 2");
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& error) {
    fail(error.what());
  }
}

}  // namespace receiptora::store
