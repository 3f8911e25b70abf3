// A receipt, described once: plain data, no Python, no drawing. The worker and the batch
// command fill it from a receipt request and a seller profile; render/ draws it, store/ keeps
// it in the book.
#pragma once

#include <gmpxx.h>

#include <optional>
#include <string>
#include <vector>

namespace receiptora {

// The seller block and the stamps come from the shop's seller profile. Any field may be
// empty; an image path, when set, names a PNG (with transparency) drawn instead of the
// stamp the renderer would draw itself.
struct SellerProfile {
  std::string name;                   // 商號名稱
  std::string tax_id;                 // 統一編號
  std::string owner;                  // 負責人
  std::string address;                // 地址
  std::string phone;                  // 電話
  std::string exemption_stamp_image;  // 免用統一發票專用章 picture
  std::string owner_seal_image;       // 負責人章 picture
};

struct Item {
  std::string name;  // UTF-8, as typed
  mpz_class quantity;
  mpz_class unit_price;
  std::string note;  // 備註, usually empty
};

// A Gregorian calendar day; the receipt prints it as a Republic-of-China year.
struct Date {
  int year = 0;
  int month = 0;
  int day = 0;
};

// The receipt templates; their names and faces are in templates.hpp.
enum class Template { General, Cat };

// A copy made after issuing carries a mark, so nobody takes it for the original: a void
// copy shows a large red 作廢 with the reason and the void date, a reprint a small 補印
// with its count (第 2 次) and the reprint date.
struct Mark {
  enum class Kind { Void, Reprint };
  Kind kind = Kind::Reprint;
  Date date;           // the day of the void or the reprint
  std::string reason;  // why it was voided; empty for a reprint
  int count = 0;       // which reprint this is: 1 for the first (0: not counted)
};

struct Receipt {
  SellerProfile seller;
  std::string number;        // e.g. 收據-20261207-003, given by the caller
  std::string buyer;         // 買受人
  std::string buyer_tax_id;  // 買受人統一編號
  std::optional<Date> date;  // none: the date line keeps blanks to be written by hand
  std::vector<Item> items;
  bool exemption_stamp = false;  // 顯示免用統一發票章
  bool owner_seal = false;       // 顯示負責人章
  Template layout = Template::General;
  // The PDF's creation date, ISO 8601 ("2026-12-07T14:03:00", optionally with "+08:00");
  // empty: the local time of rendering.
  std::string created_at;
  std::optional<Mark> mark;  // none: the original receipt
  // The signed verification code, drawn as a QR code on every page with 驗證碼 and `code_key`
  // (the first group of the shop key's fingerprint) beside it; empty: no code.
  std::string code;
  std::string code_key;
};

}  // namespace receiptora
