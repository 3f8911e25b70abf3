#include "receiptora/amounts.hpp"

#include "receiptora/whole_number.hpp"

namespace receiptora {

std::string line_total_text(std::u32string_view quantity, std::u32string_view unit_price) {
  const auto q = parse_whole_number(quantity);
  if (!q) return {};
  const auto p = parse_whole_number(unit_price);
  if (!p) return {};
  return decimal_text(mpz_class(*q * *p)) + " 元";
}

GrandTotal grand_total(std::span<const std::u32string> quantities,
                       std::span<const std::u32string> unit_prices) {
  GrandTotal total;
  for (size_t i = 0; i < quantities.size(); ++i) {
    if (quantities[i].empty()) continue;
    if (i >= unit_prices.size()) return {GrandTotal::Kind::InputError, 0};
    if (unit_prices[i].empty()) continue;
    const auto q = parse_whole_number(quantities[i]);
    if (!q) return {GrandTotal::Kind::InputError, 0};
    const auto p = parse_whole_number(unit_prices[i]);
    if (!p) return {GrandTotal::Kind::InputError, 0};
    total.value += *q * *p;
  }
  if (abs(total.value) > kAmountLimit) total.kind = GrandTotal::Kind::OverLimit;
  return total;
}

std::string grand_total_caption(const GrandTotal& total) {
  switch (total.kind) {
    case GrandTotal::Kind::OverLimit:
      return "金額超過上限";
    case GrandTotal::Kind::InputError:
      return "金額輸入錯誤";
    case GrandTotal::Kind::Total:
      break;
  }
  return "總額" + decimal_text(total.value) + "元";
}

}  // namespace receiptora
