#include "receiptora/store/book.hpp"

#include <gmpxx.h>
#include <openssl/evp.h>
#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <unordered_map>
#include <system_error>
#include <utility>

namespace receiptora::store {

namespace {

// Each entry takes the schema from its index to the next version. Append, never edit.
constexpr const char* kMigrations[] = {
    R"sql(
CREATE TABLE receipts(
  number TEXT PRIMARY KEY,
  day TEXT NOT NULL,
  seq INTEGER NOT NULL,
  state TEXT NOT NULL,
  buyer TEXT NOT NULL DEFAULT '',
  buyer_tax_id TEXT NOT NULL DEFAULT '',
  print_date INTEGER NOT NULL DEFAULT 1,
  exemption_stamp INTEGER NOT NULL DEFAULT 0,
  owner_seal INTEGER NOT NULL DEFAULT 0,
  layout TEXT NOT NULL DEFAULT 'general',
  created_at TEXT NOT NULL DEFAULT '',
  seller_name TEXT NOT NULL DEFAULT '',
  seller_tax_id TEXT NOT NULL DEFAULT '',
  seller_owner TEXT NOT NULL DEFAULT '',
  seller_address TEXT NOT NULL DEFAULT '',
  seller_phone TEXT NOT NULL DEFAULT '',
  seller_exemption_image TEXT NOT NULL DEFAULT '',
  seller_seal_image TEXT NOT NULL DEFAULT '',
  total TEXT NOT NULL DEFAULT '0',
  issued_at TEXT NOT NULL DEFAULT '',
  voided_at TEXT NOT NULL DEFAULT '',
  void_reason TEXT NOT NULL DEFAULT '',
  unfinished_reason TEXT NOT NULL DEFAULT '',
  batch_key TEXT,
  ledger_written INTEGER NOT NULL DEFAULT 0,
  owner TEXT NOT NULL DEFAULT '',
  UNIQUE(day, seq)
);
CREATE TABLE items(
  number TEXT NOT NULL,
  line INTEGER NOT NULL,
  name TEXT NOT NULL,
  quantity TEXT NOT NULL,
  unit_price TEXT NOT NULL,
  note TEXT NOT NULL DEFAULT '',
  PRIMARY KEY(number, line)
) WITHOUT ROWID;
CREATE TABLE files(
  number TEXT NOT NULL,
  name TEXT NOT NULL,
  sha256 TEXT NOT NULL,
  kind TEXT NOT NULL,
  UNIQUE(number, name)
);
CREATE TABLE settings(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;
CREATE INDEX receipts_by_day ON receipts(day, state, total);
CREATE INDEX receipts_pending ON receipts(state) WHERE state = 'pending';
CREATE INDEX receipts_unlisted ON receipts(ledger_written) WHERE ledger_written = 0;
CREATE INDEX receipts_by_batch_key ON receipts(batch_key) WHERE batch_key IS NOT NULL;
)sql",
};
static_assert(std::size(kMigrations) == kBookVersion);

[[noreturn]] void fail(sqlite3* db, const std::string& what) {
  const int code = db ? sqlite3_extended_errcode(db) : SQLITE_ERROR;
  std::string message = what + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
  if ((code & 0xff) == SQLITE_FULL) throw std::system_error(ENOSPC, std::generic_category(), message);
  if ((code & 0xff) == SQLITE_IOERR) throw std::system_error(EIO, std::generic_category(), message);
  if ((code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED)
    throw std::system_error(EBUSY, std::generic_category(), message);
  if ((code & 0xff) == SQLITE_READONLY || (code & 0xff) == SQLITE_PERM || (code & 0xff) == SQLITE_CANTOPEN)
    throw std::system_error(EACCES, std::generic_category(), message);
  throw BookError(BookError::Kind::Database, message);
}

void exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    sqlite3_free(error);
    fail(db, "receipt book");
  }
}

// A prepared statement, finalized on scope exit.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK)
      fail(db, "receipt book");
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
    fail(db_, "receipt book");
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
  std::int64_t integer(int i) const { return sqlite3_column_int64(stmt_, i); }
  bool is_null(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }

