// The shop's signature, in this order: the key (a folder's key file, made on first use,
// signing, fingerprints); the code's text (base32, parsing, what is signed); a record signed
// (its content hash, its link in the chain, signed as the book stores it); the book's key
// attached and older records signed; the chain walked by verify_chain.
#include "receiptora/store/signing.hpp"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>

#include "book_sql.hpp"
#include "platform.hpp"
#include "receiptora/templates.hpp"

namespace receiptora::store {

namespace {

EVP_PKEY* pkey(void* p) { return static_cast<EVP_PKEY*>(p); }

std::string sha256(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 failed");
  return std::string(reinterpret_cast<const char*>(digest), size);
}

std::string raw_public_key(EVP_PKEY* key) {
  std::string out(kPublicKeyBytes, '\0');
  size_t size = out.size();
  if (EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(out.data()), &size) != 1 ||
      size != kPublicKeyBytes)
    throw KeyError("簽章金鑰不是 Ed25519 金鑰");
  return out;
}

std::string hex(std::string_view bytes, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

// Length-prefixed, so no two different contents give the same bytes.
void field(std::string& out, std::string_view value) {
  out += std::to_string(value.size());
  out += ':';
  out += value;
}

std::string pem_of(EVP_PKEY* key) {
  BIO* bio = BIO_new(BIO_s_mem());
  if (!bio) throw std::bad_alloc();
  std::string out;
  if (PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) == 1) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    out.assign(data, static_cast<size_t>(size));
  }
  BIO_free(bio);
  if (out.empty()) throw std::runtime_error("無法寫出簽章金鑰");
  return out;
}

EVP_PKEY* key_from_pem(const std::string& pem, const fs::path& file) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (!bio) throw std::bad_alloc();
  EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  if (!key || EVP_PKEY_get_id(key) != EVP_PKEY_ED25519) {
    EVP_PKEY_free(key);
    throw KeyError("簽章金鑰 " + file.string() + " 已損壞或不是 Ed25519 私鑰，拒絕使用");
  }
  return key;
}

EVP_PKEY* new_key() {
  EVP_PKEY* key = nullptr;
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
  if (!context || EVP_PKEY_keygen_init(context) != 1 || EVP_PKEY_keygen(context, &key) != 1) {
    EVP_PKEY_CTX_free(context);
    throw std::runtime_error("無法產生簽章金鑰");
  }
  EVP_PKEY_CTX_free(context);
  return key;
}

// The key file, read only when it is a regular file private to its owner.
std::string read_key_file(const fs::path& file) {
  platform::File opened;
  try {
    opened = platform::open_regular(file, platform::Access::Read, "簽章金鑰");
  } catch (const std::system_error& error) {
    throw KeyError(error.what());
  }
  if (!platform::private_to_owner(opened, file))
    throw KeyError("簽章金鑰 " + file.string() +
                   " 其他使用者也能讀取，拒絕使用：請只讓擁有者讀寫（chmod 600），並確認金鑰沒有外流");
  return platform::read_all(opened, file, 64 * 1024);
}

}  // namespace

ShopKey::ShopKey(void* key) : pkey_(key), public_(raw_public_key(pkey(key))) {}
ShopKey::~ShopKey() { EVP_PKEY_free(pkey(pkey_)); }

std::shared_ptr<const ShopKey> ShopKey::generate() {
  return std::shared_ptr<const ShopKey>(new ShopKey(new_key()));
}

std::shared_ptr<const ShopKey> ShopKey::of_folder(const fs::path& folder, bool make) {
  const fs::path file = folder / std::string(kKeyName);
  std::error_code ec;
  const bool missing = !fs::exists(fs::symlink_status(file, ec));
  if (missing && !make)
    throw KeyError("簽章金鑰 " + file.string() +
                   " 不見了：收據簿已記錄這家店的公鑰，請從備份放回原來的金鑰檔，再開立收據");
  if (missing) {
    // Written under a private temporary name and renamed without replacing: two processes
    // making the key at once end with one key, the one that was first.
    EVP_PKEY* made = new_key();
    ShopKey key(made);
    const std::string pem = pem_of(made);
    platform::Temporary temporary = platform::create_private_temporary(folder, ".收據簽章金鑰-");
    try {
      platform::write_all(temporary.file, pem, temporary.path);
      platform::flush_file(temporary.file, temporary.path);
      temporary.file.close(temporary.path);
      if (!platform::rename_no_replace(temporary.path, file) && errno != EEXIST)
        platform::fail(errno, "無法存放簽章金鑰：", file);
    } catch (...) {
      platform::remove_file(temporary.path);
      throw;
    }
    platform::remove_file(temporary.path);
    platform::sync_folder(folder);
  }
  const std::string pem = read_key_file(file);
  return std::shared_ptr<const ShopKey>(new ShopKey(key_from_pem(pem, file)));
}

