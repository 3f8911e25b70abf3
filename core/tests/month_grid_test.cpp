#include <gtest/gtest.h>

#include "case_label.hpp"
#include "receiptora/month_grid.hpp"

namespace receiptora {
namespace {

struct MonthCase {
  const char* label;
  YearMonth month;
  int days;
  int first_weekday;  // 0 = Sunday
  GridCell last_day;
};

class MonthGrid : public testing::TestWithParam<MonthCase> {};

TEST_P(MonthGrid, DaysAndPlaces) {
  const MonthCase& c = GetParam();
  EXPECT_EQ(days_in_month(c.month), c.days);
  EXPECT_EQ(first_weekday(c.month), c.first_weekday);
  const GridCell first = day_cell(c.month, 1), last = day_cell(c.month, c.days);
  EXPECT_EQ(first.row, 0);
  EXPECT_EQ(first.column, c.first_weekday);
  EXPECT_EQ(last.row, c.last_day.row);
  EXPECT_EQ(last.column, c.last_day.column);
}

const MonthCase kMonths[] = {
    {"leap_february", {2024, 2}, 29, 4, {4, 4}},
    {"common_february", {2023, 2}, 28, 3, {4, 2}},
    {"leap_century", {2000, 2}, 29, 2, {4, 2}},
    {"common_century", {1900, 2}, 28, 4, {4, 3}},
    {"four_week_february", {2026, 2}, 28, 0, {3, 6}},
    {"thirty_days_from_saturday", {2025, 11}, 30, 6, {5, 0}},
    {"six_weeks", {2026, 8}, 31, 6, {5, 1}},
    {"december", {2026, 12}, 31, 2, {4, 4}},
};

INSTANTIATE_TEST_SUITE_P(Cases, MonthGrid, testing::ValuesIn(kMonths), CaseLabel{});

TEST(ShiftMonth, CrossesYearsBothWays) {
  struct Step {
    YearMonth from;
    int months;
    YearMonth to;
  };
  const Step steps[] = {
      {{2026, 12}, 1, {2027, 1}}, {{2027, 1}, -1, {2026, 12}}, {{2026, 12}, -13, {2025, 11}},
      {{2026, 5}, 0, {2026, 5}},  {{2026, 5}, 24, {2028, 5}},  {{1, 1}, -1, {0, 12}},
      {{0, 12}, -25, {-2, 11}},
  };
  for (const auto& [from, months, to] : steps) {
    const YearMonth got = shift_month(from, months);
    EXPECT_EQ(got.year, to.year) << from.year << "-" << from.month << " " << months;
    EXPECT_EQ(got.month, to.month) << from.year << "-" << from.month << " " << months;
  }
}

}  // namespace
}  // namespace receiptora
