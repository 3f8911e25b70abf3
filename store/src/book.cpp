#include "receiptora/store/book.hpp"

#include <gmpxx.h>
#include <openssl/evp.h>
#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <unordered_map>
#include <system_error>
#include <thread>
#include <utility>

#include "book_sql.hpp"
#include "receiptora/templates.hpp"

namespace receiptora::store {

using sql::exec;
using sql::Statement;
using sql::Transaction;

namespace {

// Trigger steps the counts' migration uses more than once. An item counted once more (the
// upsert's ON CONFLICT clause): its last unit price is that of its latest receipt, by day and
// number of the day (as text, 收據-…-1000 would sort before 收據-…-999).
#define RECEIPTORA_LATER_RECEIPT                                            \
  "(SELECT day, seq FROM receipts WHERE number = excluded.last_number) >= " \
  "(SELECT day, seq FROM receipts WHERE number = item_uses.last_number)"
#define RECEIPTORA_ITEM_USED                                                                           \
  " ON CONFLICT(name) DO UPDATE SET uses = uses + 1, unit_price = CASE WHEN " RECEIPTORA_LATER_RECEIPT \
  " THEN excluded.unit_price ELSE unit_price END, last_day = max(last_day, excluded.last_day), "       \
  "last_number = CASE WHEN " RECEIPTORA_LATER_RECEIPT " THEN excluded.last_number ELSE last_number END;\n"
// The buyer and the items of the receipt NEW, issued now, counted.
#define RECEIPTORA_RECEIPT_USED                                                                              \
  "\n INSERT INTO buyer_uses(buyer, tax_id, uses, last_day) SELECT NEW.buyer, NEW.buyer_tax_id, 1, NEW.day " \
  "WHERE NEW.buyer <> '' ON CONFLICT(buyer, tax_id) DO UPDATE SET uses = uses + 1, "                         \
  "last_day = max(last_day, excluded.last_day);\n"                                                           \
  " INSERT INTO item_uses(name, uses, last_day, last_number, unit_price) SELECT name, 1, NEW.day, "          \
  "NEW.number, unit_price FROM items WHERE number = NEW.number AND name <> '' ORDER BY "                     \
  "line" RECEIPTORA_ITEM_USED

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
    // The order's 收據 value kept with a batch receipt; a batch key belongs to one record only
    // (keys repeated by older versions' --again stay with the first record that has them).
    R"sql(
ALTER TABLE receipts ADD COLUMN order_label TEXT NOT NULL DEFAULT '';
UPDATE receipts SET batch_key = NULL WHERE batch_key IS NOT NULL AND rowid NOT IN
  (SELECT min(rowid) FROM receipts WHERE batch_key IS NOT NULL GROUP BY batch_key);
DROP INDEX receipts_by_batch_key;
CREATE UNIQUE INDEX receipts_by_batch_key ON receipts(batch_key) WHERE batch_key IS NOT NULL;
)sql",
    // The buyers and items of issued receipts, counted for the window's suggestions: how often,
    // how lately, and (for an item) the unit price it last had. Triggers keep the counts in the
    // transaction that changes a receipt, whichever code path that is (issuing, recovery, an
    // import, void); `hidden` is the operator's choice and outlives the counts. The migration
    // counts what the book already holds. A receipt's row is written before its items.
    R"sql(
CREATE TABLE buyer_uses(
  buyer TEXT NOT NULL,
  tax_id TEXT NOT NULL,
  uses INTEGER NOT NULL DEFAULT 0,
  last_day TEXT NOT NULL DEFAULT '',
  hidden INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY(buyer, tax_id)
) WITHOUT ROWID;
CREATE TABLE item_uses(
  name TEXT PRIMARY KEY,
  uses INTEGER NOT NULL DEFAULT 0,
  last_day TEXT NOT NULL DEFAULT '',
  last_number TEXT NOT NULL DEFAULT '',
  unit_price TEXT NOT NULL DEFAULT '',
  hidden INTEGER NOT NULL DEFAULT 0
) WITHOUT ROWID;
CREATE INDEX receipts_issued_by_buyer ON receipts(buyer, buyer_tax_id, day) WHERE state = 'issued';
CREATE INDEX items_by_name ON items(name, number);

INSERT INTO buyer_uses(buyer, tax_id, uses, last_day)
  SELECT buyer, buyer_tax_id, count(*), max(day) FROM receipts
  WHERE state = 'issued' AND buyer <> '' GROUP BY buyer, buyer_tax_id;
INSERT INTO item_uses(name, uses, last_day, last_number, unit_price)
  SELECT name, uses, day, number, unit_price FROM (
    SELECT i.name, count(*) AS uses, r.day, i.number, i.unit_price,
           max(i.number || ' ' || printf('%09d', i.line)) AS latest
    FROM items i JOIN receipts r ON r.number = i.number
    WHERE r.state = 'issued' AND i.name <> '' GROUP BY i.name);

CREATE TRIGGER receipt_issued_added AFTER INSERT ON receipts WHEN NEW.state = 'issued' BEGIN)sql" RECEIPTORA_RECEIPT_USED
    R"sql(END;
