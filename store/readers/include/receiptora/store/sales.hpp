// The issued receipts of a span of days, read row by row for the tallies of buyers and items
// (void, unfinished and pending receipts never count). The texts are valid only during the call.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "receiptora/store/book.hpp"

namespace receiptora::store {

struct SoldReceipt {
  std::string_view number, day, buyer, buyer_tax_id, total;
};
// Every issued receipt whose day lies in first_day..last_day (ISO dates), once each.
void for_each_issued(const Book& book, const std::string& first_day, const std::string& last_day,
                     const std::function<void(const SoldReceipt&)>& each);

struct SoldItem {
  std::string_view number, day, name, quantity, unit_price;
};
// Every item line of those receipts; a receipt's lines come one after another.
void for_each_issued_item(const Book& book, const std::string& first_day, const std::string& last_day,
                          const std::function<void(const SoldItem&)>& each);

}  // namespace receiptora::store
