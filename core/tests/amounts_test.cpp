#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "case_label.hpp"
#include "receiptora/amounts.hpp"
#include "receiptora/whole_number.hpp"
#include "utf8.hpp"

namespace receiptora {
namespace {

std::u32string u32(std::string_view utf8) { return *decode_utf8(utf8); }

struct LineCase {
  const char* label;
  const char* quantity;
  const char* price;
  const char* shown;
};

class LineTotal : public testing::TestWithParam<LineCase> {};

TEST_P(LineTotal, Shows) {
  const LineCase& c = GetParam();
  EXPECT_EQ(line_total_text(u32(c.quantity), u32(c.price)), c.shown);
}

const LineCase kLineCases[] = {
    {"product", "3", "50", "150 元"},
    {"negative", "-2", "50", "-100 元"},
    {"zero_quantity", "0", "50", "0 元"},
    {"spaces_and_plus", " +7 ", "50", "350 元"},
    {"fullwidth", "\uff13", "\uff11\uff10\uff10", "300 元"},
    {"underscore", "1_000", "2", "2000 元"},
    {"double_underscore", "1__000", "2", ""},
    {"decimal", "1.5", "2", ""},
    {"comma", "1,000", "2", ""},
    {"no_price", "3", "", ""},
    {"price_only_spaces", "3", "   ", ""},
    {"eleven_nines", "99999999999", "99999999999", "9999999999800000000001 元"},
};

INSTANTIATE_TEST_SUITE_P(Cases, LineTotal, testing::ValuesIn(kLineCases), CaseLabel{});

struct TotalCase {
  const char* label;
  std::vector<std::string> quantities;
  std::vector<std::string> prices;
  const char* caption;
};

class GrandTotalCaption : public testing::TestWithParam<TotalCase> {};

TEST_P(GrandTotalCaption, Shows) {
  const TotalCase& c = GetParam();
  std::vector<std::u32string> q, p;
  for (const auto& t : c.quantities) q.push_back(u32(t));
  for (const auto& t : c.prices) p.push_back(u32(t));
  EXPECT_EQ(grand_total_caption(grand_total(q, p)), c.caption);
}

const TotalCase kTotalCases[] = {
    {"empty_table", {"", "", ""}, {"", "", ""}, "總額0元"},
    {"no_rows", {}, {}, "總額0元"},
    {"sum", {"3", "2", ""}, {"500", "250", ""}, "總額2000元"},
    {"at_limit", {"1"}, {"999999"}, "總額999999元"},
    {"over_limit", {"1"}, {"1000000"}, "金額超過上限"},
    {"negative", {"-1"}, {"100"}, "總額-100元"},
    {"at_negative_limit", {"-1"}, {"999999"}, "總額-999999元"},
    {"below_negative_limit", {"-1"}, {"1000000"}, "金額超過上限"},
    {"bad_quantity_with_price", {"abc", "1"}, {"10", "5"}, "金額輸入錯誤"},
    {"bad_quantity_without_price_skipped", {"abc", "1"}, {"", "5"}, "總額5元"},
    {"price_only_space", {"2"}, {" "}, "金額輸入錯誤"},
    {"fullwidth_with_spaces", {"\u3000\uff12 "}, {"\uff15\uff10"}, "總額100元"},
    {"negative_brings_under_limit", {"1", "-1"}, {"1500000", "600000"}, "總額900000元"},
    {"missing_price_cell", {"1", "2"}, {"5"}, "金額輸入錯誤"},
};

INSTANTIATE_TEST_SUITE_P(Cases, GrandTotalCaption, testing::ValuesIn(kTotalCases), CaseLabel{});

}  // namespace
}  // namespace receiptora
