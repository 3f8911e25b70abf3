// The whole-number rule, case by case from the table shared with the Python tests; the
// differential test against Python's int() lives in tests/bindings/test_whole_number_oracle.py.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "case_label.hpp"
#include "case_table.hpp"
#include "receiptora/whole_number.hpp"
#include "utf8.hpp"

namespace receiptora {
namespace {

struct Case {
  std::string label;
  std::string text;                  // UTF-8
  std::optional<std::string> value;  // decimal text, or nothing when the text is no number
};

class WholeNumber : public testing::TestWithParam<Case> {};

TEST_P(WholeNumber, ReadsLikePythonInt) {
  const Case& c = GetParam();
  const auto parsed = parse_whole_number_utf8(c.text);
  if (!c.value) {
    EXPECT_FALSE(parsed.has_value()) << "read as " << parsed->get_str();
  } else {
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->get_str(), *c.value);
  }
}

// The cases Python's int() is held to as well (tests/bindings/test_whole_number_oracle.py).
std::vector<Case> shared_cases() {
  std::vector<Case> cases;
  for (const auto& row : case_table("whole_number"))
    cases.push_back({row["label"], row["text"],
                     row["value"].is_null() ? std::nullopt : std::optional<std::string>(row["value"])});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, WholeNumber, testing::ValuesIn(shared_cases()), CaseLabel{});

// Bytes that are no UTF-8 reach only the C++ reader (Python's texts are always decoded).
TEST(WholeNumberUtf8, MalformedTextIsNoNumber) { EXPECT_FALSE(parse_whole_number_utf8("1\xff").has_value()); }

class Figure : public testing::TestWithParam<Case> {};

TEST_P(Figure, ReadsThousandsGroupsAndOtherwiseTheWholeNumberRule) {
  const Case& c = GetParam();
  const auto parsed = parse_figure(*decode_utf8(c.text));
  if (!c.value) {
    EXPECT_FALSE(parsed.has_value()) << "read as " << parsed->get_str();
  } else {
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->get_str(), *c.value);
  }
}

const Case kFigureCases[] = {
    {"plain", "1680", "1680"},
    {"grouped", "1,680", "1680"},
    {"millions_negative", "-12,345,678", "-12345678"},
    {"plus_and_spaces", " +1,000 ", "1000"},
    {"full_width", "１，６８０", "1680"},
    {"underscores_alone", "1_000", "1000"},
    {"group_of_two", "1,68", std::nullopt},
    {"group_of_four", "1,6800", std::nullopt},
    {"first_group_of_four", "1680,000", std::nullopt},
    {"leading_comma", ",680", std::nullopt},
    {"trailing_comma", "1,", std::nullopt},
    {"double_comma", "1,,680", std::nullopt},
    {"comma_and_underscore", "1,6_80", std::nullopt},
    {"decimal_point", "1,680.5", std::nullopt},
    {"sign_alone", "-,680", std::nullopt},
};
INSTANTIATE_TEST_SUITE_P(Cases, Figure, testing::ValuesIn(kFigureCases), CaseLabel{});

TEST(WholeNumberSize, TenThousandDigitsReadExactly) {
  std::string digits = "9" + std::string(9999, '0');
  const auto parsed = parse_whole_number_utf8(digits);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->get_str(), digits);
  EXPECT_EQ(parsed->get_str().size(), 10000u);
}

TEST(MagnitudeBytes, LittleEndianMagnitude) {
  EXPECT_EQ(magnitude_bytes_le(mpz_class(0)), "");
  EXPECT_EQ(magnitude_bytes_le(mpz_class(0x1234)), std::string("\x34\x12"));
  EXPECT_EQ(magnitude_bytes_le(mpz_class(-256)), std::string("\x00\x01", 2));
}

TEST(Utf8, RoundTripsAndRejectsSurrogates) {
  const std::u32string text = U"總額\U0001F600 7";
  EXPECT_EQ(decode_utf8(encode_utf8(text)), text);
  EXPECT_FALSE(decode_utf8("\xed\xa0\x80").has_value());  // encoded surrogate
  EXPECT_FALSE(decode_utf8("\xc0\xaf").has_value());      // overlong form
  EXPECT_FALSE(decode_utf8("\xe7\xb8").has_value());      // truncated
}

}  // namespace
}  // namespace receiptora