 private:
  void check(int rc) {
    if (rc != SQLITE_OK) fail(db_, "receipt book");
  }
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// BEGIN IMMEDIATE ... COMMIT, rolled back when left by an exception.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) { exec(db_, "BEGIN IMMEDIATE"); }
  ~Transaction() {
    if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void commit() {
    exec(db_, "COMMIT");
    done_ = true;
  }

 private:
  sqlite3* db_;
  bool done_ = false;
};

std::string_view layout_key(render::Template layout) {
  return layout == render::Template::Cat ? "cat" : "general";
}

constexpr const char* kRecordColumns =
    "number, day, state, buyer, buyer_tax_id, print_date, exemption_stamp, owner_seal, layout, created_at, "
    "seller_name, seller_tax_id, seller_owner, seller_address, seller_phone, seller_exemption_image, "
    "seller_seal_image, total, issued_at, voided_at, void_reason, unfinished_reason, batch_key, "
    "ledger_written, owner";

void insert_rows(sqlite3* db, const Record& r, std::int64_t seq) {
  Statement insert(
      db,
      "INSERT INTO receipts(number, day, seq, state, buyer, buyer_tax_id, print_date, "
      "exemption_stamp, owner_seal, layout, created_at, seller_name, seller_tax_id, seller_owner, "
      "seller_address, seller_phone, seller_exemption_image, seller_seal_image, total, issued_at, "
      "voided_at, void_reason, unfinished_reason, batch_key, ledger_written, owner) VALUES "
      "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  std::int64_t i = 0;
  auto text = [&](std::string_view value) { insert.bind(static_cast<int>(++i), value); };
  auto number = [&](std::int64_t value) { insert.bind(static_cast<int>(++i), value); };
  text(r.number);
  text(r.date);
  number(seq);
  text(state_name(r.state));
  text(r.buyer);
  text(r.buyer_tax_id);
  number(r.print_date);
  number(r.exemption_stamp);
  number(r.owner_seal);
  text(layout_key(r.layout));
  text(r.created_at);
  for (const std::string* field :
       {&r.seller.name, &r.seller.tax_id, &r.seller.owner, &r.seller.address, &r.seller.phone,
        &r.seller.exemption_stamp_image, &r.seller.owner_seal_image, &r.total, &r.issued_at, &r.voided_at,
        &r.void_reason, &r.unfinished_reason})
    text(*field);
  if (r.batch_key.empty())
    insert.bind_null(static_cast<int>(++i));
  else
    text(r.batch_key);
  number(r.ledger_written);
  text(r.owner);
  insert.run();

  Statement item(db,
                 "INSERT INTO items(number, line, name, quantity, unit_price, note) VALUES (?,?,?,?,?,?)");
  for (size_t n = 0; n < r.items.size(); ++n) {
    const BookItem& it = r.items[n];
    item.bind(1, r.number).bind(2, static_cast<std::int64_t>(n)).bind(3, it.name).bind(4, it.quantity);
    item.bind(5, it.unit_price).bind(6, it.note).run();
  }
  Statement file(db, "INSERT OR REPLACE INTO files(number, name, sha256, kind) VALUES (?,?,?,?)");
  for (const BookFile& f : r.files)
    file.bind(1, r.number).bind(2, f.name).bind(3, f.sha256).bind(4, f.kind).run();
}

// Reads the columns of kRecordColumns, then the record's items and files.
Record read_record(sqlite3* db, const Statement& row) {
  Record r;
  int i = 0;
  r.number = row.text(i++);
  r.date = row.text(i++);
  r.state = state_from_name(row.text(i++)).value_or(State::Pending);
  r.buyer = row.text(i++);
  r.buyer_tax_id = row.text(i++);
  r.print_date = row.integer(i++) != 0;
  r.exemption_stamp = row.integer(i++) != 0;
  r.owner_seal = row.integer(i++) != 0;
  r.layout = row.text(i++) == "cat" ? render::Template::Cat : render::Template::General;
  r.created_at = row.text(i++);
  r.seller.name = row.text(i++);
  r.seller.tax_id = row.text(i++);
  r.seller.owner = row.text(i++);
  r.seller.address = row.text(i++);
  r.seller.phone = row.text(i++);
  r.seller.exemption_stamp_image = row.text(i++);
  r.seller.owner_seal_image = row.text(i++);
  r.total = row.text(i++);
  r.issued_at = row.text(i++);
  r.voided_at = row.text(i++);
  r.void_reason = row.text(i++);
  r.unfinished_reason = row.text(i++);
  r.batch_key = row.text(i++);
  r.ledger_written = row.integer(i++) != 0;
  r.owner = row.text(i++);

  Statement items(db, "SELECT name, quantity, unit_price, note FROM items WHERE number = ? ORDER BY line");
  items.bind(1, r.number);
  while (items.step()) r.items.push_back({items.text(0), items.text(1), items.text(2), items.text(3)});
  Statement files(db, "SELECT name, sha256, kind FROM files WHERE number = ? ORDER BY rowid");
  files.bind(1, r.number);
  while (files.step()) r.files.push_back({files.text(0), files.text(1), files.text(2)});
  return r;
}

std::vector<Record> select_records(const Book& book, const std::string& where,
                                   const std::string& bound = {}) {
  std::lock_guard lock(book.mutex());
  Statement rows(book.db(),
                 std::string("SELECT ") + kRecordColumns + " FROM receipts " + where + " ORDER BY day, seq");
  if (!bound.empty()) rows.bind(1, bound);
  std::vector<Record> out;
  while (rows.step()) out.push_back(read_record(book.db(), rows));
  return out;
}

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
    throw std::invalid_argument("not a date (YYYY-MM-DD): " + day);
}

}  // namespace

