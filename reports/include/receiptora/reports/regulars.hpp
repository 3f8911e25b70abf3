// The shop's regulars: who bought how often and how much, and which items sold, over a month or
// a year of issued receipts (void ones never count). Amounts are exact digit texts (GMP), any
// length. What the 收據簿 window's 常客 and 品項 views and the month's workbook show.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "receiptora/store/book.hpp"

namespace receiptora::reports {

// A month (1..12) of a year, or the whole year when month is 0.
struct Period {
  int year = 0;
  int month = 0;
};
// "115年12月", "115年"
std::string period_caption(Period period);

struct BuyerTally {
  std::string buyer;  // as typed, white space at both ends left out; "" for receipts without a buyer
  std::string buyer_tax_id;
  std::int64_t receipts = 0;
  std::string total = "0";
  std::string last_day;  // ISO
};

struct ItemTally {
  std::string name;  // white space at both ends left out
  std::string quantity = "0";
  std::string amount = "0";  // the sum of quantity × unit price
  std::int64_t receipts = 0;
  std::string last_unit_price;  // on the latest receipt that has the item
  std::string last_day;         // ISO
};

// One row per buyer (name and 統一編號 together) and per item name, largest total first. An item
// line with quantity and unit price 0 is a line of text and sells nothing.
std::vector<BuyerTally> buyer_tallies(const store::Book& book, Period period);
std::vector<ItemTally> item_tallies(const store::Book& book, Period period);

enum class BuyerColumn { Buyer, TaxId, Receipts, Total, LastDay };
enum class ItemColumn { Name, Quantity, Amount, Receipts, LastUnitPrice, LastDay };
// Sorted by a column (amounts by value); rows equal there keep the order of their names. The row
// of receipts without buyer and 統一編號 (of lines without a name) always comes last.
void sort_tallies(std::vector<BuyerTally>& rows, BuyerColumn column, bool descending);
void sort_tallies(std::vector<ItemTally>& rows, ItemColumn column, bool descending);

// Whether `search` occurs in the buyer or the 統一編號, in the item's name (empty: every row).
bool matches(const BuyerTally& row, std::string_view search);
bool matches(const ItemTally& row, std::string_view search);

// What a row is called where it is shown: the buyer, or 「（未填買受人）」; the item, or 「（未填品名）」.
std::string buyer_caption(const BuyerTally& row);
std::string item_caption(const ItemTally& row);

}  // namespace receiptora::reports
