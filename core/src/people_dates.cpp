#include "receiptora/people_dates.hpp"

#include <cstdio>
#include <vector>

namespace receiptora {

namespace {

constexpr int kRepublic = 1911;  // 民國 1 年 is 1912

// The text cut into runs of ASCII digits, each with the separator after it ("" at the end).
// Nothing when a separator is not one the forms use.
struct Part {
  int number;
  size_t digits;
  std::string after;
};

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::optional<std::vector<Part>> parts_of(std::string_view text) {
  text = trimmed(text);
  if (text.starts_with("民國")) text = trimmed(text.substr(std::string_view("民國").size()));
  std::vector<Part> parts;
  size_t i = 0;
  while (i < text.size()) {
    const size_t start = i;
    long number = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 5)
      number = number * 10 + (text[i++] - '0');
    if (i == start || (i < text.size() && text[i] >= '0' && text[i] <= '9')) return std::nullopt;
    const size_t gap = i;
    while (i < text.size() && !(text[i] >= '0' && text[i] <= '9')) ++i;
    parts.push_back({static_cast<int>(number), gap - start, std::string(trimmed(text.substr(gap, i - gap)))});
  }
  return parts;
}

// The western year of a written year: four digits western, one to three 民國.
std::optional<int> year_of(const Part& part) {
  if (part.digits == 4) return part.number > kRepublic ? std::optional<int>(part.number) : std::nullopt;
  if (part.digits <= 3 && part.number >= 1) return part.number + kRepublic;
  return std::nullopt;
}

bool month_ok(const Part& part) { return part.digits <= 2 && part.number >= 1 && part.number <= 12; }

}  // namespace

std::optional<YearMonth> read_month(std::string_view text) {
  const auto parts = parts_of(text);
  if (!parts || parts->size() != 2) return std::nullopt;
  const Part &y = (*parts)[0], &m = (*parts)[1];
  const bool dashed = (y.after == "-" || y.after == "/") && m.after.empty();
  const bool worded = y.after == "年" && (m.after == "月");
  const auto year = year_of(y);
  if (!(dashed || worded) || !year || !month_ok(m)) return std::nullopt;
  return YearMonth{*year, m.number};
}

std::optional<CalendarDate> read_day(std::string_view text) {
  const auto parts = parts_of(text);
  if (!parts || parts->size() != 3) return std::nullopt;
  const Part &y = (*parts)[0], &m = (*parts)[1], &d = (*parts)[2];
  const bool dashed = (y.after == "-" || y.after == "/") && m.after == y.after && d.after.empty();
  const bool worded = y.after == "年" && m.after == "月" && (d.after == "日" || d.after.empty());
  const auto year = year_of(y);
  if (!(dashed || worded) || !year || !month_ok(m) || d.digits > 2 || d.number < 1 ||
      d.number > days_in_month({*year, m.number}))
    return std::nullopt;
  return CalendarDate{*year, m.number, d.number};
}

std::optional<YearMonth> read_quarter(std::string_view text) {
  text = trimmed(text);
  if (text.size() < 3) return std::nullopt;
  const char q = text[text.size() - 2];
  const char n = text.back();
  if ((q != 'Q' && q != 'q') || n < '1' || n > '4') return std::nullopt;
  const auto parts = parts_of(text.substr(0, text.size() - 2));
  if (!parts || parts->size() != 1 || !(*parts)[0].after.empty()) return std::nullopt;
  const auto year = year_of((*parts)[0]);
  if (!year) return std::nullopt;
  return YearMonth{*year, 3 * (n - '0') - 2};
}

std::string roc_month_text(YearMonth month) {
  char text[32];
  std::snprintf(text, sizeof text, "%d年%d月", month.year > kRepublic ? month.year - kRepublic : month.year,
                month.month);
  return text;
}

std::string roc_day_text(CalendarDate day) {
  char text[32];
  std::snprintf(text, sizeof text, "%d/%02d/%02d", day.year > kRepublic ? day.year - kRepublic : day.year,
                day.month, day.day);
  return text;
}

std::string roc_day_of_iso(std::string_view iso) {
  const auto day = iso.size() == 10 && iso[4] == '-' ? read_day(iso) : std::nullopt;
  return day ? roc_day_text(*day) : std::string(iso);
}

std::string iso_month(YearMonth month) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d", month.year, month.month);
  return text;
}

std::string iso_day(CalendarDate day) {
  char text[24];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", day.year, day.month, day.day);
  return text;
}

}  // namespace receiptora
