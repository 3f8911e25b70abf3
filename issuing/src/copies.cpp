// Copies of an issued receipt: the void copy (作廢, the reason, the day) and reprints (補印),
// and the ledger written again from the book. Void is final: a void receipt is never printed
// again clean, its clean original is moved out of the month's view (into .原本), and a void
// that fails leaves no file behind.
#include <map>
#include <system_error>

#include "parts.hpp"
#include "receiptora/render/render.hpp"
#include "receiptora/store/book_ledger.hpp"
#include "receiptora/store/files.hpp"

namespace receiptora::issuing {

namespace {

using parts::file_name;

// A copy rendered with `mark` and written under temporary names, for the first free name
// "<number><suffix>" (suffix, suffix-2, ...); place() renames it there.
struct StagedCopy {
  std::vector<store::StagedFile> files;  // pdf, then each page's png
  std::vector<store::BookFile> names;

  void place() {
    store::commit_file(files[0]);  // EEXIST when another copy took the name meanwhile
    size_t placed = 1;
    try {
      for (; placed < files.size(); ++placed) store::commit_file(files[placed]);
    } catch (...) {
      std::error_code ec;
      for (size_t k = 0; k < placed; ++k) fs::remove(files[k].target, ec);
      for (size_t k = placed + 1; k < files.size(); ++k) store::discard_file(files[k]);
      throw;
    }
    store::sync_folder(files[0].target.parent_path());
  }
  void discard() noexcept {
    for (const auto& file : files) store::discard_file(file);
  }
  void remove_placed() noexcept {
    std::error_code ec;
    for (const auto& file : files) fs::remove(file.target, ec);
  }
};

StagedCopy stage_copy(const store::Record& record, const fs::path& root, Mark mark, const std::string& suffix,
                      const std::string& kind) {
  Receipt receipt = store::receipt_from_record(record);
  receipt.mark = std::move(mark);
  const render::RenderedPages pages = render::render_pages(receipt);
  parts::real_month_folder(root, record);
  for (int n = 1; n < 1000; ++n) {
    const std::string tail = n == 1 ? suffix : suffix + "-" + std::to_string(n);
    const fs::path pdf = root / file_name(record, tail, ".pdf");
    const fs::path png = root / file_name(record, tail, ".png");
    std::error_code ec;
    if (fs::exists(fs::symlink_status(pdf, ec)) || fs::exists(fs::symlink_status(png, ec))) continue;
    StagedCopy copy;
    try {
      copy.files.push_back(store::stage_file(pdf, pages.pdf, true));
      copy.names.push_back({file_name(record, tail, ".pdf"), store::sha256_hex(pages.pdf), kind});
      for (size_t page = 1; page <= pages.pngs.size(); ++page) {
        const std::string name = file_name(record, tail + parts::page_tail(page), ".png");
        copy.files.push_back(store::stage_file(root / name, pages.pngs[page - 1], true));
        copy.names.push_back({name, store::sha256_hex(pages.pngs[page - 1]), kind});
      }
    } catch (...) {
      copy.discard();
      throw;
    }
    return copy;
  }
  throw IssueError(record.number, true, record.number + " 的副本找不到可用的檔名");
}

store::Record recorded(store::Book& book, const std::string& number) {
  auto record = store::find_receipt(book, number);
  if (!record)
    throw store::BookError(store::BookError::Kind::Unknown,
                           "收據簿 " + book.file().string() + " 沒有收據 " + number);
  return *record;
}

std::string never_issued(const std::string& number, store::State state) {
  return number + " 沒有開立成功（" + std::string(store::state_label(state)) + "）";
}

// Records the copy in the book through `record_with(place)`, which names the files in the
// book and calls place() inside its transaction; any failure leaves no file of the copy.
template <class Record>
void record_copy(StagedCopy& copy, Record&& record_with) {
  bool placed = false;
  try {
    record_with([&] {
      copy.place();
      placed = true;
    });
  } catch (...) {
    copy.discard();
    if (placed) copy.remove_placed();
    throw;
  }
}

std::vector<std::string> names_of(const std::vector<store::BookFile>& files) {
  std::vector<std::string> names;
  for (const auto& file : files) names.push_back(file.name);
  return names;
}

}  // namespace

std::vector<std::string> void_receipt(const fs::path& root, const std::string& number,
                                      const std::string& reason) {
  store::Book& book = book_for(root);
  const store::Record record = recorded(book, number);
  if (record.state == store::State::Void)
    throw store::BookError(store::BookError::Kind::AlreadyVoid, number + " 已經作廢");
  if (record.state != store::State::Issued)
    throw store::BookError(store::BookError::Kind::NotIssued, never_issued(number, record.state));
  // A receipt imported from a folder made before the book has no stored request to copy:
  // it is voided in the book and the ledger only.
  std::vector<std::string> files;
  // The copy takes its name inside the book's transaction, after the receipt is seen still
  // issued: a void refused (already void by another process, a book that cannot be
  // written) leaves no file.
  const std::string now = store::now_iso();
  if (record.issued_at.empty()) {
    store::mark_void(book, number, reason, now, {}, [] {});
  } else {
    StagedCopy copy = stage_copy(record, root, {Mark::Kind::Void, today(), reason}, "-作廢", "void");
    record_copy(copy,
                [&](const auto& place) { store::mark_void(book, number, reason, now, copy.names, place); });
    files = names_of(copy.names);
  }
  book.checkpoint();
  // Void in the book first, then the clean original leaves the month's view: a stop between
  // the two is finished by the next start's recovery.
  std::string kept;
  try {
    store::Record voided = recorded(book, number);
    store::keep_originals_out_of_view(root, voided);
  } catch (const std::exception& error) {
    kept = error.what();
  }
  const std::string problem = store::write_ledger_lines(book, {number}).problem;
  if (!problem.empty())
    throw IssueError(number, true, number + " 已在收據簿作廢，但收據清冊缺這一行：" + problem, 0,
                     IssueError::Kind::LedgerNotWritten);
  if (!kept.empty())
    throw IssueError(number, true,
                     number + " 已作廢，但原本未能移出月份資料夾：" + kept + "（下次啟動時再移）");
  return files;
}

std::vector<VoidOutcome> void_receipts(const fs::path& root, const std::vector<std::string>& numbers,
                                       const std::string& reason) {
  std::vector<VoidOutcome> outcomes;
  for (const std::string& number : numbers) {
    VoidOutcome outcome{number, {}, {}};
    try {
      outcome.files = void_receipt(root, number, reason);
    } catch (const std::exception& error) {
      outcome.error = error.what();
    }
    outcomes.push_back(std::move(outcome));
  }
  return outcomes;
}

RunPlan plan_run_void(const fs::path& root, const std::string& run, const std::vector<RunLine>& listed) {
  store::Book& book = book_for(root);
  RunPlan plan;
  std::map<std::string, const store::Record*> of_run;
  const std::vector<store::Record> records = store::records_of_run(book, run);
  for (const store::Record& record : records) {
    of_run[record.number] = &record;
    if (record.state == store::State::Issued) plan.receipts.push_back(record);
  }
  for (const RunLine& line : listed) {
    const auto found = of_run.find(line.number);
    std::string why;
    if (found == of_run.end()) {
      const auto record = store::find_receipt(book, line.number);
      why = !record ? "這個輸出資料夾的收據簿沒有這個號碼（開立結果是否屬於另一個資料夾？）"
            : record->run.empty() ? "收據簿記載它不是由批次開立的"
                                  : "收據簿記載它是另一次執行（" + record->run + "）開立的";
    } else if (found->second->order_label != line.order) {
      why = "開立結果上的訂單「" + line.order + "」與收據簿記載的「" + found->second->order_label + "」不同";
    } else if (found->second->state == store::State::Void) {
      why = "已經作廢";
    } else if (found->second->state != store::State::Issued) {
      why = never_issued(line.number, found->second->state);
    }
    if (!why.empty()) plan.refused.push_back({line.number, why});
  }
  return plan;
}

std::vector<VoidOutcome> void_run(const fs::path& root, const std::vector<std::string>& numbers,
                                  const std::string& reason) {
  std::vector<VoidOutcome> outcomes = void_receipts(root, numbers, reason);
  std::vector<std::string> voided;
  for (const VoidOutcome& outcome : outcomes)
    if (outcome.error.empty()) voided.push_back(outcome.number);
  store::release_batch_keys(book_for(root), voided);
  return outcomes;
}

std::vector<std::string> reprint_receipt(const fs::path& root, const std::string& number) {
  store::Book& book = book_for(root);
  const store::Record record = recorded(book, number);
  if (record.state == store::State::Void) {
    std::string copy;
    for (const auto& file : record.files)
      if (file.kind == "void" && fs::path(file.name).extension() == ".pdf") copy = file.name;
    throw store::BookError(
        store::BookError::Kind::AlreadyVoid,
        number + " 已作廢，不能補印" + (copy.empty() ? std::string() : "；要留底請列印作廢副本 " + copy));
  }
  if (record.state != store::State::Issued)
    throw store::BookError(store::BookError::Kind::NotIssued, never_issued(number, record.state));
  if (record.issued_at.empty())  // imported from a folder made before the book
    throw IssueError(number, true, number + " 是收據簿建立前開立的，沒有留下開立內容，無法補印（原檔不變）");
  // Each reprint says which it is (第 2 次), so a second copy is told from the first.
  int count = 1;
  for (const auto& file : record.files)
    count += file.kind == "reprint" && fs::path(file.name).extension() == ".pdf";
  StagedCopy copy = stage_copy(record, root, {Mark::Kind::Reprint, today(), "", count}, "-補印", "reprint");
  record_copy(copy, [&](const auto& place) { store::add_reprint(book, number, copy.names, place); });
  book.checkpoint();
  return names_of(copy.names);
}

store::LedgerRebuild rebuild_ledger(const fs::path& root) {
  store::Book& book = book_for(root);
  const store::LedgerRebuild rebuilt = store::rebuild_ledger_file(book);
  book.checkpoint();
  return rebuilt;
}

}  // namespace receiptora::issuing