CREATE TRIGGER item_of_issued_added AFTER INSERT ON items
WHEN NEW.name <> '' AND (SELECT state FROM receipts WHERE number = NEW.number) = 'issued' BEGIN
  INSERT INTO item_uses(name, uses, last_day, last_number, unit_price)
    SELECT NEW.name, 1, day, NEW.number, NEW.unit_price FROM receipts WHERE number = NEW.number)sql" RECEIPTORA_ITEM_USED
    R"sql(END;
CREATE TRIGGER receipt_issued AFTER UPDATE OF state ON receipts
WHEN NEW.state = 'issued' AND OLD.state <> 'issued' BEGIN)sql" RECEIPTORA_RECEIPT_USED R"sql(END;
CREATE TRIGGER receipt_unissued AFTER UPDATE OF state ON receipts
WHEN OLD.state = 'issued' AND NEW.state <> 'issued' BEGIN
  UPDATE buyer_uses SET uses = uses - 1,
    last_day = CASE WHEN last_day <> OLD.day THEN last_day ELSE coalesce((SELECT max(day) FROM receipts
      WHERE buyer = OLD.buyer AND buyer_tax_id = OLD.buyer_tax_id AND state = 'issued'), '') END
  WHERE buyer = OLD.buyer AND tax_id = OLD.buyer_tax_id;
  UPDATE item_uses SET uses = uses - (SELECT count(*) FROM items WHERE number = OLD.number AND name = item_uses.name)
  WHERE name IN (SELECT name FROM items WHERE number = OLD.number);
  UPDATE item_uses SET (last_day, last_number, unit_price) = (
    SELECT r.day, r.number, i.unit_price FROM items i JOIN receipts r ON r.number = i.number
    WHERE i.name = item_uses.name AND r.state = 'issued' ORDER BY r.day DESC, r.seq DESC, i.line DESC LIMIT 1)
  WHERE last_number = OLD.number AND uses > 0 AND name IN (SELECT name FROM items WHERE number = OLD.number);
END;
)sql",
    // The batch run that issued a receipt (its result table's name stamp): what undoing a run
    // checks a result table against, and finds the run's receipts by when the table is gone.
    R"sql(
ALTER TABLE receipts ADD COLUMN run TEXT NOT NULL DEFAULT '';
CREATE INDEX receipts_by_run ON receipts(run) WHERE run <> '';
)sql",
    // Each receipt's signed code, its key's first fingerprint group and its place in the chain
    // of signatures (NULL until signed: the records of an older book are signed, in number
    // order, when the book first gets its key).
    R"sql(
ALTER TABLE receipts ADD COLUMN code TEXT NOT NULL DEFAULT '';
ALTER TABLE receipts ADD COLUMN key_id TEXT NOT NULL DEFAULT '';
ALTER TABLE receipts ADD COLUMN chain INTEGER;
CREATE UNIQUE INDEX receipts_by_chain ON receipts(chain) WHERE chain IS NOT NULL;
)sql",
    // A batch order's 收據 value found quickly: an order whose content changed since its
    // receipt was issued is held, which every claim of a batch asks the book.
    R"sql(
CREATE INDEX receipts_by_order ON receipts(order_label) WHERE order_label <> '';
)sql",
};
static_assert(std::size(kMigrations) == kBookVersion);
#undef RECEIPTORA_ITEM_USED
#undef RECEIPTORA_LATER_RECEIPT
#undef RECEIPTORA_RECEIPT_USED

