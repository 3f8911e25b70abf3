// Prints how long the number core takes for a full item table and for huge numbers.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "receiptora/amounts.hpp"
#include "receiptora/request_rows.hpp"
#include "receiptora/whole_number.hpp"
#include "median.hpp"

namespace {

std::u32string random_digits(std::mt19937& rng, size_t n) {
  std::u32string s(n, U'0');
  std::uniform_int_distribution<int> d(0, 9);
  for (auto& c : s) c = U'0' + d(rng);
  s[0] = U'1' + d(rng) % 9;
  return s;
}

}  // namespace

int main() {
  using namespace receiptora;
  std::vector<std::u32string> names(7, U"商品"), quantities, prices;
  for (int i = 0; i < 7; ++i) {
    quantities.push_back(std::u32string(U" ") + static_cast<char32_t>(U'1' + i));
    prices.push_back(U"1_2" + std::u32string(1, U'0' + i) + U"\uff10");
  }
  volatile size_t sink = 0;
  const double table_us = median_microseconds(20001, [&] {
    for (int i = 0; i < 7; ++i) {
      sink = sink + line_total_text(quantities[i], prices[i]).size();
      sink = sink + (request_row(names[i], quantities[i], prices[i]).outcome == RowOutcome::Sent);
    }
    sink = sink + grand_total_caption(grand_total(quantities, prices)).size();
  });
  std::printf("seven rows: line totals + request rows + grand total: median %.2f us\n", table_us);

  std::mt19937 rng(7);
  const auto a = random_digits(rng, 100000), b = random_digits(rng, 100000);
  const double parse_us =
      median_microseconds(21, [&] { sink = sink + parse_whole_number(a)->get_mpz_t()->_mp_size; });
  const auto x = *parse_whole_number(a), y = *parse_whole_number(b);
  const double multiply_us = median_microseconds(21, [&] {
    mpz_class z = x * y;
    sink = sink + z.get_mpz_t()->_mp_size;
  });
  const double text_us = median_microseconds(21, [&] {
    mpz_class z = x * y;
    sink = sink + decimal_text(z).size();
  });
  std::printf(
      "100,000 digits: parse median %.0f us; multiply median %.0f us; "
      "multiply and print 200,000-digit product median %.0f us\n",
      parse_us, multiply_us, text_us);
  return 0;
}
