#include <gtest/gtest.h>

#include "case_label.hpp"
#include "receiptora/people_dates.hpp"

namespace receiptora {
namespace {

struct DateCase {
  const char* label;
  const char* text;
  const char* iso;  // what it reads as; "" when refused
};

class ReadMonth : public testing::TestWithParam<DateCase> {};
class ReadDay : public testing::TestWithParam<DateCase> {};
class ReadQuarter : public testing::TestWithParam<DateCase> {};

TEST_P(ReadMonth, BothCalendars) {
  const auto month = read_month(GetParam().text);
  EXPECT_EQ(month ? iso_month(*month) : "", GetParam().iso);
}

TEST_P(ReadDay, BothCalendars) {
  const auto day = read_day(GetParam().text);
  EXPECT_EQ(day ? iso_day(*day) : "", GetParam().iso);
}

TEST_P(ReadQuarter, FirstMonth) {
  const auto month = read_quarter(GetParam().text);
  EXPECT_EQ(month ? iso_month(*month) : "", GetParam().iso);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadMonth,
    testing::Values(DateCase{"iso", "2026-12", "2026-12"}, DateCase{"iso_slash", "2026/1", "2026-01"},
                    DateCase{"roc_dash", "115-12", "2026-12"}, DateCase{"roc_slash", "115/02", "2026-02"},
                    DateCase{"roc_words", "民國 115 年 12 月", "2026-12"},
                    DateCase{"roc_one_digit", "1-1", "1912-01"},
                    DateCase{"before_the_republic", "1911-12", ""}, DateCase{"month_13", "115-13", ""},
                    DateCase{"month_0", "2026-00", ""}, DateCase{"five_digit_year", "20260-12", ""},
                    DateCase{"a_day", "2026-12-05", ""}, DateCase{"mixed_words", "115年12", ""},
                    DateCase{"other_separator", "115.12", ""}, DateCase{"empty", "", ""}),
    CaseLabel());

INSTANTIATE_TEST_SUITE_P(Cases, ReadDay,
                         testing::Values(DateCase{"iso", "2026-12-05", "2026-12-05"},
                                         DateCase{"roc_slash", "115/12/05", "2026-12-05"},
                                         DateCase{"roc_dash", "115-12-5", "2026-12-05"},
                                         DateCase{"roc_words", "115年12月5日", "2026-12-05"},
                                         DateCase{"leap_day", "113/02/29", "2024-02-29"},
                                         DateCase{"no_such_leap_day", "115/02/29", ""},
                                         DateCase{"thirty_first_of_april", "2026-04-31", ""},
                                         DateCase{"mixed_separators", "2026-12/05", ""},
                                         DateCase{"a_month", "115/12", ""},
                                         DateCase{"trailing_text", "2026-12-05x", ""}),
                         CaseLabel());

INSTANTIATE_TEST_SUITE_P(Cases, ReadQuarter,
                         testing::Values(DateCase{"iso", "2026Q4", "2026-10"},
                                         DateCase{"roc", "115q1", "2026-01"}, DateCase{"fifth", "2026Q5", ""},
                                         DateCase{"no_year", "Q4", ""}),
                         CaseLabel());

struct ShownCase {
  const char* label;
  const char* iso;
  const char* shown;
};

class RocOfIso : public testing::TestWithParam<ShownCase> {};

TEST_P(RocOfIso, DayForPeople) { EXPECT_EQ(roc_day_of_iso(GetParam().iso), GetParam().shown); }

INSTANTIATE_TEST_SUITE_P(Cases, RocOfIso,
                         testing::Values(ShownCase{"day", "2026-12-05", "115/12/05"},
                                         ShownCase{"not_a_day", "2026-13-05", "2026-13-05"},
                                         ShownCase{"roc_text_kept", "115/12/05", "115/12/05"}),
                         CaseLabel());

TEST(RocMonthText, Caption) { EXPECT_EQ(roc_month_text({2026, 12}), "115年12月"); }

}  // namespace
}  // namespace receiptora