void insert_rows(sqlite3* db, const Record& r, std::int64_t seq) {
  Statement insert(
      db,
      "INSERT INTO receipts(number, day, seq, state, buyer, buyer_tax_id, print_date, "
      "exemption_stamp, owner_seal, layout, created_at, seller_name, seller_tax_id, seller_owner, "
      "seller_address, seller_phone, seller_exemption_image, seller_seal_image, total, issued_at, "
      "voided_at, void_reason, unfinished_reason, batch_key, ledger_written, owner, order_label, run, code, "
      "key_id, chain) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
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
  text(template_info(r.layout).key);
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
  text(r.order_label);
  text(r.run);
  text(r.code);
  text(r.key_id);
  if (r.chain == 0)
    insert.bind_null(static_cast<int>(++i));
  else
    number(r.chain);
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

std::vector<Record> select_records(const Book& book, const std::string& where,
                                   const std::string& bound = {}) {
  std::lock_guard lock(book.mutex());
  Statement rows(book.db(),
                 "SELECT " + sql::record_columns(book) + " FROM receipts " + where + " ORDER BY day, seq");
  if (!bound.empty()) rows.bind(1, bound);
  std::vector<Record> out;
  while (rows.step()) out.push_back(sql::read_record(book.db(), rows));
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
    throw std::invalid_argument("日期不是 YYYY-MM-DD：" + day);
}

}  // namespace

namespace sql {

std::string record_columns(const Book& book) {
  return std::string(
             "number, day, state, buyer, buyer_tax_id, print_date, exemption_stamp, owner_seal, layout, "
             "created_at, seller_name, seller_tax_id, seller_owner, seller_address, seller_phone, "
             "seller_exemption_image, seller_seal_image, total, issued_at, voided_at, void_reason, "
             "unfinished_reason, batch_key, ledger_written, owner, ") +
         (book.version() >= 2 ? "order_label" : "''") + (book.version() >= 4 ? ", run" : ", ''") +
         (book.version() >= 5 ? ", code, key_id, coalesce(chain, 0)" : ", '', '', 0");
}

State row_state(sqlite3* db, std::string_view number, std::string_view name) {
  if (const std::optional<State> state = state_from_name(name)) return *state;
  throw BookError(BookError::Kind::Corrupt, "收據簿 " + file_of(db) + "：收據 " + std::string(number) +
                                                " 的狀態「" + std::string(name) + "」無法辨識，紀錄已損壞");
}

mpz_class row_total(sqlite3* db, std::string_view number, std::string_view total) {
  mpz_class amount;
  if (total.empty() || amount.set_str(std::string(total), 10) != 0)
    throw BookError(BookError::Kind::Corrupt, "收據簿 " + file_of(db) + "：收據 " + std::string(number) +
                                                  " 的總額「" + std::string(total) + "」不是數字，無法加總");
  return amount;
}

Record read_record(sqlite3* db, const Statement& row) {
  Record r;
  int i = 0;
  r.number = row.text(i++);
  r.date = row.text(i++);
  r.state = row_state(db, r.number, row.view(i++));
  r.buyer = row.text(i++);
  r.buyer_tax_id = row.text(i++);
  r.print_date = row.integer(i++) != 0;
  r.exemption_stamp = row.integer(i++) != 0;
  r.owner_seal = row.integer(i++) != 0;
  // A key this build does not know reads as the default template, as the column's default.
  const TemplateInfo* layout = template_of_key(row.view(i++));
  r.layout = layout ? layout->id : Template::General;
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
  r.order_label = row.text(i++);
  r.run = row.text(i++);
  r.code = row.text(i++);
  r.key_id = row.text(i++);
  r.chain = row.integer(i++);

  Statement items(db, "SELECT name, quantity, unit_price, note FROM items WHERE number = ? ORDER BY line");
  items.bind(1, r.number);
  while (items.step()) r.items.push_back({items.text(0), items.text(1), items.text(2), items.text(3)});
  Statement files(db, "SELECT name, sha256, kind FROM files WHERE number = ? ORDER BY rowid");
  files.bind(1, r.number);
  while (files.step()) r.files.push_back({files.text(0), files.text(1), files.text(2)});
  return r;
}

}  // namespace sql

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

Record record_from_receipt(const Receipt& receipt, Day day) {
  Record r;
  r.number = receipt.number;
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", day.year, day.month, day.day);
  r.date = date;
  r.buyer = receipt.buyer;
  r.buyer_tax_id = receipt.buyer_tax_id;
  mpz_class total = 0;
  for (const Item& item : receipt.items) {
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
    throw std::invalid_argument(record.number + " 的紀錄沒有有效的日期：" + record.date);
  return day;
}

Receipt receipt_from_record(const Record& record) {
  Receipt receipt;
  receipt.seller = record.seller;
  receipt.number = record.number;
  receipt.buyer = record.buyer;
  receipt.buyer_tax_id = record.buyer_tax_id;
  if (record.print_date) {
    const Day day = day_of(record);
    receipt.date = Date{day.year, day.month, day.day};
  }
  for (const BookItem& item : record.items) {
    Item out;
    out.name = item.name;
    if (out.quantity.set_str(item.quantity, 10) != 0 || out.unit_price.set_str(item.unit_price, 10) != 0)
      throw std::invalid_argument(record.number + " 的紀錄有不是數字的金額");
    out.note = item.note;
    receipt.items.push_back(std::move(out));
  }
  receipt.exemption_stamp = record.exemption_stamp;
  receipt.owner_seal = record.owner_seal;
  receipt.layout = record.layout;
  receipt.created_at = record.created_at;
  receipt.code = record.code;
  receipt.code_key = record.key_id;
  return receipt;
}

std::string stored_name(State state, const BookFile& file) {
  if (state != State::Void || file.kind != "original") return file.name;
  const size_t slash = file.name.rfind('/');
  if (slash == std::string::npos) return file.name;
  return file.name.substr(0, slash + 1) + std::string(kKeptOriginals) + file.name.substr(slash);
}

std::string stored_name(const Record& record, const BookFile& file) {
  return stored_name(record.state, file);
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
  line.layout = template_info(record.layout).name;
  line.state = state_label(record.state);
  if (record.state == State::Void) {  // the 作廢 line takes the amount back: SUM(總額) is the issued total
    if (!line.total.empty() && line.total != "0" && !line.total.starts_with('-')) line.total.insert(0, "-");
    line.reason = record.void_reason;
  }
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
  if (!in) throw FileError(errno ? errno : ENOENT, "無法讀取 " + file.string());
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw FileError(EIO, "無法讀取 " + file.string());
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
      Transaction migration(*this);
      const int again = read_version();  // another process may have migrated meanwhile
      if (again == current) {
        exec(db_, kMigrations[current]);
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
  insert_rows(book.db(), record, highest.integer(0) + 1);
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
    insert_rows(book.db(), signed_record, sequence_of(record.number));
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
  Statement file(book.db(), "INSERT OR REPLACE INTO files(number, name, sha256, kind) VALUES (?,?,?,?)");
  for (const BookFile& f : files)
    file.bind(1, number).bind(2, f.name).bind(3, f.sha256).bind(4, f.kind).run();
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

void insert_files(const Book& book, const std::string& number, const std::vector<BookFile>& files) {
  Statement file(book.db(), "INSERT OR REPLACE INTO files(number, name, sha256, kind) VALUES (?,?,?,?)");
  for (const BookFile& f : files)
    file.bind(1, number).bind(2, f.name).bind(3, f.sha256).bind(4, f.kind).run();
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
  insert_files(book, number, copy);
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
  insert_files(book, number, copy);
  place();
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

std::vector<std::string> record_numbers(const Book& book) {
  std::lock_guard lock(book.mutex());
  Statement rows(book.db(), "SELECT number FROM receipts");
  std::vector<std::string> out;
  while (rows.step()) out.push_back(rows.text(0));
  return out;
}

std::vector<Record> all_records(const Book& book) { return select_records(book, ""); }

std::vector<Record> records_of_run(const Book& book, const std::string& run) {
  if (book.version() < 4 || run.empty()) return {};
  return select_records(book, "WHERE run = ?", run);
}

void release_batch_keys(Book& book, const std::vector<std::string>& numbers) {
  std::lock_guard lock(book.mutex());
  Transaction transaction(book);
  Statement release(book.db(), "UPDATE receipts SET batch_key = NULL WHERE number = ? AND state = 'void'");
  for (const std::string& number : numbers) release.bind(1, number).run();
  transaction.commit();
}

std::vector<std::string> recorded_file_names(const Book& book) {
  std::lock_guard lock(book.mutex());
  Statement rows(book.db(), "SELECT name FROM files");
  std::vector<std::string> out;
  while (rows.step()) out.push_back(rows.text(0));
  return out;
}

bool adopt_files(Book& book, const std::string& number, const std::vector<BookFile>& files,
                 const std::function<bool(const BookFile&)>& still_there) {
  std::lock_guard lock(book.mutex());
  Transaction transaction(book);
  Statement file(book.db(), "INSERT OR IGNORE INTO files(number, name, sha256, kind) VALUES (?,?,?,?)");
  bool void_copy = false;
  for (const BookFile& f : files) {
    if (!still_there(f)) continue;  // a copy whose void or reprint failed and was taken back
    file.bind(1, number).bind(2, f.name).bind(3, f.sha256).bind(4, f.kind).run();
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

std::vector<KeyHolder> claimed_batch_keys(const Book& book, const std::vector<std::string>& keys) {
  std::lock_guard lock(book.mutex());
  Statement query(book.db(),
                  "SELECT number, state FROM receipts WHERE batch_key = ? AND state != 'unfinished'");
  std::vector<KeyHolder> out;
  for (const std::string& key : keys) {
    query.bind(1, key);
    if (query.step())
      out.push_back({key, query.text(0), sql::row_state(book.db(), query.view(0), query.view(1))});
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
  Transaction transaction(book);
  Statement update(book.db(), "INSERT OR REPLACE INTO settings(key, value) VALUES (?, ?)");
  update.bind(1, key).bind(2, value).run();
  transaction.commit();
}

std::vector<ListRow> list_receipts(const Book& book, const std::string& month, const std::string& search) {
  const std::string order = book.version() >= 2 ? "order_label" : "''";
  std::string sql =
      "SELECT number, day, buyer, buyer_tax_id, total, state, " + order + " FROM receipts WHERE 1";
  const int month_at = month.empty() ? 0 : 1;
  const int search_at = search.empty() ? 0 : month_at ? 3 : 1;
  if (month_at) sql += " AND day BETWEEN ?1 AND ?2";
  if (search_at) {
    const std::string p = "?" + std::to_string(search_at);
    sql += " AND (instr(number, " + p + ") OR instr(buyer, " + p + ") OR instr(buyer_tax_id, " + p +
           ") OR instr(" + order + ", " + p + "))";
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
                   sql::row_state(book.db(), rows.view(0), rows.view(5)),
                   {},
                   rows.text(6)});
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

namespace {

// The receipt number of a row read through an index that does not hold it: only for a message.
std::string number_at(const Book& book, std::int64_t rowid) {
  Statement number(book.db(), "SELECT number FROM receipts WHERE rowid = ?");
  number.bind(1, rowid);
  return number.step() ? number.text(0) : "（第 " + std::to_string(rowid) + " 列）";
}

// A summed row's state and total, from columns `state` and `total`; its rowid, in column `rowid`,
// names the record only when one cannot be read.
State counted_state(const Book& book, const Statement& row, int state, int rowid) {
  if (const std::optional<State> known = state_from_name(row.view(state))) return *known;
  return sql::row_state(book.db(), number_at(book, row.integer(rowid)), row.view(state));
}
mpz_class counted_total(const Book& book, const Statement& row, int total, int rowid) {
  mpz_class amount;
  if (!row.view(total).empty() && amount.set_str(row.text(total), 10) == 0) return amount;
  return sql::row_total(book.db(), number_at(book, row.integer(rowid)), row.view(total));
}

}  // namespace

Summary summarize(const Book& book, const std::string& first_day, const std::string& last_day) {
  std::lock_guard lock(book.mutex());
  // Every state of the days read, so a state no build knows is seen; the index holds the rows.
  Statement rows(
      book.db(),
      "SELECT day, state, total, rowid FROM receipts INDEXED BY receipts_by_day WHERE day BETWEEN ? "
      "AND ? ORDER BY day");
  rows.bind(1, first_day).bind(2, last_day);
  Summary summary;
  mpz_class total = 0, day_total = 0, amount;
  DayTotal* day = nullptr;
  while (rows.step()) {
    const State state = counted_state(book, rows, 1, 3);
    if (state == State::Void) ++summary.voided;
    if (state != State::Issued) continue;
    std::string date = rows.text(0);
    if (!day || day->date != date) {
      if (day) day->total = day_total.get_str();
      summary.days.push_back({std::move(date), 0, "0"});
      day = &summary.days.back();
      day_total = 0;
    }
    amount = counted_total(book, rows, 2, 3);
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
    throw std::invalid_argument("月份不是 YYYY-MM：" + first_month);
  std::vector<MonthTotal> out;
  std::lock_guard lock(book.mutex());
  Statement rows(
      book.db(),
      "SELECT state, total, rowid FROM receipts INDEXED BY receipts_by_day WHERE day BETWEEN ? AND ?");
  for (int i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%04d-%02d", year, month);
    rows.bind(1, std::string(name) + "-00").bind(2, std::string(name) + "-99");
    MonthTotal entry{name, 0, "0"};
    mpz_class total = 0;
    while (rows.step()) {
      if (counted_state(book, rows, 0, 2) != State::Issued) continue;
      total += counted_total(book, rows, 1, 2);
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