std::string ShopKey::fingerprint() const { return fingerprint_of(public_); }

std::string ShopKey::sign(std::string_view message) const {
  std::string out(kSignatureBytes, '\0');
  size_t size = out.size();
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  const bool ok = context && EVP_DigestSignInit(context, nullptr, nullptr, nullptr, pkey(pkey_)) == 1 &&
                  EVP_DigestSign(context, reinterpret_cast<unsigned char*>(out.data()), &size,
                                 reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
  EVP_MD_CTX_free(context);
  if (!ok || size != kSignatureBytes) throw std::runtime_error("無法簽章");
  return out;
}

std::string fingerprint_of(std::string_view public_key) {
  const std::string digits = hex(sha256(public_key).substr(0, 16), true);
  std::string out;
  for (size_t i = 0; i < digits.size(); i += 4) {
    if (i) out += '-';
    out += digits.substr(i, 4);
  }
  return out;
}

std::string normal_fingerprint(std::string_view typed) {
  std::string digits;
  for (char c : typed) {
    if (c == '-' || c == ' ') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    digits.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  if (digits.size() != 32) return {};
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i && i % 4 == 0) out.push_back('-');
    out.push_back(digits[i]);
  }
  return out;
}

bool signature_valid(std::string_view public_key, std::string_view message, std::string_view signature) {
  if (public_key.size() != kPublicKeyBytes || signature.size() != kSignatureBytes) return false;
  EVP_PKEY* key = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                              reinterpret_cast<const unsigned char*>(public_key.data()),
                                              public_key.size());
  if (!key) return false;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  const bool valid =
      context && EVP_DigestVerifyInit(context, nullptr, nullptr, nullptr, key) == 1 &&
      EVP_DigestVerify(context, reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
  EVP_MD_CTX_free(context);
  EVP_PKEY_free(key);
  return valid;
}

