#include "receiptora/reports/regulars.hpp"

#include <gmpxx.h>

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <tuple>
#include <unordered_map>

#include "receiptora/reports/month_view.hpp"
#include "receiptora/store/sales.hpp"

namespace receiptora::reports {

namespace {

// The days of a period as the book's ISO days compare: a month's "YYYY-MM-00".."YYYY-MM-99".
std::pair<std::string, std::string> day_span(Period period) {
  char year[8];
  std::snprintf(year, sizeof year, "%04d", period.year);
  if (period.month == 0) return {std::string(year) + "-00-00", std::string(year) + "-99-99"};
  const std::string key = month_key({period.year, period.month});
  return {key + "-00", key + "-99"};
}

// White space at both ends (ASCII and the ideographic space U+3000) left out, so "王先生 " and
// "王先生" are one buyer.
std::string_view trimmed(std::string_view text) {
  constexpr std::string_view kIdeographic = "\u3000";
  for (bool changed = true; changed;) {
    changed = false;
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
      text.remove_prefix(1), changed = true;
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
      text.remove_suffix(1), changed = true;
    if (text.substr(0, kIdeographic.size()) == kIdeographic)
      text.remove_prefix(kIdeographic.size()), changed = true;
    if (text.size() >= kIdeographic.size() && text.substr(text.size() - kIdeographic.size()) == kIdeographic)
      text.remove_suffix(kIdeographic.size()), changed = true;
  }
  return text;
}

// A stored amount (decimal text) as a number; false for text that is no whole number. `text` is
// the reused buffer GMP reads from (one allocation for a whole tally, not one per line).
bool read(mpz_class& value, std::string_view digits, std::string& text) {
  text.assign(digits);
  return !digits.empty() && value.set_str(text, 10) == 0;
}

// Two whole-number texts as GMP writes them (no leading zeros, '-' for negatives) by value.
int compare_amounts(std::string_view a, std::string_view b) {
  const bool a_negative = !a.empty() && a[0] == '-', b_negative = !b.empty() && b[0] == '-';
  if (a_negative != b_negative) return a_negative ? -1 : 1;
  int by_size = a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : a.compare(b) < 0 ? -1 : a.compare(b) > 0;
  return a_negative ? -by_size : by_size;
}

bool nameless(const BuyerTally& row) { return row.buyer.empty() && row.buyer_tax_id.empty(); }
bool nameless(const ItemTally& row) { return row.name.empty(); }

template <class T>
int three_way(const T& a, const T& b) {
  return a < b ? -1 : b < a ? 1 : 0;
}

// Stable, so rows equal in the column keep the order they had (by name, sorted first). The row
// of receipts without a buyer (or lines without a name) stays last whatever the order: it is
// nobody's, and often the largest, so the regulars lead.
template <class Row, class Compare>
void sort_rows(std::vector<Row>& rows, bool descending, Compare&& compare) {
  std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
    if (nameless(a) != nameless(b)) return nameless(b);
    const int by_column = compare(a, b);
    return descending ? by_column > 0 : by_column < 0;
  });
}

}  // namespace

std::string period_caption(Period period) {
  const int year = period.year > 1911 ? period.year - 1911 : period.year;
  return period.month == 0 ? std::to_string(year) + "年"
                           : std::to_string(year) + "年" + std::to_string(period.month) + "月";
}

std::vector<BuyerTally> buyer_tallies(const store::Book& book, Period period) {
  struct Sum {
    size_t row;
    mpz_class total;
  };
  std::vector<BuyerTally> rows;
  std::vector<Sum> sums;
  std::unordered_map<std::string, size_t> at;
  std::string key, text;
  mpz_class amount;
  const auto [first, last] = day_span(period);
  store::for_each_issued(book, first, last, [&](const store::SoldReceipt& sold) {
    const std::string_view buyer = trimmed(sold.buyer), tax_id = trimmed(sold.buyer_tax_id);
    key.assign(buyer).append(1, '\0').append(tax_id);
    auto [found, added] = at.try_emplace(key, rows.size());
    if (added) {
      rows.push_back({std::string(buyer), std::string(tax_id), 0, "0", ""});
      sums.push_back({rows.size() - 1, 0});
    }
    BuyerTally& row = rows[found->second];
    ++row.receipts;
    if (sold.day > row.last_day) row.last_day = sold.day;
    if (read(amount, sold.total, text)) sums[found->second].total += amount;
  });
  for (const Sum& sum : sums) rows[sum.row].total = sum.total.get_str();
  sort_tallies(rows, BuyerColumn::Total, true);
  return rows;
}

