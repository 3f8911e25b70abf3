// A record and what it stands for: its state in words, the receipt it describes and back,
// where its files live, its ledger line; the files' SHA-256 and the time they are recorded at.
#include <gmpxx.h>
#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "receiptora/store/book.hpp"
#include "receiptora/local_time.hpp"
#include "receiptora/store/file_error.hpp"
#include "receiptora/templates.hpp"

namespace receiptora::store {

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

std::string now_iso() { return local_iso_timestamp_with_zone(); }

}  // namespace receiptora::store