namespace {
constexpr char kBase32[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
}

std::string base32_encode(std::string_view bytes) {
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (unsigned char c : bytes) {
    buffer = (buffer << 8) | c;
    bits += 8;
    while (bits >= 5) {
      out.push_back(kBase32[(buffer >> (bits - 5)) & 31]);
      bits -= 5;
    }
  }
  if (bits > 0) out.push_back(kBase32[(buffer << (5 - bits)) & 31]);
  return out;
}

std::optional<std::string> base32_decode(std::string_view text) {
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (char c : text) {
    const char* at = std::strchr(kBase32, c);
    if (c == '\0' || !at) return std::nullopt;
    buffer = (buffer << 5) | static_cast<unsigned>(at - kBase32);
    bits += 5;
    if (bits >= 8) {
      out.push_back(static_cast<char>((buffer >> (bits - 8)) & 0xff));
      bits -= 8;
    }
  }
  return out;
}

std::string Code::date() const {
  // 收據-YYYYMMDD-NNN
  const size_t first = number.find('-');
  if (first == std::string::npos || number.size() < first + 9) return {};
  const std::string day = number.substr(first + 1, 8);
  return day.substr(0, 4) + "-" + day.substr(4, 2) + "-" + day.substr(6, 2);
}

namespace {
constexpr std::string_view kNumberPrefix = "收據-";
}

std::string signed_part(const Code& code) {
  std::string_view number = code.number;
  if (number.starts_with(kNumberPrefix)) number.remove_prefix(kNumberPrefix.size());
  std::string out(kCodeVersion);
  for (std::string_view part : {std::string_view(code.seller), number, std::string_view(code.total)}) {
    out += '.';
    out += part;
  }
  out += '.' + std::to_string(code.items) + '.' + base32_encode(code.content) + '.' +
         base32_encode(code.previous);
  return out;
}

std::string code_text(const Code& code) { return signed_part(code) + '.' + base32_encode(code.signature); }

std::optional<Code> parse_code(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.remove_suffix(1);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  std::vector<std::string_view> parts;
  for (size_t start = 0;;) {
    const size_t dot = text.find('.', start);
    parts.push_back(text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  if (parts.size() != 8 || parts[0] != kCodeVersion) return std::nullopt;
  auto digits = [](std::string_view s, bool sign) {
    if (sign && !s.empty() && s[0] == '-') s.remove_prefix(1);
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
  };
  Code code;
  code.seller = parts[1];
  const std::string_view number = parts[2];
  if (number.size() < 12 || !digits(number.substr(0, 8), false) || number[8] != '-' ||
      !digits(number.substr(9), false))
    return std::nullopt;
  code.number = std::string(kNumberPrefix) + std::string(number);
  if (!digits(parts[3], true) || !digits(parts[4], false) || parts[4].size() > 9) return std::nullopt;
  code.total = parts[3];
  code.items = std::stoul(std::string(parts[4]));
  const auto content = base32_decode(parts[5]), previous = base32_decode(parts[6]),
             signature = base32_decode(parts[7]);
  if (!content || !previous || !signature || content->size() != kHashBytes ||
      previous->size() != kHashBytes || signature->size() != kSignatureBytes)
    return std::nullopt;
  code.content = *content;
  code.previous = *previous;
  code.signature = *signature;
  return code;
}

bool code_signed_by(const Code& code, std::string_view public_key) {
  return signature_valid(public_key, signed_part(code), code.signature);
}

std::string content_hash(const Record& r) {
  std::string bytes("receipt-content-1");
  for (std::string_view value :
       {std::string_view(r.number), std::string_view(r.date), std::string_view(r.seller.name),
        std::string_view(r.seller.tax_id), std::string_view(r.seller.owner),
        std::string_view(r.seller.address), std::string_view(r.seller.phone), std::string_view(r.buyer),
        std::string_view(r.buyer_tax_id), template_info(r.layout).key,
        std::string_view(r.print_date ? "1" : "0"), std::string_view(r.exemption_stamp ? "1" : "0"),
        std::string_view(r.owner_seal ? "1" : "0"), std::string_view(r.total)})
    field(bytes, value);
  field(bytes, std::to_string(r.items.size()));
  for (const BookItem& item : r.items) {
    field(bytes, item.name);
    field(bytes, item.quantity);
    field(bytes, item.unit_price);
    field(bytes, item.note);
  }
  return sha256(bytes).substr(0, kHashBytes);
}

std::string chain_link(std::string_view signature) {
  if (signature.empty()) return std::string(kHashBytes, '\0');
  return sha256(signature).substr(0, kHashBytes);
}

Code sign_record(const ShopKey& key, const Record& record, std::string_view previous_signature) {
  Code code;
  code.seller = record.seller.tax_id.empty() ? normal_fingerprint(key.fingerprint()) : record.seller.tax_id;
  std::erase(code.seller, '-');
  code.number = record.number;
  code.total = record.total;
  code.items = record.items.size();
  code.content = content_hash(record);
  code.previous = chain_link(previous_signature);
  code.signature = key.sign(signed_part(code));
  return code;
}

namespace sql {

void sign_new_record(const Book& book, Record& record) {
  const std::shared_ptr<const ShopKey> key = book.signer();
  if (!key) return;
  Statement last(book.db(),
                 "SELECT code, chain FROM receipts WHERE chain IS NOT NULL ORDER BY chain DESC LIMIT 1");
  std::string previous;
  std::int64_t chain = 1;
  if (last.step()) {
    const std::optional<Code> before = parse_code(last.view(0));
    if (!before)
      throw BookError(BookError::Kind::Corrupt,
                      "收據簿 " + book.file().string() + "：驗證鏈最後一張的驗證碼無法讀取，無法接續簽章");
    previous = before->signature;
    chain = last.integer(1) + 1;
  }
  record.code = code_text(sign_record(*key, record, previous));
  record.key_id = key->fingerprint().substr(0, 4);
  record.chain = chain;
}

}  // namespace sql

std::string book_public_key(const Book& book) {
  const std::optional<std::string> stored = book_setting(book, "public_key");
  if (!stored) return {};
  return base32_decode(*stored).value_or("");
}

std::string chain_batch_note(const Book& book) { return book_setting(book, "chain_batch").value_or(""); }

void attach_key(Book& book, std::shared_ptr<const ShopKey> key) {
  if (book.signer()) return;
  const std::string stored = book_public_key(book);
  if (!stored.empty() && stored != key->public_key())
    throw KeyError("輸出資料夾的簽章金鑰（" + key->fingerprint() + "）不是收據簿記錄的金鑰（" +
                   fingerprint_of(stored) + "）：請放回原來的 " + std::string(kKeyName) + "（可從備份取回）");
  std::lock_guard lock(book.mutex());
  sql::Transaction transaction(book);
  if (stored.empty()) {
    sql::Statement set(book.db(), "INSERT OR REPLACE INTO settings(key, value) VALUES (?, ?)");
    set.bind(1, "public_key").bind(2, base32_encode(key->public_key())).run();
    set.bind(1, "key_fingerprint").bind(2, key->fingerprint()).run();
  }
  // Receipts of the book that nobody signed yet (issued before signing began, or by a build
  // without it): signed now in number order, after the chain's end.
  std::vector<Record> unsigned_records;
  {
    sql::Statement rows(book.db(), "SELECT " + sql::record_columns(book) +
                                       " FROM receipts WHERE chain IS NULL ORDER BY day, seq");
    while (rows.step()) unsigned_records.push_back(sql::read_record(book.db(), rows));
  }
  book.set_signer(key);
  try {
    sql::Statement update(book.db(), "UPDATE receipts SET code = ?, key_id = ?, chain = ? WHERE number = ?");
    for (Record& record : unsigned_records) {
      sql::sign_new_record(book, record);
      update.bind(1, record.code).bind(2, record.key_id).bind(3, record.chain).bind(4, record.number).run();
    }
    if (!unsigned_records.empty()) {
      const std::string note = unsigned_records.front().number + " 至 " + unsigned_records.back().number +
                               " 共 " + std::to_string(unsigned_records.size()) +
                               " 張在開始簽章前開立，於開始簽章時依號碼順序一次補簽；驗證鏈由此開始";
      sql::Statement set(book.db(), "INSERT OR REPLACE INTO settings(key, value) VALUES ('chain_batch', ?)");
      set.bind(1, note).run();
    }
    transaction.commit();
  } catch (...) {
    book.set_signer(nullptr);
    throw;
  }
}

ChainReport verify_chain(const Book& book) {
  ChainReport report;
  const std::string public_key = book.version() >= 5 ? book_public_key(book) : std::string();
  std::lock_guard lock(book.mutex());
  if (book.version() < 5) {
    sql::Statement count(book.db(), "SELECT count(*) FROM receipts");
    count.step();
    report.unsigned_records = static_cast<std::size_t>(count.integer(0));
    return report;
  }
  {
    sql::Statement count(book.db(), "SELECT count(*) FROM receipts WHERE chain IS NULL");
    count.step();
    report.unsigned_records = static_cast<std::size_t>(count.integer(0));
  }
  sql::Statement rows(book.db(), "SELECT " + sql::record_columns(book) +
                                     " FROM receipts WHERE chain IS NOT NULL ORDER BY chain");
  std::string previous_signature;
  std::int64_t previous_chain = 0;
  auto broken = [&](const Record& record, std::string problem) {
    report.broken_at = record.number;
    report.problem = std::move(problem);
  };
  while (rows.step()) {
    const Record record = sql::read_record(book.db(), rows);
    const std::optional<Code> code = parse_code(record.code);
    if (!code) {
      broken(record, "驗證碼無法讀取");
    } else if (public_key.empty() || !code_signed_by(*code, public_key)) {
      broken(record,
             public_key.empty() ? "收據簿沒有記錄公鑰" : "簽章不符：不是這家店的金鑰簽的，或驗證碼被改過");
    } else if (code->number != record.number || code->total != record.total ||
               code->items != record.items.size() || code->content != content_hash(record)) {
      broken(record, "收據簿裡的內容與簽章不符（號碼、總額、品項或內容被改過）");
    } else if (record.chain != previous_chain + 1 || code->previous != chain_link(previous_signature)) {
      broken(record, "驗證鏈在此斷開：前一張簽章的收據不見了或被換過");
    }
    if (!report.whole()) return report;
    ++report.links;
    previous_signature = code->signature;
    previous_chain = record.chain;
  }
  return report;
}

}  // namespace receiptora::store
