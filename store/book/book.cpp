// An open book: the connection, its checks and migrations on open, waiting on another
// process's lock, checkpoints, and the opens of the commands that only read.
#include "receiptora/store/book.hpp"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <iterator>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>

#include "receiptora/store/file_error.hpp"
#include "schema.hpp"
#include "sql.hpp"

namespace receiptora::store {

using sql::exec;
using sql::Statement;

static_assert(std::size(sql::kMigrations) == kBookVersion);

namespace {

// Why `path` cannot be the book, in the shop owner's words; empty when it may be.
std::string unusable_book_file(const fs::path& path, bool writing) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  if (ec || status.type() == fs::file_type::not_found) return {};
  if (status.type() == fs::file_type::symlink) {
    if (!writing) return {};
    return "收據簿 " + path.string() + " 是符號連結（捷徑），為了不把收據寫到別處，不寫入；請換成真正的檔案";
  }
  if (status.type() == fs::file_type::directory) return "收據簿 " + path.string() + " 是資料夾，不是檔案";
  if (status.type() != fs::file_type::regular) return "收據簿 " + path.string() + " 不是一般檔案";
  return {};
}

sqlite3* open_connection(const std::string& uri, int flags) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(uri.c_str(), &db, flags | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX, nullptr) !=
      SQLITE_OK) {
    const int code = db ? sqlite3_extended_errcode(db) : SQLITE_NOMEM;
    sqlite3_close(db);
    if (code == SQLITE_NOMEM) throw std::bad_alloc();
    return nullptr;
  }
  return db;
}

// "file:" URI of a path (characters URIs reserve escaped), with `query`.
std::string uri_of(const fs::path& path, const std::string& query) {
  std::string out = "file:";
  for (unsigned char c : path.string()) {
    if (c == '%' || c == '?' || c == '#') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return query.empty() ? out : out + "?" + query;
}

}  // namespace

Book::Book(const fs::path& folder, Access access) : folder_(folder), read_only_(access != Access::Write) {
  const std::string path = file().string();
  if (std::string why = unusable_book_file(file(), !read_only_); !why.empty())
    throw FileError(read_only_ ? EISDIR : ELOOP, why, false);
  if (access == Access::ReadFile) {
    std::error_code ec;
    file_stamp_.emplace(fs::file_size(file(), ec), fs::last_write_time(file(), ec));
  }
  const int flags = read_only_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  db_ = open_connection(uri_of(file(), access == Access::ReadFile ? "immutable=1" : ""), flags);
  if (!db_) throw FileError(EACCES, "收據簿 " + path + " 無法開啟（沒有權限，或資料夾不能寫入）", false);
  try {
    sqlite3_busy_handler(db_, &Book::busy, this);
    sqlite3_extended_result_codes(db_, 1);
    if (read_only_) {
      // Reading writes nothing: no journal mode set, no migration, and a read-only connection
      // never folds a killed writer's -wal into the book when it closes.
      try {
        version_ = read_version();
      } catch (const std::system_error&) {
        if (access == Access::ReadFile) throw;
        // A folder that cannot be written (no -shm can be made beside the book): read the
        // book file as it stands, which no writer can change there either.
        sqlite3_close(db_);
        db_ = open_connection(uri_of(file(), "immutable=1"), SQLITE_OPEN_READONLY);
        if (!db_)
          throw FileError(EACCES, "收據簿 " + path + " 無法開啟（沒有權限，或資料夾不能寫入）", false);
        version_ = read_version();
      }
      if (version_ > kBookVersion)
        throw BookError(BookError::Kind::Version, "收據簿 " + path + " 由較新版的 Receiptora 寫入（第 " +
                                                      std::to_string(version_) + " 版），這一版只能讀到第 " +
                                                      std::to_string(kBookVersion) + " 版");
      return;
    }
    exec(db_, "PRAGMA journal_mode=WAL");
    exec(db_, "PRAGMA synchronous=FULL");
    exec(db_, "PRAGMA foreign_keys=ON");
    int current = read_version();
    if (current > kBookVersion)
      throw BookError(BookError::Kind::Version, "收據簿 " + path + " 由較新版的 Receiptora 寫入（第 " +
                                                    std::to_string(current) + " 版），這一版只能讀寫到第 " +
                                                    std::to_string(kBookVersion) + " 版");
    while (current < kBookVersion) {
      sql::ImmediateTransaction migration(db_);
      const int again = read_version();  // another process may have migrated meanwhile
      if (again == current) {
        exec(db_, sql::kMigrations[current]);
        exec(db_, ("PRAGMA user_version=" + std::to_string(current + 1)).c_str());
      }
      migration.commit();
      current = read_version();
    }
    version_ = current;
  } catch (...) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

Book::~Book() {
  // The -wal folded into the book file, so the file is complete on its own while no command
  // runs (the last connection to close also removes the -wal).
  if (db_ && !read_only_)
    sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  sqlite3_close(db_);
}

int Book::read_version() const {
  Statement query(db_, "PRAGMA user_version");
  return query.step() ? static_cast<int>(query.integer(0)) : 0;
}

void Book::checkpoint() {
  std::lock_guard lock(mutex_);
  if (read_only_) return;
  // A failure (another process reading or writing) only leaves the -wal for the next one.
  no_wait_ = true;
  sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  no_wait_ = false;
}

int Book::busy(void* opened, int count) {
  // Another process holds the lock: wait in steps of 5 ms, up to kBusyLimit.
  constexpr int kStepMs = 5;
  const auto* book = static_cast<const Book*>(opened);
  if (book->no_wait_ || book->give_up_ || count * kStepMs >= kBusyLimit.count()) return 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
  return 1;
}

bool Book::moved_on() const {
  if (!file_stamp_) return false;
  std::error_code ec;
  const fs::path wal = file().string() + "-wal";
  return fs::exists(fs::symlink_status(wal, ec)) || fs::file_size(file(), ec) != file_stamp_->first ||
         fs::last_write_time(file(), ec) != file_stamp_->second;
}

bool read_book_once(const fs::path& folder, const std::function<void(const Book&)>& read) {
  std::error_code ec;
  const fs::path book = folder / std::string(kBookName);
  if (!fs::exists(fs::symlink_status(book, ec)) || !fs::exists(book, ec)) return false;
  const std::string base = book.string();
  if (!fs::exists(fs::symlink_status(base + "-wal", ec)) &&
      !fs::exists(fs::symlink_status(base + "-shm", ec))) {
    // No writer has a -wal: the file is the whole book. A writer that starts meanwhile is seen
    // afterwards, and the book is read again as SQLite shares it.
    const Book still(folder, Book::Access::ReadFile);
    try {
      read(still);
    } catch (const std::exception&) {
      if (!still.moved_on()) throw;
    }
    if (!still.moved_on()) return true;
  }
  read(Book(folder, Book::Access::Read));
  return true;
}

std::unique_ptr<Book> open_book_for_reading(const fs::path& folder) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(folder / std::string(kBookName), ec)) ||
      !fs::exists(folder / std::string(kBookName), ec))
    return nullptr;
  return std::make_unique<Book>(folder, Book::Access::Read);
}

}  // namespace receiptora::store
