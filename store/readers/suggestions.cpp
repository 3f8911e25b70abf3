#include "receiptora/store/suggestions.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace receiptora::store {

namespace {

constexpr double kHalfLifeDays = 90;

// Days since 1970-01-01 of an ISO date; nullopt-like -1e9 when it is not one.
double day_number(std::string_view iso) {
  int y = 0, m = 0, d = 0;
  if (iso.size() < 10 || std::sscanf(std::string(iso.substr(0, 10)).c_str(), "%4d-%2d-%2d", &y, &m, &d) != 3)
    return -1e9;
  // Howard Hinnant's days_from_civil.
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097.0 + doe - 719468.0;
}

std::string_view trimmed(std::string_view text) {
  auto space_at = [&](size_t i) -> size_t {  // bytes of the white space at i, 0 when none
    if (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
      return 1;
    if (text.substr(i, 3) == "\xE3\x80\x80") return 3;  // U+3000
    return 0;
  };
  while (size_t n = space_at(0)) text.remove_prefix(n);
  for (bool more = true; more && !text.empty();) {
    more = false;
    if (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' || text.back() == '\r') {
      text.remove_suffix(1);
      more = true;
    } else if (text.size() >= 3 && text.substr(text.size() - 3) == "\xE3\x80\x80") {
      text.remove_suffix(3);
      more = true;
    }
  }
  return text;
}

}  // namespace

std::string fold_for_matching(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0xEF && i + 2 < text.size()) {
      const auto b = static_cast<unsigned char>(text[i + 1]), t = static_cast<unsigned char>(text[i + 2]);
      // U+FF01..U+FF5E: EF BC 81..BF, EF BD 80..9E → '!'..'~'
      if ((b == 0xBC && t >= 0x81 && t <= 0xBF) || (b == 0xBD && t >= 0x80 && t <= 0x9E)) {
        const char ascii = static_cast<char>(0x21 + (b == 0xBC ? t - 0x81 : t - 0x80 + 0x3F));
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(ascii)));
        i += 3;
        continue;
      }
    }
    if (c == 0xE3 && text.substr(i, 3) == "\xE3\x80\x80") {
      out += ' ';
      i += 3;
      continue;
    }
    out += c < 0x80 ? static_cast<char>(std::tolower(c)) : static_cast<char>(c);
    ++i;
  }
  return out;
}

double suggestion_weight(const Suggestion& suggestion, std::string_view today) {
  const double age = std::max(0.0, day_number(today) - day_number(suggestion.last_day));
  return static_cast<double>(suggestion.uses) * std::exp2(-age / kHalfLifeDays);
}

void SuggestionList::assign(std::vector<Suggestion> all) {
  all_ = std::move(all);
  folded_.clear();
  folded_.reserve(all_.size());
  for (const Suggestion& s : all_) folded_.push_back(fold_for_matching(s.name));
  weights_.clear();
  order_.clear();
  weighed_on_.clear();
}

void SuggestionList::weigh(std::string_view today) {
  if (weighed_on_ == today && weights_.size() == all_.size()) return;
  weights_.resize(all_.size());
  for (size_t i = 0; i < all_.size(); ++i) weights_[i] = suggestion_weight(all_[i], today);
  weighed_on_ = today;
  // Best first, once: a keystroke then walks this order and stops at the limit's match.
  order_.resize(all_.size());
  std::iota(order_.begin(), order_.end(), size_t{0});
  std::sort(order_.begin(), order_.end(), [&](size_t a, size_t b) {
    if (weights_[a] != weights_[b]) return weights_[a] > weights_[b];
    if (all_[a].last_day != all_[b].last_day) return all_[a].last_day > all_[b].last_day;
    if (all_[a].name != all_[b].name) return all_[a].name < all_[b].name;
    return all_[a].detail < all_[b].detail;
  });
}

std::vector<Suggestion> SuggestionList::match(std::string_view typed, std::string_view today, size_t limit) {
  const std::string needle = fold_for_matching(trimmed(typed));
  if (needle.empty() || limit == 0) return {};
  weigh(today);
  std::vector<Suggestion> out;
  for (size_t i = 0; i < order_.size() && out.size() < limit; ++i)
    if (folded_[order_[i]].find(needle) != std::string::npos) out.push_back(all_[order_[i]]);
  return out;
}

}  // namespace receiptora::store
