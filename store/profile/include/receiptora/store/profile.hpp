// The seller profile 賣方資料.toml in the output folder: the shop's own details printed on
// every receipt. Read for each receipt, so an edit applies at once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "receiptora/receipt.hpp"
#include "receiptora/store/shop_files.hpp"

namespace receiptora::store {

namespace fs = std::filesystem;

// Characters of one field; more is refused like a typed field that is too long.
inline constexpr size_t kFieldLimit = 5000;
// Pixels of a stamp picture (25 megapixels): more is refused before it is decoded.
inline constexpr std::uint64_t kPictureLimit = 25'000'000;
// Bytes read of a profile and of a stamp picture at most.
inline constexpr std::uint64_t kProfileBytesLimit = 1 << 20;
inline constexpr std::uint64_t kPictureBytesLimit = 256 << 20;

// The profile holds exactly what the receipt prints of the seller.
using SellerDetails = SellerProfile;

// 使用統一發票標準 when the profile does not set it: the monthly sales, in NT$, from which a
// business is expected to issue uniform invoices instead of these receipts.
inline constexpr long long kDefaultInvoiceStandard = 200000;

struct ProfileRead {
  SellerDetails seller;     // what is valid; the rest stays empty
  bool auto_print = false;  // 自動列印 = "是": print each receipt the worker saves
  long long invoice_standard = kDefaultInvoiceStandard;  // 使用統一發票標準, NT$ per month
  std::vector<std::string> problems;                     // one sentence each, naming the file
};

// A profile's bytes as UTF-8, as a shop's machine saves it: UTF-8 with or without a
// byte-order mark, UTF-16 with its mark (either byte order), or CP950 (Big5 as Notepad's
// "ANSI" writes it on a Taiwanese Windows). Nothing when the bytes are none of these.
std::optional<std::string> profile_text_utf8(std::string_view bytes);

// The text of a new profile: every field empty, a comment for each.
std::string profile_template();

// Reads folder/賣方資料.toml, first creating it from the template when it does not exist.
// Never throws for a bad profile: bad TOML, or a profile that is no regular file (a symbolic
// link, a FIFO, a device), leaves every field empty; a field of the wrong type, over
// kFieldLimit characters, a 統一編號 that fails its checksum or a stamp picture the renderer
// could not draw (not a regular file, not a PNG that decodes, over kPictureLimit pixels) is
// left out; an unknown key is ignored. Each is named in `problems`. Relative image paths are
// taken from the profile's folder.
ProfileRead read_profile(const fs::path& folder);

}  // namespace receiptora::store
