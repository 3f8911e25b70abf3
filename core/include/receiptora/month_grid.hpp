// Month arithmetic for the calendar widget: day counts, the weekday a month starts on, and
// where each day sits in a Sunday-first, 7-column grid.
#pragma once

namespace receiptora {

struct YearMonth {
  int year;
  int month;  // 1..12
};

struct CalendarDate {
  int year;
  int month;
  int day;
  bool operator==(const CalendarDate&) const = default;
};

struct GridCell {
  int row;     // week of the month, from 0
  int column;  // 0 = Sunday … 6 = Saturday
};

int days_in_month(YearMonth ym);
int first_weekday(YearMonth ym);  // 0 = Sunday … 6 = Saturday
YearMonth shift_month(YearMonth ym, int months);
GridCell day_cell(YearMonth ym, int day);
CalendarDate today_local();

}  // namespace receiptora
