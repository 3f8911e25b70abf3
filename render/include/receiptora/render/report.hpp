// The monthly report (月報表): a month's figures and two bar charts (daily totals, the last
// twelve months against a reference line) on one A4 page, optionally a check's verdict on it
// and the list of the month's receipts on the pages after it, as PDF. Pure C++ (cairo, pango).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace receiptora::render {

struct ReportBar {
  std::string label;  // under the bar; may be empty to leave a gap in the labels
  double value = 0;
};

// One receipt in the report's list of the month's receipts.
struct ReportListRow {
  std::string number, date, buyer, buyer_tax_id;
  std::string total;     // decimal digits, any length
  std::string state;     // 已開立 / 已作廢 / 未完成
  std::string note;      // under the row when not empty: a void's date and reason
  bool counted = false;  // in the page totals (an issued receipt)
};

struct MonthReport {
  std::string title;                                         // "115年12月 月報表"
  std::string shop;                                          // 商號名稱; empty leaves the line out
  std::vector<std::pair<std::string, std::string>> figures;  // label, value: "開立張數", "42 張"
  std::string days_caption;                                  // "每日合計"
  std::vector<ReportBar> days;
  std::string months_caption;  // "近十二個月合計"
  std::vector<ReportBar> months;
  double reference = 0;         // the dashed line across the months chart; 0: none
  std::string reference_label;  // "使用統一發票標準 200,000"
  std::string sentence;         // how the last months stand against the reference
  std::string created_at;       // ISO 8601 creation date for the PDF metadata; empty: now
  // A check's verdict on the first page under the title (empty: none); `sound` draws it calm,
  // else in red.
  std::string verdict;
  bool verdict_sound = true;
  // The month's receipts on the pages after the first, with each page's total of the counted
  // rows and the running total; no pages when empty.
  std::string list_caption;  // "115年12月 收據清單"
  std::vector<ReportListRow> list;
};

// A4 portrait PDF bytes. Throws std::runtime_error when cairo reports a failure.
std::string render_month_report(const MonthReport& report);

}  // namespace receiptora::render
