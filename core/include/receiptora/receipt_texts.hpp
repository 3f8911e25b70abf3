// Texts printed on a receipt: amounts in figures and in financial capital numerals, and
// Gregorian days as Republic-of-China (民國) dates.
#pragma once

#include <gmpxx.h>

#include <optional>
#include <string>
#include <string_view>

namespace receiptora {

// "1,234,567", "-1,500", "0": decimal figures grouped by thousands.
std::string grouped_figures(const mpz_class& amount);

// The amount in financial capitals followed by 元整: 210 → "貳佰壹拾元整", 0 → "零元整",
// -5 → "負伍元整". Amounts are read in groups of four digits with the big units 萬 億 兆 京
// 垓 秭 穰 溝 澗 正 載. An amount of 10^48 or more has no unit left to name it; it is then
// written digit by digit in capitals ("壹零…元整"), which still states it exactly.
std::string capital_numerals(const mpz_class& amount);

struct RocDate {
  int year = 0;  // 民國 year: Gregorian year − 1911
  int month = 0;
  int day = 0;
};

// The years a receipt can carry: 民國 1 to 民國 200. Before 1912 a day has no 民國 year (and
// printing a year ≤ 0 would be wrong); a year beyond 民國 200 is a slip of the keyboard
// (20266 for 2026), and people write 民國 years in at most three digits. The window, the
// worker, the batch's sheets and the renderer all refuse a day outside these years.
inline constexpr long kFirstReceiptYear = 1912, kLastReceiptYear = 2111;

// The Republic-of-China date of a Gregorian day, or nothing when the day does not exist
// (month 13, 31 April, 29 February of a common year) or lies outside the receipt years.
std::optional<RocDate> roc_date(long year, long month, long day);

// "中華民國 115 年 12 月 7 日".
std::string roc_date_text(const RocDate& date);

// "115年12月7日": the short form messages and notices use.
std::string roc_day_text(const RocDate& date);

// Blank as a receipt prints a name: nothing but ASCII and ideographic spaces.
bool blank_text(std::string_view text);

}  // namespace receiptora
