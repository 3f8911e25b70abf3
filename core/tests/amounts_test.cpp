#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "case_label.hpp"
#include "case_table.hpp"
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
  std::string label;
  std::vector<std::string> quantities;
  std::vector<std::string> prices;
  std::string caption;
};

class GrandTotalCaption : public testing::TestWithParam<TotalCase> {};

TEST_P(GrandTotalCaption, Shows) {
  const TotalCase& c = GetParam();
  std::vector<std::u32string> q, p;
  for (const auto& t : c.quantities) q.push_back(u32(t));
  for (const auto& t : c.prices) p.push_back(u32(t));
  EXPECT_EQ(grand_total_caption(grand_total(q, p)), c.caption);
}

// The table the window's tests take their cases from too (tests/gui/test_refresh.py).
std::vector<TotalCase> total_cases() {
  std::vector<TotalCase> cases;
  for (const auto& row : case_table("grand_total"))
    cases.push_back({row["label"], row["quantities"], row["prices"], row["caption"]});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, GrandTotalCaption, testing::ValuesIn(total_cases()), CaseLabel{});

}  // namespace
}  // namespace receiptora
