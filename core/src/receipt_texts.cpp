#include "receiptora/receipt_texts.hpp"

#include <array>
#include <string_view>

namespace receiptora {

namespace {

constexpr std::array<std::string_view, 10> kDigits = {"零", "壹", "貳", "參", "肆",
                                                      "伍", "陸", "柒", "捌", "玖"};
constexpr std::array<std::string_view, 4> kSmallUnits = {"仟", "佰", "拾", ""};
// One big unit per group of four digits, from the lowest group up.
constexpr std::array<std::string_view, 12> kBigUnits = {"",   "萬", "億", "兆", "京", "垓",
                                                        "秭", "穰", "溝", "澗", "正", "載"};

}  // namespace

std::string grouped_figures(const mpz_class& amount) {
  const std::string digits = mpz_class(abs(amount)).get_str();
  std::string out;
  out.reserve(digits.size() + digits.size() / 3 + 1);
  if (amount < 0) out.push_back('-');
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

std::string capital_numerals(const mpz_class& amount) {
  std::string out = amount < 0 ? "負" : "";
  const std::string digits = mpz_class(abs(amount)).get_str();
  if (digits.size() > 4 * kBigUnits.size()) {
    for (char d : digits) out.append(kDigits[d - '0']);
    return out + "元整";
  }
  if (digits == "0") return out + "零元整";
  // Left-pad to whole groups of four digits.
  const std::string padded = std::string((4 - digits.size() % 4) % 4, '0') + digits;
  const size_t groups = padded.size() / 4;
  bool written = false;    // anything written yet
  bool need_zero = false;  // skipped zeros since the last written digit call for one 零
  for (size_t g = 0; g < groups; ++g) {
    const std::string_view group(padded.data() + 4 * g, 4);
    if (group == "0000") {
      need_zero = written;
      continue;
    }
    for (size_t i = 0; i < 4; ++i) {
      const int d = group[i] - '0';
      if (d == 0) {
        need_zero = need_zero || written;
        continue;
      }
      if (need_zero) out.append(kDigits[0]);
      need_zero = false;
      out.append(kDigits[d]).append(kSmallUnits[i]);
      written = true;
    }
    out.append(kBigUnits[groups - 1 - g]);
    // Zeros at the end of a group need no 零 of their own; a 零 is due only when the next
    // group starts with a zero, which the loop above notices.
    need_zero = false;
  }
  return out + "元整";
}

std::optional<RocDate> roc_date(long year, long month, long day) {
  if (year < kFirstReceiptYear || year > kLastReceiptYear || month < 1 || month > 12 || day < 1)
    return std::nullopt;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const long last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  if (day > last) return std::nullopt;
  return RocDate{static_cast<int>(year - 1911), static_cast<int>(month), static_cast<int>(day)};
}

std::string roc_date_text(const RocDate& date) {
  return "中華民國 " + std::to_string(date.year) + " 年 " + std::to_string(date.month) + " 月 " +
         std::to_string(date.day) + " 日";
}

std::string roc_day_text(const RocDate& date) {
  return std::to_string(date.year) + "年" + std::to_string(date.month) + "月" + std::to_string(date.day) +
         "日";
}

bool blank_text(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == ' ' || text[i] == '\t') {
      ++i;
    } else if (text.substr(i, 3) == "\u3000") {
      i += 3;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace receiptora