std::string_view state_name(State state) {
  switch (state) {
    case State::Pending:
      return "pending";
    case State::Issued:
      return "issued";
    case State::Void:
      return "void";
    case State::Unfinished:
      return "unfinished";
  }
  return "pending";
}

std::optional<State> state_from_name(std::string_view name) {
  for (State s : {State::Pending, State::Issued, State::Void, State::Unfinished})
    if (state_name(s) == name) return s;
  return std::nullopt;
}

std::string_view state_label(State state) {
  switch (state) {
    case State::Pending:
      return "待完成";
    case State::Issued:
      return "已開立";
    case State::Void:
      return "作廢";
    case State::Unfinished:
      return "未完成";
  }
  return "待完成";
}

Record record_from_receipt(const render::Receipt& receipt, Day day) {
  Record r;
  r.number = receipt.number;
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", day.year, day.month, day.day);
  r.date = date;
  r.buyer = receipt.buyer;
  r.buyer_tax_id = receipt.buyer_tax_id;
  mpz_class total = 0;
  for (const render::Item& item : receipt.items) {
    r.items.push_back({item.name, item.quantity.get_str(), item.unit_price.get_str(), item.note});
    total += item.quantity * item.unit_price;
  }
  r.total = total.get_str();
  r.print_date = receipt.date.has_value();
  r.exemption_stamp = receipt.exemption_stamp;
  r.owner_seal = receipt.owner_seal;
  r.layout = receipt.layout;
  r.created_at = receipt.created_at;
  r.seller = receipt.seller;
  return r;
}

Day day_of(const Record& record) {
  Day day;
  if (std::sscanf(record.date.c_str(), "%d-%d-%d", &day.year, &day.month, &day.day) != 3)
    throw std::invalid_argument("the record " + record.number + " has no valid date: " + record.date);
  return day;
}

render::Receipt receipt_from_record(const Record& record) {
  render::Receipt receipt;
  receipt.seller = record.seller;
  receipt.number = record.number;
  receipt.buyer = record.buyer;
  receipt.buyer_tax_id = record.buyer_tax_id;
  if (record.print_date) {
    const Day day = day_of(record);
    receipt.date = render::Date{day.year, day.month, day.day};
  }
  for (const BookItem& item : record.items) {
    render::Item out;
    out.name = item.name;
    if (out.quantity.set_str(item.quantity, 10) != 0 || out.unit_price.set_str(item.unit_price, 10) != 0)
      throw std::invalid_argument("the record " + record.number + " holds an amount that is not a number");
    out.note = item.note;
    receipt.items.push_back(std::move(out));
  }
  receipt.exemption_stamp = record.exemption_stamp;
  receipt.owner_seal = record.owner_seal;
  receipt.layout = record.layout;
  receipt.created_at = record.created_at;
  return receipt;
}

LedgerLine ledger_line_of(const Record& record) {
  LedgerLine line;
  line.number = record.number;
  line.date = record.date;
  line.buyer = record.buyer;
  line.buyer_tax_id = record.buyer_tax_id;
  line.item_count = record.items.size();
  line.total = record.total;
  for (const BookFile& file : record.files) {
    // The original's files; a void line adds the void copy. Reprints are not ledger lines.
    if (file.kind == "reprint" || (file.kind == "void" && record.state != State::Void)) continue;
    if (!line.files.empty()) line.files += "; ";
    line.files += file.name;
  }
  line.layout = record.layout == render::Template::Cat ? "貓咪格式" : "一般格式";
  line.state = state_label(record.state);
  if (record.state == State::Unfinished && !record.unfinished_reason.empty())
    line.files = record.unfinished_reason;  // no files: the reason stands in their column
  return line;
}

