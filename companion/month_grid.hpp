// Month arithmetic for the calendar widget: day counts, the weekday a month starts on, and
// where each day sits in a Sunday-first, 7-column grid. Plain C++, unit-tested on its own.
#pragma once

namespace quillmarkers {

struct YearMonth {
  int year;
  int month;  // 1..12
  bool operator==(const YearMonth&) const = default;
};

struct Date {
  int year;
  int month;
  int day;
  bool operator==(const Date&) const = default;
};

struct GridCell {
  int row;     // week of the month, from 0
  int column;  // 0 = Sunday … 6 = Saturday
  bool operator==(const GridCell&) const = default;
};

int days_in_month(YearMonth ym);
int first_weekday(YearMonth ym);  // 0 = Sunday … 6 = Saturday
YearMonth shift_month(YearMonth ym, int months);
GridCell day_cell(YearMonth ym, int day);
int week_rows(YearMonth ym);  // 4, 5 or 6
Date today_local();

}  // namespace quillmarkers
