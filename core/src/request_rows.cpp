#include "receiptora/request_rows.hpp"

#include "receiptora/whole_number.hpp"

namespace receiptora {

RowRule row_rule(bool name_blank, bool quantity_blank, bool price_blank) {
  if (!name_blank) {
    if (!quantity_blank && !price_blank) return RowRule::Full;
    if (quantity_blank && price_blank) return RowRule::NameOnly;
    if (!quantity_blank) return RowRule::NoPrice;
    return RowRule::NoQuantity;
  }
  if (!quantity_blank && !price_blank) return RowRule::NoName;
  return RowRule::Skip;
}

RowResult request_row(std::u32string_view name, std::u32string_view quantity,
                      std::u32string_view unit_price) {
  const RowRule rule = row_rule(name.empty(), quantity.empty(), unit_price.empty());
  if (rule == RowRule::Skip) return {RowOutcome::Skipped, {}};

  RequestItem item;
  item.name = rule == RowRule::NoName ? std::u32string() : std::u32string(name);
  if (!quantity.empty()) {
    auto q = parse_whole_number(quantity);
    if (!q) return {RowOutcome::Rejected, {}};
    item.quantity = std::move(*q);
  }
  if (!unit_price.empty()) {
    auto p = parse_whole_number(unit_price);
    if (!p) return {RowOutcome::Rejected, {}};
    item.unit_price = std::move(*p);
  }
  return {RowOutcome::Sent, std::move(item)};
}

RequestRows request_rows(std::span<const RowTexts> rows) {
  RequestRows result;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    RowResult row = request_row(rows[i].name, rows[i].quantity, rows[i].unit_price);
    if (row.outcome == RowOutcome::Rejected) return {{}, i};
    if (row.outcome == RowOutcome::Sent) result.sent.emplace_back(i, std::move(row.item));
  }
  return result;
}

std::string rejected_row_message(std::size_t row) {
  return "金額輸入錯誤 --> 第 " + std::to_string(row + 1) + " 列的數量或單價不是整數，收據未輸出";
}

std::string unreadable_row_message(std::size_t row) {
  return "讀取錯誤 --> 第 " + std::to_string(row + 1) + " 列有一格無法讀取，收據未輸出";
}

}  // namespace receiptora
