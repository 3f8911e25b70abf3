// What the 收據簿 window, the Excel export and the monthly report show of a month: 民國 captions,
// state words, amounts, the daily and monthly series and the sentence on how the last three
// months stand against 使用統一發票標準. Pure C++ over the book's list and summaries.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "receiptora/month_grid.hpp"
#include "receiptora/render/report.hpp"
#include "receiptora/store/book.hpp"

namespace receiptora::reports {

// "2026-12"
std::string month_key(YearMonth month);
// "115年12月" (a month before the Republic keeps its Gregorian year: "1911年12月")
std::string roc_month_caption(YearMonth month);
// "2026-12-07" → "115/12/07"; text that is not an ISO day is returned as it is
std::string roc_day_caption(std::string_view iso_day);
// 已開立, 已作廢, 未完成, 處理中
std::string_view state_caption(store::State state);
// "1234567" → "1,234,567"; text that is not a whole number is returned as it is
std::string amount_caption(std::string_view digits);
// The amount as a double for charts (huge amounts lose digits, never their size).
double amount_value(std::string_view digits);

// Whether `search` occurs in the receipt's number, buyer, buyer's 統一編號 or order's 收據 value (as the
// book's own search does), so the window can filter a month it has read once at every keystroke.
bool matches(const store::ListRow& row, std::string_view search);

// One value per day of the month (day 1 first), 0 where nothing was issued.
std::vector<double> daily_totals(const store::Summary& summary, YearMonth month);

// One sentence on the last three of `months` (oldest first) against `standard` (NT$ a month).
std::string standard_sentence(const std::vector<store::MonthTotal>& months, long long standard);

// The twelve months that end with `month`, oldest first.
std::vector<store::MonthTotal> twelve_months(const store::Book& book, YearMonth month);

// Everything on the monthly report, read from the book.
render::MonthReport month_report(const store::Book& book, YearMonth month, long long standard,
                                 const std::string& shop);

}  // namespace receiptora::reports
