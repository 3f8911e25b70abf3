#include "receiptora/tax_id.hpp"

namespace receiptora {

bool valid_tax_id(std::string_view text) {
  static constexpr int kWeights[8] = {1, 2, 1, 2, 1, 2, 4, 1};
  if (text.size() != 8) return false;
  int sum = 0;
  for (int i = 0; i < 8; ++i) {
    const char c = text[static_cast<size_t>(i)];
    if (c < '0' || c > '9') return false;
    const int product = (c - '0') * kWeights[i];
    sum += product / 10 + product % 10;
  }
  if (sum % 5 == 0) return true;
  // Seventh digit 7: 2+8 was counted as 10 above, which leaves the same remainder as
  // counting it as 0; counting it as 1 is the other reading.
  return text[6] == '7' && (sum - 9) % 5 == 0;
}

}  // namespace receiptora
