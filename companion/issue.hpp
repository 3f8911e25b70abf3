// Issuing receipts into a shop's output folder: number, PDF, PNG, ledger line. Plain C++ (no
// Python), so the worker and the batch command run it with the GIL released.
#pragma once

#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "receiptora/render/receipt.hpp"
#include "receiptora/store/files.hpp"
#include "receiptora/store/ledger.hpp"
#include "receiptora/store/numbering.hpp"
#include "receiptora/store/profile.hpp"

namespace quillmarkers {

// A rendered receipt whose PDF and PNG wait under temporary names in its month folder.
struct StagedReceipt {
  std::filesystem::path folder;
  receiptora::store::StagedFile pdf;
  receiptora::store::StagedFile png;
  receiptora::store::LedgerLine line;
};

// Renders `receipt` (already numbered) and writes both files under temporary names; flushes
// each file when `flush` (otherwise the caller flushes many at once with sync_file_system).
// Throws on failure, leaving nothing behind.
StagedReceipt stage_receipt(const receiptora::render::Receipt& receipt, const std::filesystem::path& root,
                            receiptora::store::Day day, bool flush);

// Renames the staged files into place (never replacing one), flushes their folders, then
// appends their ledger lines, in order, to root's ledger in one write. Returns per receipt
// the failure that stopped it, or null.
std::vector<std::exception_ptr> commit_receipts(const std::filesystem::path& root,
                                                std::vector<StagedReceipt>& staged);

// One receipt, durably: claim the next number of `day`, stage with flushing, commit.
// Throws on failure (std::system_error for the files, std::runtime_error from the
// renderer); a number claimed before the failure stays unused.
std::string issue_receipt(receiptora::render::Receipt receipt, const std::filesystem::path& root,
                          receiptora::store::Day day);

}  // namespace quillmarkers
