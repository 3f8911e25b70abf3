#include "receiptora/amounts.hpp"

#include <vector>

#include "receiptora/whole_number.hpp"

namespace receiptora {

std::string line_total_text(const mpz_class& product) { return decimal_text(product) + " 元"; }

std::string line_total_text(std::u32string_view quantity, std::u32string_view unit_price) {
  const auto q = parse_whole_number(quantity);
  if (!q) return {};
  const auto p = parse_whole_number(unit_price);
  if (!p) return {};
  return line_total_text(mpz_class(*q * *p));
}

GrandTotal grand_total(std::span<const RowReading> rows) {
  GrandTotal total;
  for (const RowReading& row : rows) {
    if (row.quantity_empty) continue;
    if (!row.has_unit_price) return {GrandTotal::Kind::InputError, 0};
    if (row.unit_price_empty) continue;
    if (!row.product) return {GrandTotal::Kind::InputError, 0};
    total.value += *row.product;
  }
  if (abs(total.value) > kAmountLimit) total.kind = GrandTotal::Kind::OverLimit;
  return total;
}

GrandTotal grand_total(std::span<const std::u32string> quantities,
                       std::span<const std::u32string> unit_prices) {
  std::vector<mpz_class> products(quantities.size());
  std::vector<RowReading> rows;
  rows.reserve(quantities.size());
  for (size_t i = 0; i < quantities.size(); ++i) {
    RowReading row{quantities[i].empty(), i < unit_prices.size(),
                   i < unit_prices.size() && unit_prices[i].empty(), nullptr};
    if (!row.quantity_empty && row.has_unit_price && !row.unit_price_empty) {
      const auto q = parse_whole_number(quantities[i]);
      const auto p = q ? parse_whole_number(unit_prices[i]) : std::nullopt;
      if (q && p) {
        products[i] = *q * *p;
        row.product = &products[i];
      }
    }
    rows.push_back(row);
    // The rule stops at the first row in error: no need to read further.
    if (!row.quantity_empty && (!row.has_unit_price || (!row.unit_price_empty && !row.product))) break;
  }
  return grand_total(rows);
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
