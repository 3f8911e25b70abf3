#include "receiptora/reports/duplicates.hpp"

#include <cstdio>
#include <tuple>

namespace receiptora::reports {

namespace store = receiptora::store;

namespace {

bool same_items(const std::vector<store::BookItem>& a, const std::vector<store::BookItem>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tie(a[i].name, a[i].quantity, a[i].unit_price, a[i].note) !=
        std::tie(b[i].name, b[i].quantity, b[i].unit_price, b[i].note))
      return false;
  return true;
}

bool same_content(const store::Record& a, const store::Record& b) {
  return a.date == b.date && a.print_date == b.print_date && a.buyer == b.buyer &&
         a.buyer_tax_id == b.buyer_tax_id && same_items(a.items, b.items);
}

}  // namespace

std::optional<std::chrono::system_clock::time_point> parse_iso_time(const std::string& text) {
  int year, month, day, hour, minute, second, used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute, &second,
                  &used) != 6)
    return std::nullopt;
  std::string zone = text.substr(static_cast<std::size_t>(used));
  if (!zone.empty() && zone[0] == '.') {  // fractions of a second
    const std::size_t end = zone.find_first_not_of("0123456789", 1);
    zone = end == std::string::npos ? "" : zone.substr(end);
  }
  int offset_minutes = 0;
  if (zone != "Z") {
    int zone_hours, zone_minutes;
    char sign;
    if (std::sscanf(zone.c_str(), "%c%2d:%2d", &sign, &zone_hours, &zone_minutes) != 3 ||
        (sign != '+' && sign != '-'))
      return std::nullopt;
    offset_minutes = (sign == '-' ? -1 : 1) * (zone_hours * 60 + zone_minutes);
  }
  using namespace std::chrono;
  const year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                            std::chrono::day{static_cast<unsigned>(day)}};
  if (!date.ok()) return std::nullopt;
  return system_clock::time_point{sys_days{date}.time_since_epoch() + hours{hour} + minutes{minute} +
                                  seconds{second} - minutes{offset_minutes}};
}

std::optional<std::string> same_content_as(const store::Book& book, const std::string& number,
                                           std::chrono::system_clock::time_point now) {
  const std::optional<store::Record> record = store::find_receipt(book, number);
  if (!record || record->date.size() < 7) return std::nullopt;
  // The book lists a day's receipts by their number of the day, so the last match is the
  // latest: comparing numbers as text would put the 1000th receipt before the 999th.
  std::optional<std::string> latest;
  for (const store::ListRow& row : store::list_receipts(book, record->date.substr(0, 7), "")) {
    if (row.number == number || row.state != store::State::Issued || row.date != record->date) continue;
    const std::optional<store::Record> other = store::find_receipt(book, row.number);
    if (!other || !same_content(*record, *other)) continue;
    const auto issued = parse_iso_time(other->issued_at);
    if (!issued || *issued > now || now - *issued > kDuplicateWindow) continue;
    latest = row.number;
  }
  return latest;
}

}  // namespace receiptora::reports
