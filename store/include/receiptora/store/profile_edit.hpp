// Saving the seller profile from the profile form: the operator's own comments and layout
// stay, only the values change.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "receiptora/store/profile.hpp"

namespace receiptora::store {

struct ProfileValues {
  SellerDetails seller;
  bool auto_print = false;
  long long invoice_standard = kDefaultInvoiceStandard;
};

// `text` with every field set to its value: the line that sets a field is rewritten in place
// (comments and other lines kept as they are); a field no line sets is added at the end.
std::string edited_profile(std::string_view text, const ProfileValues& values);

// Writes folder/賣方資料.toml from the file as it is (the template when there is none) with
// the new values: a temporary file, flushed, renamed over the old one, so a crash leaves the
// old profile or the new one, never half of one. Throws std::system_error naming the file.
void save_profile(const fs::path& folder, const ProfileValues& values);

}  // namespace receiptora::store
