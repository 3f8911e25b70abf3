#include "receiptora/store/profile.hpp"

#include <cairo.h>
#include <iconv.h>

#include <cstring>
#include <map>
#include <optional>
#include <mutex>
#include <sstream>
#include <system_error>
#include <toml++/toml.h>

#include "platform.hpp"
#include "receiptora/store/files.hpp"
#include "receiptora/tax_id.hpp"

namespace receiptora::store {

namespace {

struct Field {
  const char* key;
  std::string SellerDetails::*member;
  bool image;
};

// Pictures already checked, by file identity (device, inode, size, time of change): the
// profile is read for every receipt, a picture is decoded once.
std::mutex g_checked_mutex;
std::map<platform::Identity, std::string> g_checked;

constexpr Field kFields[] = {
    {"商號名稱", &SellerDetails::name, false},
    {"統一編號", &SellerDetails::tax_id, false},
    {"負責人", &SellerDetails::owner, false},
    {"地址", &SellerDetails::address, false},
    {"電話", &SellerDetails::phone, false},
    {"免用統一發票章圖檔", &SellerDetails::exemption_stamp_image, true},
    {"負責人章圖檔", &SellerDetails::owner_seal_image, true},
};

// Why a stamp picture cannot be drawn, or empty when it can: only a regular file, a PNG
// whose header gives at most kPictureLimit pixels, that decodes whole as the renderer reads it.
std::string picture_problem(const fs::path& image) {
  try {
    platform::File file = platform::open_regular(image, platform::Access::Read, "圖檔");
    const platform::Identity identity = platform::identity_of(file, image);
    {
      std::lock_guard lock(g_checked_mutex);
      if (auto found = g_checked.find(identity); found != g_checked.end()) return found->second;
    }
    std::string problem;
    const std::string bytes = platform::read_all(file, image, kPictureBytesLimit);
    const auto byte = [&](size_t i) {
      return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]));
    };
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
        bytes.compare(12, 4, "IHDR") != 0) {
      problem = "不是 PNG 圖檔";
    } else {
      const std::uint64_t width = byte(16) << 24 | byte(17) << 16 | byte(18) << 8 | byte(19);
      const std::uint64_t height = byte(20) << 24 | byte(21) << 16 | byte(22) << 8 | byte(23);
      if (width * height > kPictureLimit) {
        problem = "有 " + std::to_string(width) + " × " + std::to_string(height) +
                  " 像素；印章圖檔最多 2500 萬像素";
      } else {
        struct Reader {
          std::string_view rest;
        } reader{bytes};
        cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(
            [](void* closure, unsigned char* data, unsigned int length) {
              auto& rest = static_cast<Reader*>(closure)->rest;
              if (rest.size() < length) return CAIRO_STATUS_READ_ERROR;
              std::memcpy(data, rest.data(), length);
              rest.remove_prefix(length);
              return CAIRO_STATUS_SUCCESS;
            },
            &reader);
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) problem = "無法讀成 PNG 圖檔";
        cairo_surface_destroy(surface);
      }
    }
    std::lock_guard lock(g_checked_mutex);
    if (g_checked.size() > 64) g_checked.clear();
    g_checked.emplace(identity, problem);
    return problem;
  } catch (const std::exception& error) {
    return error.what();
  }
}

size_t characters(const std::string& utf8) {
  size_t count = 0;
  for (unsigned char c : utf8) count += (c & 0xC0) != 0x80;
  return count;
}

constexpr std::string_view kAutoPrint = "自動列印";
constexpr std::string_view kInvoiceStandard = "使用統一發票標準";

