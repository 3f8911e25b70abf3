#include "month_grid.hpp"

#include <gtest/gtest.h>

#include <ostream>

namespace quillmarkers {
namespace {

struct MonthCase {
  YearMonth month;
  int days;
  int first_weekday;
  int rows;
};

void PrintTo(const MonthCase& c, std::ostream* out) { *out << c.month.year << "-" << c.month.month; }

class MonthShape : public testing::TestWithParam<MonthCase> {};

TEST_P(MonthShape, DaysFirstWeekdayAndRows) {
  const MonthCase& c = GetParam();
  EXPECT_EQ(days_in_month(c.month), c.days);
  EXPECT_EQ(first_weekday(c.month), c.first_weekday);
  EXPECT_EQ(week_rows(c.month), c.rows);
}

INSTANTIATE_TEST_SUITE_P(Months, MonthShape,
                         testing::Values(MonthCase{{2026, 12}, 31, 2, 5},  // starts on a Tuesday
                                         MonthCase{{2024, 2}, 29, 4, 5},   // leap year
                                         MonthCase{{2023, 2}, 28, 3, 5},
                                         MonthCase{{2000, 2}, 29, 2, 5},   // divisible by 400
                                         MonthCase{{1900, 2}, 28, 4, 5},   // divisible by 100 only
                                         MonthCase{{2026, 2}, 28, 0, 4},   // exactly four weeks
                                         MonthCase{{2025, 11}, 30, 6, 6},  // starts on a Saturday
                                         MonthCase{{2026, 8}, 31, 6, 6},
                                         MonthCase{{2026, 4}, 30, 3, 5}));

TEST(DayCell, SundayFirstSevenColumns) {
  const YearMonth december{2026, 12};  // 1 December 2026 is a Tuesday
  EXPECT_EQ(day_cell(december, 1), (GridCell{0, 2}));
  EXPECT_EQ(day_cell(december, 5), (GridCell{0, 6}));
  EXPECT_EQ(day_cell(december, 6), (GridCell{1, 0}));
  EXPECT_EQ(day_cell(december, 31), (GridCell{4, 4}));
  EXPECT_EQ(day_cell({2025, 11}, 30), (GridCell{5, 0}));
}

struct ShiftCase {
  YearMonth from;
  int months;
  YearMonth to;
};

void PrintTo(const ShiftCase& c, std::ostream* out) {
  *out << c.from.year << "-" << c.from.month << " by " << c.months;
}

class Shift : public testing::TestWithParam<ShiftCase> {};

TEST_P(Shift, WrapsAcrossYears) {
  EXPECT_EQ(shift_month(GetParam().from, GetParam().months), GetParam().to);
}

INSTANTIATE_TEST_SUITE_P(Months, Shift,
                         testing::Values(ShiftCase{{2026, 12}, 1, {2027, 1}}, ShiftCase{{2026, 1}, -1, {2025, 12}},
                                         ShiftCase{{2026, 6}, 0, {2026, 6}}, ShiftCase{{2026, 3}, -13, {2025, 2}},
                                         ShiftCase{{2026, 3}, 22, {2028, 1}}, ShiftCase{{0, 1}, -1, {-1, 12}}));

TEST(Today, IsAValidDate) {
  const Date today = today_local();
  EXPECT_GE(today.year, 2024);
  EXPECT_GE(today.month, 1);
  EXPECT_LE(today.month, 12);
  EXPECT_GE(today.day, 1);
  EXPECT_LE(today.day, days_in_month({today.year, today.month}));
}

}  // namespace
}  // namespace quillmarkers
