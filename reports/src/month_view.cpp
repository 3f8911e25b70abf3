#include "receiptora/reports/month_view.hpp"

#include <gmpxx.h>

#include <algorithm>
#include <cstdio>

#include "receiptora/people_dates.hpp"
#include "receiptora/receipt_texts.hpp"

namespace receiptora::reports {

namespace {

// A whole number from decimal text (optional '-'), or nothing.
std::optional<mpz_class> whole(std::string_view digits) {
  const size_t start = !digits.empty() && digits[0] == '-' ? 1 : 0;
  if (digits.size() == start) return std::nullopt;
  for (size_t i = start; i < digits.size(); ++i)
    if (digits[i] < '0' || digits[i] > '9') return std::nullopt;
  return mpz_class(std::string(digits));
}

std::string roc_year_month(YearMonth month, const char* year_suffix, const char* month_suffix) {
  const int year = month.year > 1911 ? month.year - 1911 : month.year;
  char text[48];
  std::snprintf(text, sizeof text, "%d%s%d%s", year, year_suffix, month.month, month_suffix);
  return text;
}

YearMonth parse_month(std::string_view key) {
  int year = 0, month = 0;
  std::sscanf(std::string(key).c_str(), "%d-%d", &year, &month);
  return {year, month};
}

std::string nt(const mpz_class& amount) { return grouped_figures(amount) + " 元"; }

}  // namespace

std::string month_key(YearMonth month) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d", month.year, month.month);
  return text;
}

std::string roc_month_caption(YearMonth month) { return roc_month_text(month); }

std::string roc_day_caption(std::string_view iso_day) { return roc_day_of_iso(iso_day); }

std::string_view state_caption(store::State state) {
  switch (state) {
    case store::State::Issued:
      return "已開立";
    case store::State::Void:
      return "已作廢";
    case store::State::Unfinished:
      return "未完成";
    case store::State::Pending:
      break;
  }
  return "處理中";
}

std::string amount_caption(std::string_view digits) {
  const auto amount = whole(digits);
  return amount ? grouped_figures(*amount) : std::string(digits);
}

double amount_value(std::string_view digits) {
  const auto amount = whole(digits);
  return amount ? amount->get_d() : 0.0;
}

bool matches(const store::ListRow& row, std::string_view search) {
  return row.number.find(search) != std::string::npos || row.buyer.find(search) != std::string::npos ||
         row.buyer_tax_id.find(search) != std::string::npos ||
         row.order_label.find(search) != std::string::npos;
}

std::vector<double> daily_totals(const store::Summary& summary, YearMonth month) {
  std::vector<double> days(static_cast<size_t>(days_in_month(month)), 0.0);
  const std::string prefix = month_key(month) + "-";
  for (const store::DayTotal& day : summary.days) {
    if (day.date.size() != 10 || day.date.compare(0, prefix.size(), prefix) != 0) continue;
    const int d = std::atoi(day.date.c_str() + 8);
    if (d >= 1 && d <= static_cast<int>(days.size()))
      days[static_cast<size_t>(d - 1)] += amount_value(day.total);
  }
  return days;
}

std::string standard_sentence(const std::vector<store::MonthTotal>& months, long long standard) {
  const mpz_class limit(std::to_string(standard));
  const size_t count = std::min<size_t>(3, months.size());
  if (count == 0 || standard <= 0) return "";
  mpz_class sum = 0, highest = 0;
  std::string highest_month;
  int over = 0;
  for (size_t i = months.size() - count; i < months.size(); ++i) {
    const mpz_class total = whole(months[i].total).value_or(0);
    sum += total;
    if (total >= limit) ++over;
    if (highest_month.empty() || total > highest) {
      highest = total;
      highest_month = months[i].month;
    }
  }
  const mpz_class average = sum / static_cast<unsigned long>(count);
  const mpz_class percent = average * 100 / limit;
  const std::string standard_text = "使用統一發票標準 " + nt(limit);
  if (over > 0)
    return "近三個月有 " + std::to_string(over) + " 個月達到" + standard_text + "（最高為 " +
           roc_month_caption(parse_month(highest_month)) + " 的 " + nt(highest) +
           "），請向國稅局確認是否應改用統一發票。";
  if (highest * 10 >= limit * 8)
    return "近三個月接近" + standard_text + "：最高為 " + roc_month_caption(parse_month(highest_month)) +
           " 的 " + nt(highest) + "，平均每月 " + nt(average) + "（" + percent.get_str() + "%）。";
  return "近三個月平均每月 " + nt(average) + "，為" + standard_text + "的 " + percent.get_str() + "%。";
}

std::vector<store::MonthTotal> twelve_months(const store::Book& book, YearMonth month) {
  return store::monthly_totals(book, month_key(shift_month(month, -11)), 12);
}

render::MonthReport month_report(const store::Book& book, YearMonth month, long long standard,
                                 const std::string& shop) {
  const std::string key = month_key(month);
  char last[4];
  std::snprintf(last, sizeof last, "%02d", days_in_month(month));
  const store::Summary summary = store::summarize(book, key + "-01", key + "-" + last);
  const auto total = whole(summary.total).value_or(0);
  render::MonthReport report;
  report.title = roc_month_caption(month) + " 月報表";
  report.shop = shop;
  report.figures = {
      {"開立張數", std::to_string(summary.receipts) + " 張"},
      {"合計（不含作廢）", "NT$ " + grouped_figures(total)},
      {"平均每張",
       "NT$ " + grouped_figures(summary.receipts ? mpz_class(total / summary.receipts) : mpz_class(0))},
      {"作廢", std::to_string(summary.voided) + " 張"},
  };
  report.days_caption = "每日合計";
  const std::vector<double> days = daily_totals(summary, month);
  for (size_t d = 0; d < days.size(); ++d) {
    const int day = static_cast<int>(d) + 1;
    report.days.push_back({day == 1 || day % 5 == 0 ? std::to_string(day) : "", days[d]});
  }
  report.months_caption = "近十二個月合計";
  const auto months = twelve_months(book, month);
  for (const store::MonthTotal& m : months)
    report.months.push_back({roc_year_month(parse_month(m.month), "/", ""), amount_value(m.total)});
  report.reference = static_cast<double>(standard);
  report.reference_label = "使用統一發票標準 " + grouped_figures(mpz_class(std::to_string(standard)));
  report.sentence = standard_sentence(months, standard);
  return report;
}

}  // namespace receiptora::reports