// The two settings that are not printed: 自動列印 (是/否, or true/false) and
// 使用統一發票標準 (a whole number of NT$ above 0, or its digits in quotes).
void read_settings(const toml::table& table, const std::string& shown, ProfileRead& read) {
  if (const toml::node* node = table.get(kAutoPrint)) {
    const auto text = node->value<std::string>();
    const auto flag = node->value<bool>();
    if (node->is_boolean() && flag)
      read.auto_print = *flag;
    else if (node->is_string() && text && (*text == "是" || *text == "否"))
      read.auto_print = *text == "是";
    else
      read.problems.push_back(shown + "：自動列印應為 \"是\" 或 \"否\"");
  }
  if (const toml::node* node = table.get(kInvoiceStandard)) {
    long long amount = 0;
    if (const auto number = node->value<int64_t>(); node->is_integer() && number) {
      amount = *number;
    } else if (const auto text = node->value<std::string>();
               node->is_string() && text && !text->empty() && text->size() <= 15) {
      amount = 0;
      for (char c : *text) amount = (c >= '0' && c <= '9' && amount >= 0) ? amount * 10 + (c - '0') : -1;
    }
    if (amount > 0)
      read.invoice_standard = amount;
    else
      read.problems.push_back(shown + "：使用統一發票標準應為大於 0 的整數（新臺幣元），改用 200000");
  }
}

// The field a profile line sets: the text before "=", without spaces and quotes.
std::string field_of(const std::string& line) {
  const auto equals = line.find('=');
  if (equals == std::string::npos) return {};
  std::string key = line.substr(0, equals);
  const auto first = key.find_first_not_of(" \t\"'");
  if (first == std::string::npos) return {};
  return key.substr(first, key.find_last_not_of(" \t\"'") + 1 - first);
}

// toml++ refuses the whole file for one mistake (a missing quote, say). A hand-edited profile
// keeps every line that reads on its own; each line that does not is named with its field.
toml::table read_line_by_line(const std::string& text, const std::string& shown,
                              std::vector<std::string>& problems) {
  toml::table table;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string field = field_of(line);
    const std::string where =
        shown + " 第 " + std::to_string(number) + " 行" + (field.empty() ? "" : "「" + field + "」");
    try {
      toml::table one = toml::parse(line);
      for (auto&& [key, node] : one) {
        if (table.contains(key.str()))
          problems.push_back(where + "重複，只用第一次寫的值");
        else
          table.insert(key, std::move(node));
      }
    } catch (const toml::parse_error& error) {
      problems.push_back(where + "寫法有誤，這一行未使用，其餘欄位照常使用（" +
                         std::string(error.description()) + "）");
    }
  }
  return table;
}

// `bytes` converted from `from` to UTF-8, or nothing when they are not valid in `from`.
std::optional<std::string> converted(std::string_view bytes, const char* from) {
  iconv_t cd = iconv_open("UTF-8", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(bytes.size() * 2 + 4, '\0');  // UTF-16 and CP950 grow by at most half
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  char* at = out.data();
  size_t out_left = out.size();
  const size_t result = iconv(cd, &in, &in_left, &at, &out_left);
  iconv_close(cd);
  if (result == static_cast<size_t>(-1)) return std::nullopt;
  out.resize(out.size() - out_left);
  return out;
}

}  // namespace

std::optional<std::string> profile_text_utf8(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
    bytes.remove_prefix(3);  // Notepad's UTF-8
  else if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")
    return converted(bytes, "UTF-16");  // Notepad's "Unicode": the mark gives the byte order
  if (auto text = converted(bytes, "UTF-8")) return text;
  return converted(bytes, "CP950");  // Notepad's "ANSI" on a Taiwanese Windows
}

std::string profile_template() {
  return R"(# 賣方資料：印在每一張收據上的商號資料。存檔後，下一張收據就會使用新的內容。
# 文字請寫在引號之間；不需要的欄位留空即可。

# 商號名稱（店名）
"商號名稱" = ""
# 賣方統一編號：八位數字；檢查碼不符時收據上不印
"統一編號" = ""
# 負責人姓名
"負責人" = ""
# 營業地址
"地址" = ""
# 聯絡電話
"電話" = ""
# 免用統一發票專用章的圖檔（PNG，透明背景），可寫完整路徑或本資料夾內的檔名；留空時收據上畫出文字章
"免用統一發票章圖檔" = ""
# 負責人印章的圖檔（PNG，透明背景）；留空時收據上畫出文字章
"負責人章圖檔" = ""
# 自動列印："是" 時每張存檔的收據都送到預設印表機
"自動列印" = "否"
# 使用統一發票標準：每月銷售額（元）；收據簿的十二個月圖表以此畫出參考線
"使用統一發票標準" = 200000
)";
}

