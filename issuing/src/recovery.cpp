// Opening a folder's book for writing, once per process, and recovery at that first open:
// a book SQLite cannot read is kept aside and rebuilt, receipts the book does not know are
// imported, pending records whose process is gone are finished, missing ledger lines written.
#include <map>
#include <memory>
#include <mutex>

#include "owners.hpp"
#include "parts.hpp"
#include "receiptora/render/render.hpp"
#include "receiptora/store/book_ledger.hpp"
#include "receiptora/store/profile_edit.hpp"
#include "receiptora/store/file_error.hpp"
#include "receiptora/store/files.hpp"

namespace receiptora::issuing {

namespace {

using parts::file_name;

// Makes a pending record's files complete: a file already under its name is kept only when
// it is the very receipt of the record (the same bytes as the record renders to: a book
// older than the folder may hold the number of another receipt's files), what is missing is
// rendered again.
std::vector<store::BookFile> complete_files(const store::Record& record, const fs::path& root,
                                            bool& rendered) {
  const fs::path pdf = root / file_name(record, "", ".pdf");
  const render::RenderedPages pages = render::render_pages(store::receipt_from_record(record));
  // The PDF and each page's picture, by their names in the book.
  std::vector<std::pair<std::string, const std::string*>> files = {
      {file_name(record, "", ".pdf"), &pages.pdf}};
  for (size_t page = 1; page <= pages.pngs.size(); ++page)
    files.emplace_back(file_name(record, parts::page_tail(page), ".png"), &pages.pngs[page - 1]);
  std::error_code ec;
  rendered = false;
  parts::real_month_folder(root, record);
  for (const auto& [name, bytes] : files) {
    const fs::path target = root / name;
    if (fs::exists(fs::symlink_status(target, ec))) {
      // Records of versions that left the creation date to the renderer cannot be compared.
      if (!record.created_at.empty() && store::sha256_of_file(target) != store::sha256_hex(*bytes))
        throw std::runtime_error("檔案 " + target.string() +
                                 " 不是收據簿所記的這張收據（內容不符），不採用；請核對");
      continue;
    }
    try {
      store::commit_file(store::stage_file(target, *bytes, true));
      rendered = true;
    } catch (const std::system_error& error) {
      if (error.code().value() != EEXIST) throw;  // another process finished it meanwhile
    }
  }
  if (rendered) store::sync_folder(pdf.parent_path());
  std::vector<store::BookFile> out;
  for (const auto& [name, bytes] : files)
    out.push_back({name, store::sha256_of_file(root / name), "original"});
  return out;
}

struct Opened {
  std::unique_ptr<store::Book> book;
  Recovery recovery;
};

std::mutex g_books_mutex;
std::map<std::string, std::shared_ptr<Opened>>& books() {
  static auto* map = new std::map<std::string, std::shared_ptr<Opened>>;  // lives as long as the process
  return *map;
}

// Now as YYYYMMDD-HHMMSS, for a file name.
std::string stamp_now() {
  const std::string iso = store::now_iso();  // YYYY-MM-DDTHH:MM:SS+08:00
  return iso.substr(0, 4) + iso.substr(5, 2) + iso.substr(8, 2) + "-" + iso.substr(11, 2) +
         iso.substr(14, 2) + iso.substr(17, 2);
}

// Opens the book of `root` for writing; a book SQLite calls malformed is renamed aside
// (with its -wal and -shm) and a new one started, which recovery fills from the ledger and
// the files. Returns the note for the shop owner, empty when the book opened.
std::unique_ptr<store::Book> open_or_set_aside(const fs::path& root, std::string& note) {
  try {
    return std::make_unique<store::Book>(root);
  } catch (const store::BookError& error) {
    if (error.kind() != store::BookError::Kind::Corrupt) throw;
  }
  const RepairLock repairing(root);  // one process sets it aside; the others then open the new one
  try {
    return std::make_unique<store::Book>(root);
  } catch (const store::BookError& error) {
    if (error.kind() != store::BookError::Kind::Corrupt) throw;
  }
  const fs::path book = root / std::string(store::kBookName);
  const fs::path aside = root / ("收據簿-損壞-" + stamp_now() + ".sqlite3");
  fs::rename(book, aside);
  std::error_code ec;
  for (const char* tail : {"-wal", "-shm", "-journal"})
    if (fs::exists(book.string() + tail, ec)) fs::rename(book.string() + tail, aside.string() + tail, ec);
  note = "收據簿 " + book.string() + " 已損壞，無法讀取：原檔已保留為 " + aside.filename().string() +
         "，並依收據清冊與收據檔重建新的收據簿";
  return std::make_unique<store::Book>(root);
}

}  // namespace

Recovery recover(store::Book& book) {
  Recovery report;
  const fs::path root = book.folder();
  try {
    store::remove_stale_temporaries(root);
  } catch (const std::exception& error) {
    report.problems.push_back(error.what());
  }
  const bool first_time = !store::book_setting(book, "imported");
  report.imported = parts::import_folder(book, first_time, report.problems);
  if (first_time) store::set_book_setting(book, "imported", store::now_iso());
  for (const store::Record& record : store::records_in_state(book, store::State::Pending)) {
    if (owner_alive(root, record.owner)) continue;  // still being issued
    try {
      bool rendered = false;
      const auto files = complete_files(record, root, rendered);
      store::mark_issued(book, record.number, files, store::now_iso());
      ++(rendered ? report.rendered_again : report.completed);
    } catch (const std::exception& error) {
      report.problems.push_back(record.number + "：" + error.what());
      try {
        store::mark_unfinished(book, record.number, error.what());
        ++report.unfinished;
      } catch (const std::exception&) {
        // The book cannot be written now; the record stays pending for the next start.
      }
    }
  }
  // A void whose process stopped before the clean original left the month folder (or a
  // restored folder's void receipts): the original goes into the month's .原本 folder.
  for (const store::Record& record : store::records_in_state(book, store::State::Void)) {
    try {
      store::keep_originals_out_of_view(root, record);
    } catch (const std::exception& error) {
      report.problems.push_back(record.number + "：" + error.what());
    }
  }
  const store::LedgerWrite lines = store::write_missing_ledger_lines(book);
  report.ledger_lines = lines.lines;
  if (!lines.problem.empty()) report.problems.push_back(lines.problem);
  // Stamp pictures named by a path outside the folder (profiles saved before pictures were
  // kept in it) are copied in, so a backup of the folder carries them.
  for (std::string& note : store::keep_profile_pictures(root)) report.problems.push_back(std::move(note));
  return report;
}

store::Book& book_for(const fs::path& root) {
  std::shared_ptr<Opened> opened;
  {
    std::lock_guard lock(g_books_mutex);
    auto& slot = books()[root.string()];
    if (!slot) slot = std::make_shared<Opened>();
    opened = slot;
  }
  static std::mutex opening;
  std::lock_guard lock(opening);
  if (!opened->book) {
    std::error_code ec;
    fs::create_directories(root, ec);
    std::error_code probe;
    if (ec && !fs::is_directory(root, probe))  // a file on the way gives ENOTDIR, not EEXIST
      throw store::FileError((probe ? probe : ec).value(), "資料夾 " + root.string() + " 無法建立");
    std::string note;
    auto book = open_or_set_aside(root, note);
    this_owner(root);
    opened->recovery = recover(*book);
    if (!note.empty()) opened->recovery.problems.insert(opened->recovery.problems.begin(), note);
    opened->book = std::move(book);
  }
  return *opened->book;
}

Recovery recovery_of(const fs::path& root) {
  book_for(root);
  std::lock_guard lock(g_books_mutex);
  return books()[root.string()]->recovery;
}

void checkpoint_books() {
  std::vector<std::shared_ptr<Opened>> open;
  {
    std::lock_guard lock(g_books_mutex);
    for (auto& [root, opened] : books()) open.push_back(opened);
  }
  for (const auto& opened : open)
    if (opened->book) opened->book->checkpoint();
}

void close_books() {
  std::lock_guard lock(g_books_mutex);
  for (auto& [root, opened] : books()) opened->book.reset();
  books().clear();
}

}  // namespace receiptora::issuing
