#include "receiptora/store/profile_edit.hpp"

#include <toml++/toml.h>

#include <cstdio>
#include <optional>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <vector>

#include "receiptora/store/files.hpp"

namespace receiptora::store {

namespace {

// A TOML basic string: quotes, backslashes and control characters escaped.
std::string toml_string(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// The key a line sets ("商號名稱" for `"商號名稱" = "林記"`), or "" for a comment or other line.
std::string key_of(std::string_view line) {
  const auto start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos || line[start] == '#') return {};
  const auto equals = line.find('=', start);
  if (equals == std::string_view::npos) return {};
  std::string_view key = line.substr(start, equals - start);
  while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.remove_suffix(1);
  if (key.size() >= 2 && (key.front() == '"' || key.front() == '\'') && key.back() == key.front())
    key = key.substr(1, key.size() - 2);
  return std::string(key);
}

}  // namespace

// `text` with the lines that set `fields` rewritten in place; a field no line sets is added.
static std::string edited_fields(std::string_view text,
                                 const std::vector<std::pair<std::string, std::string>>& fields) {
  std::vector<bool> written(fields.size(), false);
  std::string out;
  if (text.starts_with("\xEF\xBB\xBF")) {  // saved by Notepad: the mark stays
    out = "\xEF\xBB\xBF";
    text.remove_prefix(3);
  }
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    const bool crlf = !line.empty() && line.back() == '\r';
    if (crlf) line.pop_back();
    const std::string key = key_of(line);
    for (std::size_t i = 0; i < fields.size() && !key.empty(); ++i) {
      if (key != fields[i].first) continue;
      line = written[i] ? "" : "\"" + key + "\" = " + fields[i].second;  // a repeated key is dropped
      written[i] = true;
    }
    out += line + (crlf ? "\r\n" : "\n");
  }
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (!written[i]) out += "\"" + fields[i].first + "\" = " + fields[i].second + "\n";
  return out;
}

std::string edited_profile(std::string_view text, const ProfileValues& values) {
  const SellerDetails& s = values.seller;
  std::vector<std::pair<std::string, std::string>> fields = {
      {"商號名稱", toml_string(s.name)},
      {"統一編號", toml_string(s.tax_id)},
      {"負責人", toml_string(s.owner)},
      {"地址", toml_string(s.address)},
      {"電話", toml_string(s.phone)},
      {"免用統一發票章圖檔", toml_string(s.exemption_stamp_image)},
      {"負責人章圖檔", toml_string(s.owner_seal_image)},
      {"自動列印", toml_string(values.auto_print ? "是" : "否")},
      {"使用統一發票標準", std::to_string(values.invoice_standard)},
  };
  return edited_fields(text, fields);
}

namespace {

std::optional<std::string> file_bytes(const fs::path& file, std::uint64_t limit) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec) || fs::file_size(file, ec) > limit || ec) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The profile's text as saved (UTF-8), or the template when there is none.
std::string profile_text(const fs::path& folder) {
  std::string text = profile_template();
  if (auto bytes = file_bytes(folder / kProfileName, kProfileBytesLimit)) {
    text = std::move(*bytes);
    if (auto utf8 = profile_text_utf8(text)) text = std::move(*utf8);  // saved again as UTF-8
  }
  return text;
}

void write_profile(const fs::path& folder, const std::string& text) {
  const fs::path file = folder / kProfileName;
  fs::create_directories(folder);
  const StagedFile staged = stage_file(file, text, true);
  std::error_code ec;
  fs::rename(staged.temp, file, ec);  // replaces the old profile in one step
  if (ec) {
    discard_file(staged);
    throw std::system_error(ec, "無法儲存 " + file.string());
  }
  sync_folder(folder);
}

constexpr const char* kPictureKeys[] = {"免用統一發票章圖檔", "負責人章圖檔"};

}  // namespace

std::string kept_picture(const fs::path& folder, const std::string& path) {
  if (path.empty() || fs::path(path).is_relative()) return path;  // relative: already the folder's
  std::error_code ec;
  const fs::path inside =
      fs::weakly_canonical(fs::path(path), ec).lexically_relative(fs::weakly_canonical(folder, ec));
  if (!ec && !inside.empty() && *inside.begin() != "..") return inside.string();
  const auto bytes = file_bytes(path, kPictureBytesLimit);
  if (!bytes) return path;
  const fs::path source(path), stamps = folder / kStampFolder;
  fs::create_directories(stamps);
  for (int n = 1;; ++n) {
    std::string name = source.stem().string();
    if (n > 1) (name += '-') += std::to_string(n);
    name += source.extension().string();
    const fs::path target = stamps / name;
    if (fs::exists(fs::symlink_status(target, ec))) {
      if (file_bytes(target, kPictureBytesLimit) == bytes) return (fs::path(kStampFolder) / name).string();
      continue;  // another picture of that name: never replaced
    }
    write_new_file(target, *bytes);
    return (fs::path(kStampFolder) / name).string();
  }
}

std::vector<std::string> keep_profile_pictures(const fs::path& folder) {
  std::error_code ec;
  if (!fs::is_regular_file(folder / kProfileName, ec)) return {};
  const std::string text = profile_text(folder);
  toml::table table;
  try {
    table = toml::parse(text);
  } catch (const std::exception&) {
    return {};  // reading the profile names what is wrong with it
  }
  std::vector<std::string> notes;
  std::vector<std::pair<std::string, std::string>> moved;  // only these lines are rewritten
  for (const char* key : kPictureKeys) {
    const std::string picture = table[key].value_or(std::string());
    if (picture.empty() || fs::path(picture).is_relative()) continue;
    try {
      const std::string kept = kept_picture(folder, picture);
      if (kept == picture) continue;  // no file there: reading the profile says so
      notes.push_back("賣方資料的圖檔 " + picture + " 已複製到輸出資料夾，改記為 " + kept +
                      "（備份或搬到另一台電腦也帶著印章）");
      moved.push_back({key, toml_string(kept)});
    } catch (const std::exception& error) {
      notes.push_back("賣方資料的圖檔 " + picture + " 無法複製到輸出資料夾：" + error.what());
    }
  }
  if (!moved.empty()) {
    try {
      write_profile(folder, edited_fields(text, moved));
    } catch (const std::exception& error) {
      notes.push_back(std::string("賣方資料.toml 無法改記印章圖檔的新位置：") + error.what());
    }
  }
  return notes;
}

void save_profile(const fs::path& folder, const ProfileValues& given) {
  ProfileValues values = given;
  values.seller.exemption_stamp_image = kept_picture(folder, values.seller.exemption_stamp_image);
  values.seller.owner_seal_image = kept_picture(folder, values.seller.owner_seal_image);
  write_profile(folder, edited_profile(profile_text(folder), values));
}

}  // namespace receiptora::store
