// The one rule by which typed quantities and unit prices become exact integers.
#pragma once

#include <gmpxx.h>

#include <optional>
#include <string>
#include <string_view>

namespace receiptora {

// Reads text the way CPython 3.11's int(str) does, but without its digit limit:
// surrounding Unicode white space is dropped, then an optional ASCII sign is followed
// directly by Unicode decimal digits, with single underscores allowed between digits.
// Anything else (empty text, "1.5", "1,000", "+ 7", "1__0", a trailing unit) is no number.
std::optional<mpz_class> parse_whole_number(std::u32string_view text);

// A figure as people write one on a sheet or in a form: the whole-number rule above, or its
// digits grouped by thousands with commas (1,680; -12,345,678; the full-width ， a Chinese
// input method types), every group after the first of exactly three digits. The batch's
// sheets and the 賣方資料 form read their figures with it. The receipt window keeps the rule
// above: its item table reads quantities and prices as int() does.
std::optional<mpz_class> parse_figure(std::u32string_view text);

bool is_unicode_white_space(char32_t c);

// The decimal value 0..9 of a Unicode decimal digit, or -1 for any other character.
int unicode_decimal_value(char32_t c);

// Plain decimal text: no separators, no leading zeros, a leading "-" when negative.
std::string decimal_text(const mpz_class& value);

// The magnitude as little-endian bytes (empty for zero), for building a host integer
// without going through a decimal string.
std::string magnitude_bytes_le(const mpz_class& value);

}  // namespace receiptora
