// The shop's signature on its receipts. Each output folder has an Ed25519 key (OpenSSL), made
// on first use and kept beside the book, readable by its owner only; the book keeps the public
// key. Every receipt gets a code: a short text that a QR code carries, holding what a buyer
// checks (seller, number and day, total, item count), a hash of the receipt's full content, a
// link to the receipt signed before it (a chain) and the signature over all of it. The code
// verifies from its text alone, given the shop's public key.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "receiptora/store/book.hpp"

namespace receiptora::store {

namespace fs = std::filesystem;

inline constexpr std::string_view kKeyName = "收據簽章金鑰.pem";
// The code's first field: which layout of fields follows.
inline constexpr std::string_view kCodeVersion = "R1";
inline constexpr std::size_t kHashBytes = 16;       // content hash and chain link
inline constexpr std::size_t kSignatureBytes = 64;  // Ed25519
inline constexpr std::size_t kPublicKeyBytes = 32;

// A key file that may not be used (a link, readable by others, damaged), in Chinese.
class KeyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ShopKey {
 public:
  // The key of `folder`, made there on first use when `make` (0600, never replacing a file
  // another process made meanwhile). Throws KeyError for a key file that is missing (and not
  // to be made), a symbolic link or not a regular file, readable or writable by others, or
  // not an Ed25519 private key.
  static std::shared_ptr<const ShopKey> of_folder(const fs::path& folder, bool make = true);
  // A key in memory only.
  static std::shared_ptr<const ShopKey> generate();
  ~ShopKey();
  ShopKey(const ShopKey&) = delete;
  ShopKey& operator=(const ShopKey&) = delete;

  const std::string& public_key() const { return public_; }  // 32 raw bytes
  std::string fingerprint() const;
  std::string sign(std::string_view message) const;  // 64 raw bytes

 private:
  explicit ShopKey(void* pkey);
  void* pkey_;  // EVP_PKEY
  std::string public_;
};

// "3F2A-91C0-…": the first 16 bytes of the public key's SHA-256 as 8 groups of 4 hex digits.
std::string fingerprint_of(std::string_view public_key);
// A fingerprint as typed (any case, with or without dashes or spaces) in its standard form;
// empty when it is not 32 hex digits.
std::string normal_fingerprint(std::string_view typed);
bool signature_valid(std::string_view public_key, std::string_view message, std::string_view signature);

// RFC 4648 base32 without padding: upper case letters and digits, which a QR code holds in its
// compact alphanumeric mode. decode gives nullopt for a character outside the alphabet.
std::string base32_encode(std::string_view bytes);
std::optional<std::string> base32_decode(std::string_view text);

struct Code {
  std::string seller;  // the seller's 統一編號, or the key's fingerprint (no dashes) without one
  std::string number;  // 收據-20261208-003; its middle part is the receipt's day
  std::string total;   // decimal text
  std::size_t items = 0;
  std::string content;       // kHashBytes of the content hash
  std::string previous;      // kHashBytes of the previous signature's hash (zeros for the first)
  std::string signature;     // kSignatureBytes
  std::string date() const;  // YYYY-MM-DD, from the number
};
// R1.22099131.20261208-003.1860.3.<content>.<previous>.<signature>, binary fields in base32.
std::string code_text(const Code& code);
// What the signature covers: the text up to (not including) the last dot.
std::string signed_part(const Code& code);
std::optional<Code> parse_code(std::string_view text);
// Whether `public_key` signed the code as it reads.
bool code_signed_by(const Code& code, std::string_view public_key);

// The hash of everything the receipt says: number, day, seller, buyer, 統一編號, items with
// amounts and notes, total, template and stamps (kHashBytes).
std::string content_hash(const Record& record);
// The link the next receipt carries: the hash of this one's signature (kHashBytes).
std::string chain_link(std::string_view signature);
// The signed code of `record`, following the receipt whose signature is `previous_signature`
// (empty for the first).
Code sign_record(const ShopKey& key, const Record& record, std::string_view previous_signature);

// Gives `book` its signer: the folder's key, whose public key the book records the first time
// (a book recording another key refuses it with KeyError). Receipts of the book not yet signed
// are signed in number order in one transaction, after the chain's end; the book notes which
// they were (chain_batch_note). From then on every claimed or imported record is signed in the
// transaction that stores it. Safe to call again.
void attach_key(Book& book, std::shared_ptr<const ShopKey> key);
// The public key the book records (raw), empty when none.
std::string book_public_key(const Book& book);
// Says which receipts were signed together when the book first got its key; empty if none.
std::string chain_batch_note(const Book& book);

// The chain walked from the first signed receipt to the last: each record's code is signed by
// the book's key, says what the record says (number, total, items, content hash), and links to
// the receipt signed before it. A record removed, a total changed in the database or a record
// signed by another key breaks it; the walk names the first receipt where it breaks.
struct ChainReport {
  std::size_t links = 0;             // signed receipts that verify, up to the first break
  std::size_t unsigned_records = 0;  // records without a code (none once the book has its key)
  std::string broken_at;             // the first receipt where the chain breaks, or empty
  std::string problem;               // why, in Chinese
  bool whole() const { return broken_at.empty(); }
};
ChainReport verify_chain(const Book& book);

}  // namespace receiptora::store