std::string sha256_hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 failed");
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < size; ++i) {
    out.push_back(kHex[digest[i] >> 4]);
    out.push_back(kHex[digest[i] & 15]);
  }
  return out;
}

std::string sha256_of_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    throw std::system_error(errno ? errno : ENOENT, std::generic_category(), "cannot read " + file.string());
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::system_error(EIO, std::generic_category(), "cannot read " + file.string());
  return sha256_hex(bytes);
}

std::string now_iso() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  std::string out = text;  // ...+0800 → ...+08:00
  if (out.size() >= 5) out.insert(out.size() - 2, ":");
  return out;
}

Book::Book(const fs::path& folder) : folder_(folder) {
  const std::string path = file().string();
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    const std::string message =
        "cannot open the receipt book " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
    sqlite3_close(db_);
    db_ = nullptr;
    throw std::system_error(EACCES, std::generic_category(), message);
  }
  try {
    sqlite3_busy_timeout(db_, 10000);  // another process's transaction: wait up to 10 s
    sqlite3_extended_result_codes(db_, 1);
    exec(db_, "PRAGMA journal_mode=WAL");
    exec(db_, "PRAGMA synchronous=FULL");
    exec(db_, "PRAGMA foreign_keys=ON");
    int current = version();
    if (current > kBookVersion)
      throw BookError(BookError::Kind::Version,
                      "the receipt book " + path + " was written by a newer Receiptora (version " +
                          std::to_string(current) + "); this one reads up to version " +
                          std::to_string(kBookVersion));
    while (current < kBookVersion) {
      Transaction migration(db_);
      const int again = version();  // another process may have migrated meanwhile
      if (again == current) {
        exec(db_, kMigrations[current]);
        exec(db_, ("PRAGMA user_version=" + std::to_string(current + 1)).c_str());
      }
      migration.commit();
      current = version();
    }
  } catch (...) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

Book::~Book() { sqlite3_close(db_); }

int Book::version() const {
  Statement query(db_, "PRAGMA user_version");
  return query.step() ? static_cast<int>(query.integer(0)) : 0;
}

std::string claim_receipt(Book& book, Record& record) {
  check_iso_day(record.date);
  const Day day = day_of(record);
  std::lock_guard lock(book.mutex());
  Transaction transaction(book.db());
  Statement highest(book.db(), "SELECT coalesce(max(seq), 0) FROM receipts WHERE day = ?");
  highest.bind(1, record.date);
  highest.step();
  record.number = receipt_number(day, static_cast<int>(highest.integer(0)) + 1);
  insert_rows(book.db(), record, highest.integer(0) + 1);
  transaction.commit();
  return record.number;
}

bool insert_record(Book& book, const Record& record) { return insert_records(book, {record}) == 1; }

size_t insert_records(Book& book, const std::vector<Record>& records) {
  for (const Record& record : records) check_iso_day(record.date);
  std::lock_guard lock(book.mutex());
  Transaction transaction(book.db());
  Statement exists(book.db(), "SELECT 1 FROM receipts WHERE number = ?");
  size_t added = 0;
  for (const Record& record : records) {
    exists.bind(1, record.number);
    const bool known = exists.step();
    exists.reset();
    if (known) continue;
    insert_rows(book.db(), record, sequence_of(record.number));
    ++added;
  }
  transaction.commit();
  return added;
}

void mark_issued(Book& book, const std::string& number, const std::vector<BookFile>& files,
                 const std::string& issued_at) {
  std::lock_guard lock(book.mutex());
  Transaction transaction(book.db());
  Statement update(book.db(), "UPDATE receipts SET state = 'issued', issued_at = ? WHERE number = ?");
  update.bind(1, issued_at).bind(2, number).run();
  if (sqlite3_changes(book.db()) == 0)
    throw BookError(BookError::Kind::Unknown, "no receipt " + number + " in the book");
  Statement file(book.db(), "INSERT OR REPLACE INTO files(number, name, sha256, kind) VALUES (?,?,?,?)");
  for (const BookFile& f : files)
    file.bind(1, number).bind(2, f.name).bind(3, f.sha256).bind(4, f.kind).run();
  transaction.commit();
}

