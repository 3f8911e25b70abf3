#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "case_label.hpp"
#include "receiptora/request_rows.hpp"
#include "receiptora/whole_number.hpp"
#include "utf8.hpp"

namespace receiptora {
namespace {

std::u32string u32(std::string_view utf8) { return *decode_utf8(utf8); }

struct RowCase {
  const char* label;
  const char* name;
  const char* quantity;
  const char* price;
  RowOutcome outcome;
  const char* sent_name;
  long sent_quantity;
  long sent_price;
};

class RequestRow : public testing::TestWithParam<RowCase> {};

TEST_P(RequestRow, FollowsTheRowRules) {
  const RowCase& c = GetParam();
  const RowResult r = request_row(u32(c.name), u32(c.quantity), u32(c.price));
  ASSERT_EQ(r.outcome, c.outcome);
  if (r.outcome != RowOutcome::Sent) return;
  EXPECT_EQ(encode_utf8(r.item.name), c.sent_name);
  EXPECT_EQ(r.item.quantity, c.sent_quantity);
  EXPECT_EQ(r.item.unit_price, c.sent_price);
}

const RowCase kRows[] = {
    {"all_filled", "茶", "2", "30", RowOutcome::Sent, "茶", 2, 30},
    {"name_only", "茶", "", "", RowOutcome::Sent, "茶", 0, 0},
    {"no_price", "茶", "2", "", RowOutcome::Sent, "茶", 2, 0},
    {"no_name", "", "2", "30", RowOutcome::Sent, "", 2, 30},
    {"no_quantity", "茶", "", "30", RowOutcome::Sent, "茶", 0, 30},
    {"blank_row", "", "", "", RowOutcome::Skipped, "", 0, 0},
    {"quantity_only", "", "2", "", RowOutcome::Skipped, "", 0, 0},
    {"price_only", "", "", "30", RowOutcome::Skipped, "", 0, 0},
    {"spaces_and_negative", "茶", " 3 ", "-5", RowOutcome::Sent, "茶", 3, -5},
    {"name_of_spaces_is_filled", " ", "1", "1", RowOutcome::Sent, " ", 1, 1},
    {"fraction_rejects_row", "茶", "2.5", "30", RowOutcome::Rejected, "", 0, 0},
    {"bad_price_rejects_row", "茶", "2", "3元", RowOutcome::Rejected, "", 0, 0},
    {"space_quantity_rejects_row", "茶", " ", "", RowOutcome::Rejected, "", 0, 0},
    {"bad_skipped_row_stays_skipped", "", "abc", "", RowOutcome::Skipped, "", 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Cases, RequestRow, testing::ValuesIn(kRows), CaseLabel{});

struct TableCase {
  const char* label;
  std::vector<std::vector<const char*>> rows;  // name, quantity, unit price
  std::vector<std::size_t> sent_rows;
  std::optional<std::size_t> rejected_row;
};

class RequestRowsTable : public testing::TestWithParam<TableCase> {};

TEST_P(RequestRowsTable, SendsTheRowsOrNamesTheFirstRejectedOne) {
  const TableCase& c = GetParam();
  std::vector<std::u32string> texts;
  for (const auto& row : c.rows)
    for (const char* cell : row) texts.push_back(u32(cell));
  std::vector<RowTexts> rows;
  for (std::size_t i = 0; i < c.rows.size(); ++i)
    rows.push_back({texts[3 * i], texts[3 * i + 1], texts[3 * i + 2]});
  const RequestRows result = request_rows(rows);
  EXPECT_EQ(result.rejected_row, c.rejected_row);
  std::vector<std::size_t> sent;
  for (const auto& [row, item] : result.sent) sent.push_back(row);
  EXPECT_EQ(sent, c.sent_rows);
}

const TableCase kTables[] = {
    {"empty_table", {}, {}, std::nullopt},
    {"blank_rows_skipped", {{"", "", ""}, {"茶", "2", "30"}, {"", "", "9"}}, {1}, std::nullopt},
    {"fraction_refuses_all", {{"茶", "2", "30"}, {"餅", "1.5", "40"}}, {}, 1},
    {"bad_price_without_quantity", {{"茶", "", "3元"}}, {}, 0},
    {"first_of_two_bad_rows", {{"茶", "2", "30"}, {"", "", ""}, {"甲", "x", "1"}, {"乙", "1", "y"}}, {}, 2},
    {"bad_text_in_skipped_row_ignored", {{"", "abc", ""}, {"茶", "1", "1"}}, {1}, std::nullopt},
    {"quantity_of_spaces", {{"茶", " ", ""}}, {}, 0},
    {"no_name_row_checked", {{"", "2", "1,000"}}, {}, 0},
};

INSTANTIATE_TEST_SUITE_P(Cases, RequestRowsTable, testing::ValuesIn(kTables), CaseLabel{});

struct MessageCase {
  const char* label;
  std::size_t row;
  const char* message;
};

class RejectedRowMessage : public testing::TestWithParam<MessageCase> {};

TEST_P(RejectedRowMessage, NamesTheRowFromOne) {
  EXPECT_EQ(rejected_row_message(GetParam().row), GetParam().message);
}

const MessageCase kMessages[] = {
    {"first_row", 0, "金額輸入錯誤 --> 第 1 列的數量或單價不是整數，收據未輸出"},
    {"seventh_row", 6, "金額輸入錯誤 --> 第 7 列的數量或單價不是整數，收據未輸出"},
};

INSTANTIATE_TEST_SUITE_P(Cases, RejectedRowMessage, testing::ValuesIn(kMessages), CaseLabel{});

TEST(RequestRowSize, KeepsHugeNumbersExact) {
  const std::string big(5000, '7');
  const RowResult r = request_row(U"x", u32(big), U"-1");
  ASSERT_EQ(r.outcome, RowOutcome::Sent);
  EXPECT_EQ(r.item.quantity.get_str(), big);
  EXPECT_EQ(r.item.unit_price, -1);
}

}  // namespace
}  // namespace receiptora
