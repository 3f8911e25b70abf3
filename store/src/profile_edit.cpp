#include "receiptora/store/profile_edit.hpp"

#include <cstdio>
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

void save_profile(const fs::path& folder, const ProfileValues& values) {
  const fs::path file = folder / kProfileName;
  std::string text = profile_template();
  std::ifstream in(file, std::ios::binary);
  if (in) {
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (auto utf8 = profile_text_utf8(text)) text = std::move(*utf8);  // saved again as UTF-8
  }
  fs::create_directories(folder);
  const StagedFile staged = stage_file(file, edited_profile(text, values), true);
  std::error_code ec;
  fs::rename(staged.temp, file, ec);  // replaces the old profile in one step
  if (ec) {
    discard_file(staged);
    throw std::system_error(ec, "cannot save " + file.string());
  }
  sync_folder(folder);
}

}  // namespace receiptora::store