void mark_ledger_written(Book& book, const std::vector<std::string>& numbers) {
  std::lock_guard lock(book.mutex());
  Transaction transaction(book.db());
  Statement update(book.db(), "UPDATE receipts SET ledger_written = 1 WHERE number = ?");
  for (const std::string& number : numbers) update.bind(1, number).run();
  transaction.commit();
}

void mark_unfinished(Book& book, const std::string& number, const std::string& reason) {
  std::lock_guard lock(book.mutex());
  Transaction transaction(book.db());
  Statement update(book.db(),
                   "UPDATE receipts SET state = 'unfinished', unfinished_reason = ? WHERE number = ? AND "
                   "state = 'pending'");
  update.bind(1, reason).bind(2, number).run();
  transaction.commit();
}

void mark_void(Book& book, const std::string& number, const std::string& reason, const std::string& voided_at,
               const BookFile& copy) {
  std::lock_guard lock(book.mutex());
  Transaction transaction(book.db());
  Statement state(book.db(), "SELECT state FROM receipts WHERE number = ?");
  state.bind(1, number);
  if (!state.step())
    throw BookError(BookError::Kind::Unknown, "there is no receipt " + number + " in the book");
  const std::string now = state.text(0);
  if (now == "void")
    throw BookError(BookError::Kind::AlreadyVoid, "the receipt " + number + " is already void");
  if (now != "issued")
    throw BookError(BookError::Kind::NotIssued, "the receipt " + number + " was never issued (" + now + ")");
  Statement update(book.db(),
                   "UPDATE receipts SET state = 'void', voided_at = ?, void_reason = ?, ledger_written = 0 "
                   "WHERE number = ?");
  update.bind(1, voided_at).bind(2, reason).bind(3, number).run();
  if (!copy.name.empty()) {
    Statement file(book.db(), "INSERT OR REPLACE INTO files(number, name, sha256, kind) VALUES (?,?,?,?)");
    file.bind(1, number).bind(2, copy.name).bind(3, copy.sha256).bind(4, copy.kind).run();
  }
  transaction.commit();
}

void add_file(Book& book, const std::string& number, const BookFile& file) {
  std::lock_guard lock(book.mutex());
  Transaction transaction(book.db());
  Statement exists(book.db(), "SELECT 1 FROM receipts WHERE number = ?");
  exists.bind(1, number);
  if (!exists.step())
    throw BookError(BookError::Kind::Unknown, "there is no receipt " + number + " in the book");
  Statement insert(book.db(), "INSERT OR REPLACE INTO files(number, name, sha256, kind) VALUES (?,?,?,?)");
  insert.bind(1, number).bind(2, file.name).bind(3, file.sha256).bind(4, file.kind).run();
  transaction.commit();
}

std::optional<Record> find_receipt(const Book& book, const std::string& number) {
  auto found = select_records(book, "WHERE number = ?", number);
  if (found.empty()) return std::nullopt;
  return std::move(found.front());
}

std::vector<Record> records_in_state(const Book& book, State state) {
  return select_records(book, "WHERE state = ?", std::string(state_name(state)));
}

std::vector<Record> records_without_ledger_line(const Book& book) {
  return select_records(book, "WHERE ledger_written = 0 AND state != 'pending'");
}

std::vector<Record> all_records(const Book& book) { return select_records(book, ""); }

std::vector<std::string> issued_batch_keys(const Book& book, const std::vector<std::string>& keys) {
  std::lock_guard lock(book.mutex());
  Statement query(book.db(),
                  "SELECT 1 FROM receipts WHERE batch_key = ? AND state IN ('issued', 'void') LIMIT 1");
  std::vector<std::string> out;
  for (const std::string& key : keys) {
    query.bind(1, key);
    if (query.step()) out.push_back(key);
    query.reset();
  }
  return out;
}

std::optional<std::string> book_setting(const Book& book, const std::string& key) {
  std::lock_guard lock(book.mutex());
  Statement query(book.db(), "SELECT value FROM settings WHERE key = ?");
  query.bind(1, key);
  if (!query.step()) return std::nullopt;
  return query.text(0);
}

void set_book_setting(Book& book, const std::string& key, const std::string& value) {
  std::lock_guard lock(book.mutex());
  Statement update(book.db(), "INSERT OR REPLACE INTO settings(key, value) VALUES (?, ?)");
  update.bind(1, key).bind(2, value).run();
}

