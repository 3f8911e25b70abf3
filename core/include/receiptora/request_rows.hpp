// Which item rows go into a receipt request, and with what values.
#pragma once

#include <gmpxx.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace receiptora {

// The filled/blank pattern of a row decides how it is sent. Blank means exactly "":
// a cell of spaces is filled.
enum class RowRule {
  Full,        // name, quantity, price
  NameOnly,    // name, 0, 0
  NoPrice,     // name, quantity, 0
  NoName,      // "", quantity, price
  NoQuantity,  // name, 0, price
  Skip,        // blank name with at most one of quantity and price
};

RowRule row_rule(bool name_blank, bool quantity_blank, bool price_blank);

struct RequestItem {
  std::u32string name;
  mpz_class quantity;
  mpz_class unit_price;
};

enum class RowOutcome { Sent, Skipped, Rejected };

struct RowResult {
  RowOutcome outcome;
  RequestItem item;  // filled when outcome == Sent
};

// Applies the row rule. A filled quantity or price that is no whole number rejects the
// whole row, so the request's three lists always stay aligned item by item.
RowResult request_row(std::u32string_view name, std::u32string_view quantity, std::u32string_view unit_price);

// One item row as typed.
struct RowTexts {
  std::u32string_view name, quantity, unit_price;
};

// The rows of a whole item table by the row rules: the items to send, each with its row
// (0-based), or the first row the rules reject. A request built while a typed row is
// rejected would silently leave that item out, so no items are given then.
struct RequestRows {
  std::vector<std::pair<std::size_t, RequestItem>> sent;
  std::optional<std::size_t> rejected_row;
};
RequestRows request_rows(std::span<const RowTexts> rows);

// "金額輸入錯誤 --> 第 N 列的數量或單價不是整數，收據未輸出" for the 0-based row.
std::string rejected_row_message(std::size_t row);

// "讀取錯誤 --> 第 N 列有一格無法讀取，收據未輸出" for the 0-based row: a cell whose text cannot
// be read is never taken for a blank one, which would leave its item out of the receipt.
std::string unreadable_row_message(std::size_t row);

}  // namespace receiptora
