// Verifying a receipt from what a buyer has of it: the PDF, a picture of it (a scan, a phone
// photo) or the text of its code. The code's signature is checked against the shop's public
// key (the output folder's book, or a verification card); a PDF's printed number, date and
// total are compared with the signed ones; where the book is at hand, the receipt must be in
// it with the content that was signed, and a void one is said to be void.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace receiptora::verify {

namespace fs = std::filesystem;

// The texts of the QR codes in a picture (PNG, JPEG, any picture GdkPixbuf reads), turned
// upright by its EXIF orientation. Throws std::runtime_error (in Chinese) when it cannot be read.
std::vector<std::string> codes_in_picture(const fs::path& file);
// The same for a picture in memory, grey, one byte per pixel.
std::vector<std::string> codes_in_grey(const unsigned char* pixels, int width, int height);

struct PdfContents {
  std::vector<std::string> codes;  // of every page
  std::string text;                // every page's text, as a reader extracts it
  // What each 合計 line prints right of the word, in reading order along the line (the
  // text's order alone depends on the layout: a 備註 column puts the figures elsewhere).
  std::vector<std::string> totals;
};
PdfContents read_pdf(const fs::path& file);

// The verification card's QR code: RK1.<seller>.<public key in base32>.
std::string card_code(const std::string& seller, const std::string& public_key);
// The public key a card's code holds, or empty.
std::string key_of_card_code(const std::string& text);

// Writes the shop's verification card, 驗證卡.pdf and 驗證卡.png, into `folder` (replacing an
// older card): the seller profile's name and 統一編號, the public key as a QR code and its
// fingerprint. The folder's key is made when it has none. Returns the two files.
std::vector<fs::path> write_key_card(const fs::path& folder);

struct KeyChoice {
  std::string public_key;  // raw
  std::string where;       // what the answer says about it: 輸出資料夾的金鑰, 驗證卡 …
};
// The key to verify with: `key_argument` empty → the folder's book's key; a file → a
// verification card (picture or PDF); else a fingerprint, which the folder's key must have.
// Throws std::runtime_error (in Chinese) when there is none.
KeyChoice choose_key(const fs::path& folder, const std::string& key_argument);

struct Answer {
  bool genuine = false;
  std::string text;  // 「真的：…」 or 「不符：…」 / 「已作廢：…」, with the key used
};
// Verifies `input` (a file, or a code's text) with `key`; `folder`'s book, when it has one,
// must hold the receipt as signed.
Answer verify(const std::string& input, const KeyChoice& key, const fs::path& folder);

}  // namespace receiptora::verify
