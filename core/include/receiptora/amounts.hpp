// Line totals and the grand-total caption of the item table.
#pragma once

#include <gmpxx.h>

#include <span>
#include <string>
#include <string_view>

namespace receiptora {

// The largest amount the grand total shows, either way: a total beyond ±kAmountLimit is
// "金額超過上限", so the caption (and with it the fixed-size window) never grows with the
// number of digits typed.
inline constexpr long kAmountLimit = 999999;

// "150 元" for quantity × unit price when both read as whole numbers, otherwise "".
std::string line_total_text(std::u32string_view quantity, std::u32string_view unit_price);
// The line total shown for a product already computed: "150 元".
std::string line_total_text(const mpz_class& product);

struct GrandTotal {
  enum class Kind { Total, OverLimit, InputError };
  Kind kind = Kind::Total;
  mpz_class value;  // meaningful for Kind::Total and Kind::OverLimit
};

// Sums quantity × unit price over the rows where neither raw text is exactly "".
// A filled text that is no whole number makes the whole total an input error, and so does
// a row that has a quantity but no unit-price cell at all.
GrandTotal grand_total(std::span<const std::u32string> quantities,
                       std::span<const std::u32string> unit_prices);

// One item row as the grand total reads it, for callers that keep products already
// computed (the window computes a product once per pair of texts).
struct RowReading {
  bool quantity_empty;       // the quantity text is exactly ""
  bool has_unit_price;       // the row has a unit-price cell
  bool unit_price_empty;     // its text is exactly ""
  const mpz_class* product;  // quantity × unit price when both read, else null
};
// The same rule as above over rows already read.
GrandTotal grand_total(std::span<const RowReading> rows);

// "總額1500元", "金額超過上限" or "金額輸入錯誤".
std::string grand_total_caption(const GrandTotal& total);

}  // namespace receiptora
