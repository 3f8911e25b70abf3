// The journal: claim (number and request stored as pending, one transaction), stage (both
// files rendered under temporary names), commit (renamed, marked issued, ledger line).
#include <ctime>
#include <set>
#include <system_error>

#include "owners.hpp"
#include "parts.hpp"
#include "receiptora/receipt_texts.hpp"
#include "receiptora/render/render.hpp"
#include "receiptora/store/book_ledger.hpp"
#include "receiptora/store/ledger.hpp"
#include "receiptora/store/signing.hpp"

namespace receiptora::issuing {

namespace parts {

int error_code(const std::exception& error) {
  if (const auto* system = dynamic_cast<const std::system_error*>(&error)) return system->code().value();
  return 0;
}

fs::path real_month_folder(const fs::path& root, const store::Record& record) {
  return store::real_month_folder(root, store::day_of(record));
}

}  // namespace parts

namespace {

using parts::error_code;
using parts::file_name;

// The record's ledger line, or why it is missing.
std::string list_one(store::Book& book, const std::string& number) {
  return store::write_ledger_lines(book, {number}).problem;
}

}  // namespace

Date today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

store::Claim claim(store::Book& book, Receipt& receipt, store::Day day, const std::string& batch_key,
                   const std::string& order_label, const std::string& run, bool hold_changed) {
  if (blank_text(receipt.seller.name)) throw IssueError("", false, kNoSeller, 0, IssueError::Kind::NoSeller);
  // The creation date is fixed now and kept with the request, so the receipt made again from
  // its record (recovery) is the same file, byte for byte.
  if (receipt.created_at.empty()) receipt.created_at = store::now_iso();
  store::Record record = store::record_from_receipt(receipt, day);
  record.state = store::State::Pending;
  record.batch_key = batch_key;
  record.order_label = order_label;
  record.run = run;
  record.owner = this_owner(book.folder());
  try {
    // The shop's key, made on the first receipt (never again once the book records one: a
    // lost key is restored from a backup); the number's transaction signs the record.
    if (!book.signer())
      store::attach_key(book, store::ShopKey::of_folder(book.folder(), store::book_public_key(book).empty()));
    store::Claim claimed = store::claim_receipt(book, record, hold_changed);
    if (!claimed.claimed_before && !claimed.held) {
      receipt.number = claimed.number;
      receipt.code = record.code;
      receipt.code_key = record.key_id;
    }
    return claimed;
  } catch (const std::exception& error) {
    throw IssueError("", false, std::string("未能取得收據號碼：") + error.what(), error_code(error));
  }
}

namespace {

void discard(const Staged& staged) noexcept {
  store::discard_file(staged.pdf);
  store::discard_file(staged.png);
  for (const store::StagedFile& page : staged.more_pngs) store::discard_file(page);
}

}  // namespace

void flush_staged(const fs::path& root, const std::vector<const Staged*>& staged) {
  try {
    store::sync_file_system(root);
  } catch (...) {
    for (const Staged* one : staged) discard(*one);
    throw;
  }
}

Staged stage(store::Book& book, const Receipt& receipt, bool flush) {
  store::Record record;
  try {
    auto found = store::find_receipt(book, receipt.number);
    if (!found) throw std::runtime_error("收據簿沒有這張收據的紀錄");
    record = std::move(*found);
    const fs::path folder = parts::real_month_folder(book.folder(), record);
    const render::RenderedPages rendered = render::render_pages(receipt);
    const std::string& png_bytes = rendered.pngs.front();
    Staged staged{
        record, book.folder(), {}, {}, store::sha256_hex(rendered.pdf), store::sha256_hex(png_bytes)};
    staged.pdf = store::stage_file(folder / (receipt.number + ".pdf"), rendered.pdf, flush);
    try {
      staged.png = store::stage_file(folder / (receipt.number + ".png"), png_bytes, flush);
      for (size_t page = 2; page <= rendered.pngs.size(); ++page) {
        const std::string& bytes = rendered.pngs[page - 1];
        staged.more_pngs.push_back(
            store::stage_file(folder / (receipt.number + parts::page_tail(page) + ".png"), bytes, flush));
        staged.more_png_sha256.push_back(store::sha256_hex(bytes));
      }
    } catch (...) {
      discard(staged);
      throw;
    }
    return staged;
  } catch (const std::exception& error) {
    const std::string reason = error.what();
    try {
      store::mark_unfinished(book, receipt.number, reason);
      list_one(book, receipt.number);
    } catch (const std::exception&) {
      // Left pending: the next start renders it again from the stored request.
    }
    throw IssueError(receipt.number, false, receipt.number + " 未開立：" + reason, error_code(error));
  }
}

std::vector<std::exception_ptr> commit(store::Book& book, std::vector<Staged>& staged,
                                       std::string& ledger_problem) {
  std::vector<std::exception_ptr> failures(staged.size());
  std::set<fs::path> folders;
  std::vector<size_t> renamed;
  for (size_t i = 0; i < staged.size(); ++i) {
    const std::string& number = staged[i].record.number;
    try {
      try {
        store::commit_file(staged[i].pdf);
      } catch (...) {
        store::discard_file(staged[i].png);
        for (const store::StagedFile& page : staged[i].more_pngs) store::discard_file(page);
        throw;
      }
      store::commit_file(staged[i].png);
      for (const store::StagedFile& page : staged[i].more_pngs) store::commit_file(page);
      folders.insert(staged[i].pdf.target.parent_path());
      renamed.push_back(i);
    } catch (const std::exception& error) {
      // A pdf renamed before its png failed stays: recovery completes the receipt.
      std::error_code ec;
      const bool pdf_there = fs::exists(staged[i].pdf.target, ec);
      if (!pdf_there) {
        try {
          store::mark_unfinished(book, number, error.what());
        } catch (const std::exception&) {
        }
      }
      failures[i] = std::make_exception_ptr(IssueError(
          number, false,
          number + " 未存檔：" + error.what() + (pdf_there ? "（PDF 已存檔，下次啟動時補齊）" : ""),
          error_code(error)));
    }
  }
  for (const fs::path& folder : folders) store::sync_folder(folder);
  if (renamed.empty()) return failures;

  const std::string now = store::now_iso();
  std::vector<store::IssuedFiles> done;
  for (size_t i : renamed) {
    Staged& s = staged[i];
    s.record.state = store::State::Issued;
    s.record.issued_at = now;
    s.record.files = {{file_name(s.record, "", ".pdf"), s.pdf_sha256, "original"},
                      {file_name(s.record, "", ".png"), s.png_sha256, "original"}};
    for (size_t k = 0; k < s.more_pngs.size(); ++k)
      s.record.files.push_back(
          {file_name(s.record, parts::page_tail(k + 2), ".png"), s.more_png_sha256[k], "original"});
    done.push_back({s.record.number, s.record.files});
  }
  try {
    ledger_problem = store::mark_issued_and_list(book, done, now).problem;
  } catch (const std::exception& error) {
    for (size_t i : renamed) {
      const store::Record& r = staged[i].record;
      failures[i] = std::make_exception_ptr(IssueError(r.number, true,
                                                       r.number + " 已存檔（" + r.files[0].name + "、" +
                                                           r.files[1].name + "），但收據簿未能記錄：" +
                                                           error.what() + "；下次啟動時補記",
                                                       error_code(error)));
    }
  }
  return failures;
}

Issued issue_receipt(Receipt receipt, const fs::path& root, store::Day day, const std::string& batch_key) {
  store::Book& book = book_for(root);
  const store::Claim claimed = claim(book, receipt, day, batch_key, {});
  if (claimed.claimed_before)
    throw IssueError(claimed.number, claimed.state != store::State::Pending,
                     "這筆已開立過：收據 " + claimed.number + "，不再開立");
  std::vector<Staged> staged{stage(book, receipt, true)};
  std::string ledger_problem;
  if (auto failure = commit(book, staged, ledger_problem).front()) std::rethrow_exception(failure);
  Issued issued{receipt.number, {}};
  if (!ledger_problem.empty())
    issued.ledger_problem = receipt.number + " 已存檔並記入收據簿，但收據清冊缺這一行：" + ledger_problem;
  return issued;
}

}  // namespace receiptora::issuing
