// The unified business number (統一編號): eight digits with a weighted checksum.
#pragma once

#include <string_view>

namespace receiptora {

// True when `text` is eight ASCII digits whose checksum holds: each digit times its weight
// (1,2,1,2,1,2,4,1), the digits of each product summed, the total divisible by 5 (the rule
// since April 2023; every number valid under the older divide-by-10 rule still passes).
// A seventh digit 7 gives 4×7 = 28 → 2+8 = 10, counted as 1 or as 0: either total may hold.
bool valid_tax_id(std::string_view text);

}  // namespace receiptora
