#include "issue.hpp"

#include <gmpxx.h>

#include <cstdio>
#include <set>
#include <system_error>

#include "receiptora/render/render.hpp"

namespace quillmarkers {

namespace fs = std::filesystem;
namespace render = receiptora::render;
namespace store = receiptora::store;

StagedReceipt stage_receipt(const render::Receipt& receipt, const fs::path& root, store::Day day,
                            bool flush) {
  const auto [pdf_bytes, png_bytes] = render::render_both(receipt);

  StagedReceipt staged;
  staged.folder = store::month_folder(root, day);
  staged.pdf = store::stage_file(staged.folder / (receipt.number + ".pdf"), pdf_bytes, flush);
  try {
    staged.png = store::stage_file(staged.folder / (receipt.number + ".png"), png_bytes, flush);
  } catch (...) {
    store::discard_file(staged.pdf);
    throw;
  }

  mpz_class total = 0;
  for (const render::Item& item : receipt.items) total += item.quantity * item.unit_price;
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", day.year, day.month, day.day);
  const std::string month = staged.folder.filename().string() + "/";
  staged.line = {receipt.number,
                 date,
                 receipt.buyer,
                 receipt.buyer_tax_id,
                 receipt.items.size(),
                 total.get_str(),
                 month + receipt.number + ".pdf; " + month + receipt.number + ".png",
                 receipt.layout == render::Template::Cat ? "貓咪格式" : "一般格式"};
  return staged;
}

std::vector<std::exception_ptr> commit_receipts(const fs::path& root, std::vector<StagedReceipt>& staged) {
  std::vector<std::exception_ptr> failures(staged.size());
  std::set<fs::path> folders;
  std::vector<store::LedgerLine> lines;
  std::vector<size_t> listed;
  for (size_t i = 0; i < staged.size(); ++i) {
    try {
      try {
        store::commit_file(staged[i].pdf);
      } catch (...) {
        store::discard_file(staged[i].png);
        throw;
      }
      store::commit_file(staged[i].png);
      folders.insert(staged[i].folder);
      lines.push_back(staged[i].line);
      listed.push_back(i);
    } catch (...) {
      failures[i] = std::current_exception();
    }
  }
  for (const fs::path& folder : folders) store::sync_folder(folder);
  if (!lines.empty()) {
    try {
      store::append_ledger(root / std::string(store::kLedgerName), lines);
    } catch (const std::system_error& error) {
      // The receipts are saved; only their ledger lines are missing. Say so for each.
      const auto missing = std::make_exception_ptr(std::system_error(
          error.code(), "cannot add to the ledger " + (root / std::string(store::kLedgerName)).string() +
                            " (the receipt itself was saved)"));
      for (size_t i : listed) failures[i] = missing;
    }
  }
  return failures;
}

std::string issue_receipt(render::Receipt receipt, const fs::path& root, store::Day day) {
  receipt.number = store::claim_number(root, day);
  std::vector<StagedReceipt> staged{stage_receipt(receipt, root, day, true)};
  if (auto failure = commit_receipts(root, staged).front()) std::rethrow_exception(failure);
  return receipt.number;
}

}  // namespace quillmarkers
