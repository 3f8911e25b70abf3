// The seller profile 賣方資料.toml in the output folder: the shop's own details printed on
// every receipt. Read for each receipt, so an edit applies at once.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace receiptora::store {

namespace fs = std::filesystem;

inline constexpr std::string_view kProfileName = "賣方資料.toml";

struct SellerDetails {
  std::string name;                   // 商號名稱
  std::string tax_id;                 // 統一編號
  std::string owner;                  // 負責人
  std::string address;                // 地址
  std::string phone;                  // 電話
  std::string exemption_stamp_image;  // 免用統一發票章圖檔, absolute
  std::string owner_seal_image;       // 負責人章圖檔, absolute
};

struct ProfileRead {
  SellerDetails seller;               // what is valid; the rest stays empty
  std::vector<std::string> problems;  // one sentence each, naming the file
};

// The text of a new profile: every field empty, a comment for each.
std::string profile_template();

// Reads folder/賣方資料.toml, first creating it from the template when it does not exist.
// Never throws for a bad profile: bad TOML leaves every field empty; a field of the wrong
// type, a 統一編號 that fails its checksum or a stamp image that is not a readable PNG is
// left out; an unknown key is ignored. Each is named in `problems`. Relative image paths are
// taken from the profile's folder.
ProfileRead read_profile(const fs::path& folder);

}  // namespace receiptora::store
