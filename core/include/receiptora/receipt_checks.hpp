// What makes a receipt odd or wrong before it is issued: a total that is not money received
// (refused), and rows, a buyer's 統一編號 or a day an operator most likely did not mean
// (flagged, the receipt still issued as asked).
#pragma once

#include <gmpxx.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "receiptora/month_grid.hpp"

namespace receiptora {

// One item as it goes onto the receipt.
struct ItemFigures {
  std::string_view name;  // UTF-8
  mpz_class quantity, unit_price;
};

// A receipt acknowledges money received: a total of 0 or below is refused with the reason
// ("合計為負數（-500 元）：…"); nothing when the total is positive. A negative line
// (a discount) is fine when the total stays positive.
std::optional<std::string> total_refusal(const mpz_class& total);

// What a receipt about to be issued holds that the operator most likely did not mean.
struct ReceiptFacts {
  std::span<const ItemFigures> items;
  std::string_view buyer_tax_id;  // as typed; empty: none
  CalendarDate day, today;        // the receipt's day and the day it is issued on
  bool date_printed = true;
  std::string_view buyer = {};  // UTF-8, as typed
};

// One line per oddity: a day that is not today first (the line a notice leads with), then each
// row by its place (1-based, as the window counts): 「第 2 列沒有單價，金額 0」, a nameless
// amount, a quantity or price of 0 beside the other; then a buyer's 統一編號 that fails its
// check, or a valid 統一編號 typed into the buyer's name while the 統一編號 field is empty (a
// click that missed the field). Empty: nothing odd.
std::vector<std::string> receipt_oddities(const ReceiptFacts& facts);

}  // namespace receiptora
