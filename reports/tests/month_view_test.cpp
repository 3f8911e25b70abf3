// The month's captions, series and the sentence against 使用統一發票標準, table by table.
#include <gtest/gtest.h>

#include <string>

#include "../../core/tests/case_label.hpp"
#include "receiptora/reports/month_view.hpp"

namespace receiptora::reports {
namespace {

struct TextCase {
  std::string label;
  std::string in;
  std::string out;
};

class RocDay : public testing::TestWithParam<TextCase> {};
TEST_P(RocDay, Caption) { EXPECT_EQ(roc_day_caption(GetParam().in), GetParam().out); }
INSTANTIATE_TEST_SUITE_P(Days, RocDay,
                         testing::Values(TextCase{"plain", "2026-12-07", "115/12/07"},
                                         TextCase{"first_day", "1912-01-01", "1/01/01"},
                                         TextCase{"before_the_republic", "1911-12-31", "1911-12-31"},
                                         TextCase{"no_such_day", "2026-02-30", "2026-02-30"},
                                         TextCase{"not_a_day", "soon", "soon"},
                                         TextCase{"trailing_text", "2026-12-07x", "2026-12-07x"}),
                         CaseLabel{});

class Amount : public testing::TestWithParam<TextCase> {};
TEST_P(Amount, Caption) { EXPECT_EQ(amount_caption(GetParam().in), GetParam().out); }
INSTANTIATE_TEST_SUITE_P(
    Amounts, Amount,
    testing::Values(TextCase{"zero", "0", "0"}, TextCase{"thousands", "1234567", "1,234,567"},
                    TextCase{"negative", "-1500", "-1,500"},
                    TextCase{"huge", "123456789012345678901", "123,456,789,012,345,678,901"},
                    TextCase{"not_a_number", "12a", "12a"}, TextCase{"empty", "", ""}),
    CaseLabel{});

TEST(MonthCaption, RocYearAndKey) {
  EXPECT_EQ(roc_month_caption({2026, 12}), "115年12月");
  EXPECT_EQ(roc_month_caption({2027, 1}), "116年1月");
  EXPECT_EQ(month_key({2026, 3}), "2026-03");
}

TEST(StateCaption, EveryState) {
  EXPECT_EQ(state_caption(store::State::Issued), "已開立");
  EXPECT_EQ(state_caption(store::State::Void), "已作廢");
  EXPECT_EQ(state_caption(store::State::Unfinished), "未完成");
  EXPECT_EQ(state_caption(store::State::Pending), "處理中");
}

TEST(Matches, NumberBuyerTaxIdOrOrder) {
  const store::ListRow row{"收據-20261207-003",  "2026-12-07", "林記茶行", "04595257", "700",
                           store::State::Issued, {},           "A-117"};
  for (const char* found : {"", "1207-003", "林記", "0459", "收據-20261207-003", "A-117"})
    EXPECT_TRUE(matches(row, found)) << found;
  for (const char* missed : {"陳", "700", "2026-12-07", "04595258"})
    EXPECT_FALSE(matches(row, missed)) << missed;
}

TEST(DailyTotals, OneValuePerDayOfTheMonth) {
  store::Summary summary;
  summary.days = {{"2026-02-01", 2, "300"}, {"2026-02-28", 1, "1200"}, {"2026-03-01", 1, "99"}};
  const std::vector<double> days = daily_totals(summary, {2026, 2});
  ASSERT_EQ(days.size(), 28u);
  EXPECT_EQ(days[0], 300);
  EXPECT_EQ(days[27], 1200);
  EXPECT_EQ(days[1], 0);
}

struct SentenceCase {
  std::string label;
  std::vector<std::string> totals;  // oldest first, months 2026-10 ...
  std::string sentence;
};

class Sentence : public testing::TestWithParam<SentenceCase> {};

TEST_P(Sentence, LastThreeMonthsAgainstTheStandard) {
  std::vector<store::MonthTotal> months;
  int month = 10;
  for (const std::string& total : GetParam().totals) {
    char key[16];
    std::snprintf(key, sizeof key, "2026-%02d", month++);
    months.push_back({key, 1, total});
  }
  EXPECT_EQ(standard_sentence(months, 200000), GetParam().sentence);
}

INSTANTIATE_TEST_SUITE_P(
    Months, Sentence,
    testing::Values(
        SentenceCase{"well_below",
                     {"999999", "40000", "50000", "60000"},
                     "近三個月平均每月 50,000 元，為使用統一發票標準 200,000 元的 25%。"},
        SentenceCase{"close",
                     {"150000", "170000", "160000"},
                     "近三個月接近使用統一發票標準 200,000 元：最高為 115年11月 的 170,000 元，平均每月 "
                     "160,000 元（80%）。"},
        SentenceCase{"reached",
                     {"100000", "200000", "250000"},
                     "近三個月有 2 個月達到使用統一發票標準 200,000 元（最高為 115年12月 的 250,000 元），"
                     "請向國稅局確認是否應改用統一發票。"},
        SentenceCase{
            "one_month_only", {"20000"}, "近三個月平均每月 20,000 元，為使用統一發票標準 200,000 元的 10%。"},
        SentenceCase{"no_months", {}, ""}),
    CaseLabel{});

}  // namespace
}  // namespace receiptora::reports
