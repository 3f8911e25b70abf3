// A typed text in a spreadsheet cell (the ledger 收據清冊.csv, the batch's result table, a
// list exported as CSV): one a spreadsheet would run as a formula — a leading =, +, -, @,
// tab or carriage return — is written with a leading apostrophe, so a buyer's name never
// executes; reading the cell back takes that apostrophe off again.
#pragma once

#include <string>
#include <string_view>

namespace receiptora {

inline bool starts_like_a_formula(std::string_view text) {
  return !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
}

// "=SUM(A1)" → "'=SUM(A1)"; any other text as it is.
inline std::string disarmed_cell(std::string_view typed) {
  return (starts_like_a_formula(typed) ? "'" : "") + std::string(typed);
}

// The text typed, from a cell disarmed_cell wrote: "'=SUM(A1)" → "=SUM(A1)"; "'abc" stays.
inline std::string typed_text_of_cell(std::string_view cell) {
  if (cell.size() > 1 && cell.front() == '\'' && starts_like_a_formula(cell.substr(1))) cell.remove_prefix(1);
  return std::string(cell);
}

}  // namespace receiptora
