// Saving the seller profile from the profile form: the operator's own comments and layout
// stay, only the values change.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

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

// Stamp pictures live with the shop's files, in this folder of the output folder, named in the
// profile by their path relative to it: a backup or a copied folder keeps its stamps.
inline constexpr std::string_view kStampFolder = "印章";

// The path the profile keeps for the picture at `path`: a picture inside `folder` by its path
// relative to the folder; one outside copied into folder/印章/ first (never over another
// picture: a name taken by different bytes gets -2, -3 …; the same bytes are not copied
// again). A path that names no readable file is returned as it is (reading the profile names
// it). Throws std::system_error naming the file when the copy cannot be written.
std::string kept_picture(const fs::path& folder, const std::string& path);

// Pictures the profile of `folder` names by a path outside the folder are copied in and the
// profile rewritten to name the copies (comments kept). Returns one note per picture moved,
// in Chinese; nothing when there is none (or no profile). Never throws: a picture that cannot
// be copied is named in a note and keeps its path.
std::vector<std::string> keep_profile_pictures(const fs::path& folder);

// Writes folder/賣方資料.toml from the file as it is (the template when there is none) with
// the new values (pictures kept in the folder by kept_picture): a temporary file, flushed, renamed over the
// old one, so a crash leaves the old profile or the new one, never half of one. Throws std::system_error
// naming the file.
void save_profile(const fs::path& folder, const ProfileValues& values);

}  // namespace receiptora::store
