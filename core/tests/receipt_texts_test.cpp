#include <gtest/gtest.h>

#include <string>

#include "receiptora/receipt_texts.hpp"

namespace receiptora {
namespace {

struct CapitalCase {
  const char* label;
  const char* amount;
  const char* figures;
  const char* capitals;
};

class Capitals : public testing::TestWithParam<CapitalCase> {};

TEST_P(Capitals, Reads) {
  const CapitalCase& c = GetParam();
  const mpz_class amount(c.amount);
  EXPECT_EQ(grouped_figures(amount), c.figures);
  EXPECT_EQ(capital_numerals(amount), c.capitals);
}

const CapitalCase kCapitalCases[] = {
    {"zero", "0", "0", "零元整"},
    {"ten", "10", "10", "壹拾元整"},
    {"inner_zero", "101", "101", "壹佰零壹元整"},
    {"two_ten", "210", "210", "貳佰壹拾元整"},
    {"thousand_and_five", "1005", "1,005", "壹仟零伍元整"},
    {"hundred_thousand", "100000", "100,000", "壹拾萬元整"},
    {"zero_after_wan", "1000010", "1,000,010", "壹佰萬零壹拾元整"},
    {"yi_zero_wan", "101000000", "101,000,000", "壹億零壹佰萬元整"},
    {"empty_group", "100000001", "100,000,001", "壹億零壹元整"},
    {"all_digits", "987654321", "987,654,321", "玖億捌仟柒佰陸拾伍萬肆仟參佰貳拾壹元整"},
    {"zhao", "3000000000000", "3,000,000,000,000", "參兆元整"},
    {"jing", "12000000000000000", "12,000,000,000,000,000", "壹京貳仟兆元整"},
    {"zai", "100000000000000000000000000000000000000000000",
     "100,000,000,000,000,000,000,000,000,000,000,000,000,000,000", "壹載元整"},
    {"largest_named", "999999999999999999999999999999999999999999999999",
     "999,999,999,999,999,999,999,999,999,999,999,999,999,999,999,999",
     "玖仟玖佰玖拾玖載玖仟玖佰玖拾玖正玖仟玖佰玖拾玖澗玖仟玖佰玖拾玖溝玖仟玖佰玖拾玖穰玖仟玖佰玖拾玖秭"
     "玖仟玖佰玖拾玖垓玖仟玖佰玖拾玖京玖仟玖佰玖拾玖兆玖仟玖佰玖拾玖億玖仟玖佰玖拾玖萬玖仟玖佰玖拾玖元整"},
    {"past_zai_digit_by_digit", "1000000000000000000000000000000000000000000000002",
     "1,000,000,000,000,000,000,000,000,000,000,000,000,000,000,000,002",
     "壹零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零零貳元"
     "整"},
    {"negative", "-1500", "-1,500", "負壹仟伍佰元整"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Capitals, testing::ValuesIn(kCapitalCases),
                         [](const auto& p) { return std::string(p.param.label); });

struct DateCase {
  const char* label;
  long year, month, day;
  const char* text;  // "" when the day has no 民國 date
};

class Roc : public testing::TestWithParam<DateCase> {};

TEST_P(Roc, Converts) {
  const DateCase& c = GetParam();
  const auto date = roc_date(c.year, c.month, c.day);
  EXPECT_EQ(date ? roc_date_text(*date) : "", c.text);
}

const DateCase kDateCases[] = {
    {"today", 2026, 12, 7, "中華民國 115 年 12 月 7 日"},
    {"first_day", 1912, 1, 1, "中華民國 1 年 1 月 1 日"},
    {"leap_day", 2024, 2, 29, "中華民國 113 年 2 月 29 日"},
    {"century_leap", 2000, 2, 29, "中華民國 89 年 2 月 29 日"},
    {"before_republic", 1911, 12, 31, ""},
    {"last_receipt_year", 2111, 12, 31, "中華民國 200 年 12 月 31 日"},
    {"after_roc_200", 2112, 1, 1, ""},
    {"common_year_feb_29", 2100, 2, 29, ""},
    {"april_31", 2026, 4, 31, ""},
    {"month_13", 2026, 13, 1, ""},
    {"day_0", 2026, 1, 0, ""},
    {"negative_year", -5, 1, 1, ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, Roc, testing::ValuesIn(kDateCases),
                         [](const auto& p) { return std::string(p.param.label); });

}  // namespace
}  // namespace receiptora
