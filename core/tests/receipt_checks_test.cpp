#include "receiptora/receipt_checks.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "case_label.hpp"

namespace receiptora {
namespace {

struct TotalCase {
  const char* label;
  const char* total;
  const char* refusal;  // "": issued
};

class TotalRefusal : public testing::TestWithParam<TotalCase> {};

TEST_P(TotalRefusal, RefusesWhatIsNoMoneyReceived) {
  const std::optional<std::string> refusal = total_refusal(mpz_class(GetParam().total));
  EXPECT_EQ(refusal.value_or(""), GetParam().refusal);
}

const TotalCase kTotals[] = {
    {"positive", "1", ""},
    {"zero", "0", "合計為 0 元：收據是收到款項的憑證，合計須大於 0"},
    {"negative", "-500", "合計為負數（-500 元）：收據是收到款項的憑證，合計須大於 0"},
    {"huge_negative_not_spelled_out", "-1000000000000000000000000000000",
     "合計為負數（位數過多）：收據是收到款項的憑證，合計須大於 0"},
};

INSTANTIATE_TEST_SUITE_P(Cases, TotalRefusal, testing::ValuesIn(kTotals), CaseLabel{});

constexpr CalendarDate kToday{2026, 12, 8};

struct OddCase {
  const char* label;
  std::vector<ItemFigures> items;
  const char* tax_id;
  CalendarDate day;
  bool date_printed;
  std::vector<std::string> lines;
  const char* buyer = "";
};

class Oddities : public testing::TestWithParam<OddCase> {};

TEST_P(Oddities, NameEachRowAndField) {
  const OddCase& c = GetParam();
  EXPECT_EQ(receipt_oddities({c.items, c.tax_id, c.day, kToday, c.date_printed, c.buyer}), c.lines);
}

const OddCase kOdd[] = {
    {"plain_receipt", {{"吐司", 2, 110}, {"折扣", 1, -20}}, "04595257", kToday, true, {}},
    {"rows_named_by_place",
     {{"吐司", 2, 110}, {"可頌", 3, 0}, {"", 2, 500}, {"蛋糕", 0, 90}, {"備註", 0, 0}, {"\u3000 ", 1, 0}},
     "",
     kToday,
     true,
     {"第 2 列沒有單價，金額 0", "第 3 列沒有品名，金額 1,000 元計入合計", "第 4 列數量為 0，金額 0",
      "第 5 列沒有數量和單價，金額 0", "第 6 列沒有品名"}},
    {"tax_id_checksum",
     {{"吐司", 1, 50}},
     "12345678",
     kToday,
     true,
     {"買受人統一編號「12345678」檢查碼不符"}},
    {"past_day", {{"吐司", 1, 50}}, "", {2026, 12, 5}, true, {"收據日期 115年12月5日，不是今天"}},
    {"past_day_not_printed",
     {{"吐司", 1, 50}},
     "",
     {2026, 12, 5},
     false,
     {"收據日期 115年12月5日，不是今天（收據號碼依此日）"}},
    // A click that missed the 統一編號 field types it into the buyer's name.
    {"tax_id_in_buyer",
     {{"吐司", 1, 50}},
     "",
     kToday,
     true,
     {"買受人「大安國小22099131」裡有統一編號 22099131，統一編號欄是空的"},
     "大安國小22099131"},
    {"tax_id_in_buyer_and_field", {{"吐司", 1, 50}}, "22099131", kToday, true, {}, "大安國小22099131"},
    {"digits_in_buyer_not_a_tax_id",
     {{"吐司", 1, 50}},
     "",
     kToday,
     true,
     {},
     "三年2班 0223456789 12345678 220991311"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Oddities, testing::ValuesIn(kOdd), CaseLabel{});

}  // namespace
}  // namespace receiptora
