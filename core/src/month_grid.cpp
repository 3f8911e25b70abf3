#include "receiptora/month_grid.hpp"

#include <chrono>
#include <ctime>

#include "receiptora/local_time.hpp"

namespace receiptora {

namespace chr = std::chrono;

namespace {

chr::year_month to_chrono(YearMonth ym) {
  return chr::year{ym.year} / chr::month{static_cast<unsigned>(ym.month)};
}

}  // namespace

int days_in_month(YearMonth ym) {
  return static_cast<int>(static_cast<unsigned>((to_chrono(ym) / chr::last).day()));
}

int first_weekday(YearMonth ym) {
  return static_cast<int>(chr::weekday{chr::sys_days{to_chrono(ym) / 1}}.c_encoding());
}

YearMonth shift_month(YearMonth ym, int months) {
  const long index = static_cast<long>(ym.year) * 12 + (ym.month - 1) + months;
  const long year = index >= 0 ? index / 12 : -((-index + 11) / 12);
  return {static_cast<int>(year), static_cast<int>(index - year * 12) + 1};
}

GridCell day_cell(YearMonth ym, int day) {
  const int slot = first_weekday(ym) + day - 1;
  return {slot / 7, slot % 7};
}

CalendarDate today_local() {
  const std::tm local = local_now();
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

}  // namespace receiptora
