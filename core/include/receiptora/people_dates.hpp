// Months and days as people write them and read them. A person reads 民國 (115/12/05,
// 115年12月); commands take either calendar: a year of four digits is western, one of one to
// three digits a 民國 year. Machine formats (JSON, result tables' machine columns) stay ISO.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "receiptora/month_grid.hpp"

namespace receiptora {

// 2026-12, 2026/12, 115-12, 115/12, 115年12月, 民國115年12月 (spaces around the parts allowed).
// Nothing for any other text, a month outside 1..12 or a year before the Republic.
std::optional<YearMonth> read_month(std::string_view text);

// 2026-12-05, 2026/12/05, 115/12/05, 115-12-05, 115年12月5日, 民國115年12月5日. Nothing for a
// day that does not exist (115/02/29) or any other text.
std::optional<CalendarDate> read_day(std::string_view text);

// 2026Q4, 115Q4 (q or Q): the quarter's first month.
std::optional<YearMonth> read_quarter(std::string_view text);

// "115年12月"
std::string roc_month_text(YearMonth month);
// "115/12/05"
std::string roc_day_text(CalendarDate day);
// "2026-12-05" → "115/12/05"; any other text is returned as it is.
std::string roc_day_of_iso(std::string_view iso_day);

// "2026-12", "2026-12-05": the ISO keys machine formats and the book use.
std::string iso_month(YearMonth month);
std::string iso_day(CalendarDate day);

}  // namespace receiptora
