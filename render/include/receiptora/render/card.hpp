// The shop's verification card 驗證卡: its name, 統一編號, public key as a QR code and the key's
// fingerprint, for buyers and the accountant to verify its receipts with.
#pragma once

#include <string>

#include "receiptora/render/render.hpp"

namespace receiptora::render {

struct KeyCard {
  std::string name;         // 商號名稱
  std::string tax_id;       // 統一編號, may be empty
  std::string fingerprint;  // 8 groups of 4 hex digits
  std::string code;         // what the QR code holds: the public key
};

// A6 landscape, as a PDF and a 300-dpi picture.
Rendered render_key_card(const KeyCard& card);

}  // namespace receiptora::render
