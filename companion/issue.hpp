// Issuing one receipt into a shop's output folder: number, PDF, PNG, ledger line. Plain C++
// (no Python), so the worker and the batch command run it with the GIL released.
#pragma once

#include <filesystem>
#include <string>

#include "receiptora/render/receipt.hpp"
#include "receiptora/store/numbering.hpp"
#include "receiptora/store/profile.hpp"

namespace quillmarkers {

struct IssuedReceipt {
  std::string number;
  std::filesystem::path pdf;
  std::filesystem::path png;
};

receiptora::render::SellerProfile seller_profile(const receiptora::store::SellerDetails& details);

// Claims the next number of `day` in `root`, renders `receipt` under it, saves the PDF and
// the PNG atomically in the month folder and appends the ledger line. Throws on failure
// (std::system_error for the files, std::runtime_error from the renderer); a number claimed
// before the failure stays unused.
IssuedReceipt issue_receipt(receiptora::render::Receipt receipt, const std::filesystem::path& root,
                            receiptora::store::Day day);

}  // namespace quillmarkers