std::vector<ListRow> list_receipts(const Book& book, const std::string& month, const std::string& search) {
  std::string sql = "SELECT number, day, buyer, buyer_tax_id, total, state FROM receipts WHERE 1";
  const int month_at = month.empty() ? 0 : 1;
  const int search_at = search.empty() ? 0 : month_at ? 3 : 1;
  if (month_at) sql += " AND day BETWEEN ?1 AND ?2";
  if (search_at) {
    const std::string p = "?" + std::to_string(search_at);
    sql += " AND (instr(number, " + p + ") OR instr(buyer, " + p + ") OR instr(buyer_tax_id, " + p + "))";
  }
  sql += " ORDER BY day, seq";
  std::lock_guard lock(book.mutex());
  Statement rows(book.db(), sql);
  if (month_at) rows.bind(month_at, month + "-00").bind(month_at + 1, month + "-99");
  if (search_at) rows.bind(search_at, search);
  std::vector<ListRow> out;
  std::unordered_map<std::string, size_t> at;
  while (rows.step()) {
    at.emplace(rows.text(0), out.size());
    out.push_back({rows.text(0),
                   rows.text(1),
                   rows.text(2),
                   rows.text(3),
                   rows.text(4),
                   state_from_name(rows.text(5)).value_or(State::Pending),
                   {}});
  }
  if (out.empty()) return out;
  // The files of the month's numbers ("收據-YYYYMM…") in one range scan, in the order added.
  std::string files_sql = "SELECT number, name FROM files";
  if (month_at) files_sql += " WHERE number BETWEEN ?1 AND ?2";
  Statement files(book.db(), files_sql + " ORDER BY rowid");
  if (month_at) {
    const std::string digits = month.substr(0, 4) + month.substr(month.size() >= 7 ? 5 : 4);
    files.bind(1, "收據-" + digits).bind(2, "收據-" + digits + "\xff");
  }
  while (files.step()) {
    const auto found = at.find(files.text(0));
    if (found != at.end()) out[found->second].files.push_back(files.text(1));
  }
  return out;
}

Summary summarize(const Book& book, const std::string& first_day, const std::string& last_day) {
  std::lock_guard lock(book.mutex());
  Statement rows(
      book.db(),
      "SELECT day, state, total FROM receipts INDEXED BY receipts_by_day WHERE day BETWEEN ? AND ? "
      "AND state IN ('issued', 'void') ORDER BY day");
  rows.bind(1, first_day).bind(2, last_day);
  Summary summary;
  mpz_class total = 0, day_total = 0, amount;
  DayTotal* day = nullptr;
  while (rows.step()) {
    if (rows.text(1) == "void") {
      ++summary.voided;
      continue;
    }
    std::string date = rows.text(0);
    if (!day || day->date != date) {
      if (day) day->total = day_total.get_str();
      summary.days.push_back({std::move(date), 0, "0"});
      day = &summary.days.back();
      day_total = 0;
    }
    if (amount.set_str(rows.text(2), 10) != 0) amount = 0;
    ++day->receipts;
    ++summary.receipts;
    day_total += amount;
    total += amount;
  }
  if (day) day->total = day_total.get_str();
  summary.total = total.get_str();
  return summary;
}

std::vector<MonthTotal> monthly_totals(const Book& book, const std::string& first_month, int count) {
  int year, month;
  if (first_month.size() != 7 || std::sscanf(first_month.c_str(), "%4d-%2d", &year, &month) != 2 ||
      month < 1 || month > 12)
    throw std::invalid_argument("not a month (YYYY-MM): " + first_month);
  std::vector<MonthTotal> out;
  std::lock_guard lock(book.mutex());
  Statement rows(
      book.db(),
      "SELECT total FROM receipts INDEXED BY receipts_by_day WHERE day BETWEEN ? AND ? AND state = "
      "'issued'");
  for (int i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%04d-%02d", year, month);
    rows.bind(1, std::string(name) + "-00").bind(2, std::string(name) + "-99");
    MonthTotal entry{name, 0, "0"};
    mpz_class total = 0, amount;
    while (rows.step()) {
      if (amount.set_str(rows.text(0), 10) != 0) amount = 0;
      total += amount;
      ++entry.receipts;
    }
    rows.reset();
    entry.total = total.get_str();
    out.push_back(std::move(entry));
    if (++month > 12) month = 1, ++year;
  }
  return out;
}

}  // namespace receiptora::store