ProfileRead read_profile(const fs::path& folder) {
  ProfileRead read;
  const fs::path file = folder / kProfileName;
  const std::string shown = std::string(kProfileName);
  try {
    check_path_text(folder);
  } catch (const std::invalid_argument& error) {
    read.problems.push_back(shown + "：" + error.what() + "（未使用賣方資料）");
    return read;
  }
  std::error_code ec;
  if (fs::symlink_status(file, ec).type() == fs::file_type::not_found) {
    fs::create_directories(folder, ec);
    try {
      write_new_file(file, profile_template());
    } catch (const std::system_error& error) {
      if (error.code() != std::errc::file_exists)
        read.problems.push_back(shown + "：無法建立：" + error.what());
    }
    return read;  // every field empty
  }

  std::string text;
  try {
    platform::File in = platform::open_regular(file, platform::Access::Read, "賣方資料");
    text = platform::read_all(in, file, kProfileBytesLimit);
  } catch (const std::system_error& error) {
    read.problems.push_back(shown + "：" + error.what() + "（未使用賣方資料）");
    return read;
  }
  std::optional<std::string> utf8 = profile_text_utf8(text);
  if (!utf8) {
    read.problems.push_back(shown + " 不是 UTF-8、UTF-16 或 Big5 的文字，未使用；請用記事本另存為 UTF-8");
    return read;
  }
  text = std::move(*utf8);
  toml::table table;
  try {
    table = toml::parse(text, file.string());
  } catch (const toml::parse_error&) {
    table = read_line_by_line(text, shown, read.problems);
  }
  for (const auto& [key, node] : table) {
    bool known = false;
    for (const Field& field : kFields) known = known || key.str() == field.key;
    known = known || key.str() == kAutoPrint || key.str() == kInvoiceStandard;
    if (!known) read.problems.push_back(shown + "：不認得的欄位 \"" + std::string(key.str()) + "\"（略過）");
  }
  for (const Field& field : kFields) {
    const toml::node* node = table.get(field.key);
    if (!node) continue;
    const auto value = node->value<std::string>();
    if (!node->is_string() || !value) {
      read.problems.push_back(shown + "：" + field.key + " 應為加上引號的文字");
      continue;
    }
    if (characters(*value) > kFieldLimit) {
      read.problems.push_back(shown + "：" + field.key + " 有 " + std::to_string(characters(*value)) +
                              " 個字，收據最多容納 " + std::to_string(kFieldLimit) + " 個字（未印在收據上）");
      continue;
    }
    std::string& slot = read.seller.*field.member;
    slot = *value;
    if (field.image && !slot.empty()) {
      fs::path image = fs::path(slot);
      if (image.is_relative()) image = folder / image;
      std::string problem;
      try {
        check_path_text(image);
        problem = picture_problem(image);
      } catch (const std::invalid_argument& error) {
        problem = error.what();
      }
      if (!problem.empty()) {
        read.problems.push_back(shown + "：" + field.key + " \"" + slot + "\"：" + problem +
                                "（收據照樣開立，不用這張圖）");
        slot.clear();
      } else {
        slot = image.string();
      }
    }
  }
  read_settings(table, shown, read);
  if (!read.seller.tax_id.empty() && !valid_tax_id(read.seller.tax_id)) {
    read.problems.push_back(shown + "：統一編號 \"" + read.seller.tax_id + "\" 檢查碼不符，未印在收據上");
    read.seller.tax_id.clear();
  }
  return read;
}

}  // namespace receiptora::store