std::vector<ItemTally> item_tallies(const store::Book& book, Period period) {
  struct Sum {
    mpz_class quantity, amount;
    std::string last_number;  // the receipt last counted, so a name twice on one receipt counts once
  };
  std::vector<ItemTally> rows;
  std::vector<Sum> sums;
  std::unordered_map<std::string, size_t> at;
  mpz_class quantity, price, product;
  std::string key, text;
  const auto [first, last] = day_span(period);
  store::for_each_issued_item(book, first, last, [&](const store::SoldItem& sold) {
    if (!read(quantity, sold.quantity, text)) quantity = 0;
    const bool priced = read(price, sold.unit_price, text);
    if (!priced) price = 0;
    if (quantity == 0 && price == 0) return;  // a line of text
    const std::string_view name = trimmed(sold.name);
    key.assign(name);
    auto [found, added] = at.try_emplace(key, rows.size());
    if (added) {
      rows.push_back({std::string(name), "0", "0", 0, "", ""});
      sums.push_back({0, 0, ""});
    }
    ItemTally& row = rows[found->second];
    Sum& sum = sums[found->second];
    sum.quantity += quantity;
    product = quantity * price;
    sum.amount += product;
    if (sum.last_number != sold.number) {
      ++row.receipts;
      sum.last_number = sold.number;
    }
    if (sold.day >= row.last_day) {
      row.last_day.assign(sold.day);
      row.last_unit_price.assign(priced ? sold.unit_price : "0");
    }
  });
  for (size_t i = 0; i < rows.size(); ++i) {
    rows[i].quantity = sums[i].quantity.get_str();
    rows[i].amount = sums[i].amount.get_str();
  }
  sort_tallies(rows, ItemColumn::Amount, true);
  return rows;
}

void sort_tallies(std::vector<BuyerTally>& rows, BuyerColumn column, bool descending) {
  std::stable_sort(rows.begin(), rows.end(), [](const BuyerTally& a, const BuyerTally& b) {
    return std::tie(a.buyer, a.buyer_tax_id) < std::tie(b.buyer, b.buyer_tax_id);
  });
  sort_rows(rows, descending, [column](const BuyerTally& a, const BuyerTally& b) {
    switch (column) {
      case BuyerColumn::Buyer:
        return three_way(a.buyer, b.buyer);
      case BuyerColumn::TaxId:
        return three_way(a.buyer_tax_id, b.buyer_tax_id);
      case BuyerColumn::Receipts:
        return three_way(a.receipts, b.receipts);
      case BuyerColumn::Total:
        return compare_amounts(a.total, b.total);
      case BuyerColumn::LastDay:
        return three_way(a.last_day, b.last_day);
    }
    return 0;
  });
}

void sort_tallies(std::vector<ItemTally>& rows, ItemColumn column, bool descending) {
  std::stable_sort(rows.begin(), rows.end(),
                   [](const ItemTally& a, const ItemTally& b) { return a.name < b.name; });
  sort_rows(rows, descending, [column](const ItemTally& a, const ItemTally& b) {
    switch (column) {
      case ItemColumn::Name:
        return three_way(a.name, b.name);
      case ItemColumn::Quantity:
        return compare_amounts(a.quantity, b.quantity);
      case ItemColumn::Amount:
        return compare_amounts(a.amount, b.amount);
      case ItemColumn::Receipts:
        return three_way(a.receipts, b.receipts);
      case ItemColumn::LastUnitPrice:
        return compare_amounts(a.last_unit_price, b.last_unit_price);
      case ItemColumn::LastDay:
        return three_way(a.last_day, b.last_day);
    }
    return 0;
  });
}

bool matches(const BuyerTally& row, std::string_view search) {
  return row.buyer.find(search) != std::string::npos || row.buyer_tax_id.find(search) != std::string::npos;
}
bool matches(const ItemTally& row, std::string_view search) {
  return row.name.find(search) != std::string::npos;
}

std::string buyer_caption(const BuyerTally& row) { return row.buyer.empty() ? "（未填買受人）" : row.buyer; }
std::string item_caption(const ItemTally& row) { return row.name.empty() ? "（未填品名）" : row.name; }

}  // namespace receiptora::reports
