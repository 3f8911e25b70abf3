// The whole-number rule, case by case; the differential test against Python's int()
// lives in tests/bindings/test_whole_number_oracle.py.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "case_label.hpp"
#include "receiptora/whole_number.hpp"
#include "utf8.hpp"

namespace receiptora {
namespace {

struct Case {
  const char* label;
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

const Case kCases[] = {
    {"plain", "150", "150"},
    {"leading_zeros", "007", "7"},
    {"zero", "0", "0"},
    {"negative_zero", "-0", "0"},
    {"plus_sign", "+7", "7"},
    {"minus_sign", "-2", "-2"},
    {"spaces_around", " 7 ", "7"},
    {"tabs_and_newlines", "\t7\n", "7"},
    {"ideographic_spaces", "\u30003\u3000", "3"},
    {"nbsp_and_line_separator", "\u00a05\u2028", "5"},
    {"fullwidth_digits", "\uff13\uff10\uff10", "300"},
    {"arabic_indic_digits", "\u0661\u0662", "12"},
    {"mixed_scripts", "1\u0662\uff13", "123"},
    {"single_underscore", "1_000", "1000"},
    {"underscores_between_each", "1_2_3", "123"},
    {"empty", "", std::nullopt},
    {"only_spaces", "   ", std::nullopt},
    {"only_sign", "+", std::nullopt},
    {"double_underscore", "1__000", std::nullopt},
    {"leading_underscore", "_1", std::nullopt},
    {"trailing_underscore", "1_", std::nullopt},
    {"underscore_after_sign", "+_1", std::nullopt},
    {"decimal_point", "1.5", std::nullopt},
    {"thousands_comma", "1,000", std::nullopt},
    {"space_between_sign_and_digits", "+ 7", std::nullopt},
    {"space_inside_digits", "1 000", std::nullopt},
    {"unit_after_digits", "100元", std::nullopt},
    {"letters", "abc", std::nullopt},
    {"fullwidth_plus", "\uff0b7", std::nullopt},
    {"double_sign", "--7", std::nullopt},
    {"ascii_unit_separator_is_no_space", "0\x1f", std::nullopt},
    {"next_line_is_space", "\u00857", "7"},
    {"superscript_two_is_not_decimal", "\u00b2", std::nullopt},
    {"chinese_numeral_is_not_decimal", "\u4e09", std::nullopt},
    {"hex_prefix", "0x10", std::nullopt},
    {"embedded_nul",
     std::string("1\0"
                 "2",
                 3),
     std::nullopt},
    {"malformed_utf8", "1\xff", std::nullopt},
    {"eleven_nines", "99999999999", "99999999999"},
};

INSTANTIATE_TEST_SUITE_P(Cases, WholeNumber, testing::ValuesIn(kCases), CaseLabel{});

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
