// The book's rows read as records and written from them; the one insert of file rows.
#include "book_sql.hpp"

#include <optional>

#include "receiptora/templates.hpp"

namespace receiptora::store::sql {

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
  FileRows(db).add(r.number, r.files);
}

FileRows::FileRows(sqlite3* db, OnConflict conflict)
    : insert_(db, conflict == OnConflict::Replace
                      ? "INSERT OR REPLACE INTO files(number, name, sha256, kind) VALUES (?,?,?,?)"
                      : "INSERT OR IGNORE INTO files(number, name, sha256, kind) VALUES (?,?,?,?)") {}

void FileRows::add(std::string_view number, const BookFile& file) {
  insert_.bind(1, number).bind(2, file.name).bind(3, file.sha256).bind(4, file.kind).run();
}

void FileRows::add(std::string_view number, const std::vector<BookFile>& files) {
  for (const BookFile& file : files) add(number, file);
}

}  // namespace receiptora::store::sql
