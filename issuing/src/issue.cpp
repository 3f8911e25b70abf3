#include "receiptora/issuing/issue.hpp"

#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>

#include "owners.hpp"
#include "receiptora/render/render.hpp"
#include "receiptora/store/ledger.hpp"

namespace receiptora::issuing {

namespace {

namespace store = receiptora::store;

fs::path ledger_of(const fs::path& root) { return root / std::string(store::kLedgerName); }

std::string month_of(const store::Record& record) { return record.date.substr(0, 7); }

int error_code(const std::exception& error) {
  if (const auto* system = dynamic_cast<const std::system_error*>(&error)) return system->code().value();
  return 0;
}

// The names of a receipt's files (and of its copies: "-作廢", "-補印-2") in its month folder.
std::string file_name(const store::Record& record, const std::string& suffix, const char* extension) {
  return month_of(record) + "/" + record.number + suffix + extension;
}

// Appends the records' ledger lines and notes them in the book; returns the problem, if any.
std::string write_ledger_lines(store::Book& book, const std::vector<store::Record>& records) {
  if (records.empty()) return {};
  std::vector<store::LedgerLine> lines;
  std::vector<std::string> numbers;
  for (const store::Record& record : records) {
    lines.push_back(store::ledger_line_of(record));
    numbers.push_back(record.number);
  }
  try {
    store::append_ledger(ledger_of(book.folder()), lines);
  } catch (const std::exception& error) {
    return error.what();
  }
  try {
    store::mark_ledger_written(book, numbers);
  } catch (const std::exception&) {
    // The lines are out; the book not knowing it only means recovery writes them again.
  }
  return {};
}

// Makes a pending record's files complete: keeps those already under their names (renames
// never leave a half file there), renders again what is missing.
std::vector<store::BookFile> complete_files(const store::Record& record, const fs::path& root,
                                            bool& rendered) {
  const fs::path pdf = root / file_name(record, "", ".pdf");
  const fs::path png = root / file_name(record, "", ".png");
  std::error_code ec;
  rendered = !fs::exists(pdf, ec) || !fs::exists(png, ec);
  if (rendered) {
    const auto [pdf_bytes, png_bytes] = render::render_both(store::receipt_from_record(record));
    fs::create_directories(pdf.parent_path());
    for (const auto& [target, bytes] : {std::pair{pdf, &pdf_bytes}, std::pair{png, &png_bytes}}) {
      if (fs::exists(target, ec)) continue;
      try {
        store::commit_file(store::stage_file(target, *bytes, true));
      } catch (const std::system_error& error) {
        if (error.code().value() != EEXIST) throw;  // another process finished it meanwhile
      }
    }
    store::sync_folder(pdf.parent_path());
  }
  return {{file_name(record, "", ".pdf"), store::sha256_of_file(pdf), "original"},
          {file_name(record, "", ".png"), store::sha256_of_file(png), "original"}};
}

// --- importing an output folder made before the book ---

std::vector<std::string> csv_fields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// The ledger's records, one per line (quoted fields may hold line breaks).
std::vector<std::vector<std::string>> ledger_rows(const fs::path& file) {
  std::vector<std::vector<std::string>> rows;
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return rows;
  std::string text;
  try {
    text = [&] {
      std::FILE* f = std::fopen(file.c_str(), "rb");
      std::string out;
      if (!f) return out;
      char buffer[65536];
      for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out.append(buffer, n);
      std::fclose(f);
      return out;
    }();
  } catch (const std::exception&) {
    return rows;
  }
  std::string line;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == '\n' || c == '\r')) {
      if (!line.empty()) rows.push_back(csv_fields(line));
      line.clear();
      continue;
    }
    line += c;
  }
  if (!line.empty()) rows.push_back(csv_fields(line));
  for (auto& row : rows)
    for (auto& cell : row) cell = store::ledger_cell_text(cell);  // ="0459…" cells as their text
  return rows;
}

// "收據-20261207-003" → its day; false for any other name.
bool number_day(const std::string& number, store::Day& day) {
  const std::string prefix = "收據-";
  if (number.compare(0, prefix.size(), prefix) != 0 || number.size() < prefix.size() + 12) return false;
  const std::string rest = number.substr(prefix.size());
  if (rest[8] != '-') return false;
  for (size_t i = 0; i < rest.size(); ++i)
    if (i != 8 && (rest[i] < '0' || rest[i] > '9')) return false;
  day = {std::stoi(rest.substr(0, 4)), std::stoi(rest.substr(4, 2)), std::stoi(rest.substr(6, 2))};
  return day.month >= 1 && day.month <= 12 && day.day >= 1 && day.day <= 31 && rest.size() <= 8 + 1 + 9;
}

std::string iso(store::Day day) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", day.year, day.month, day.day);
  return text;
}

std::string untyped(std::string text) {  // the apostrophe the ledger put before formula-like text
  if (text.size() > 1 && text[0] == '\'' &&
      std::string_view("=+-@\t\r").find(text[1]) != std::string_view::npos)
    text.erase(0, 1);
  return text;
}

size_t import_folder(store::Book& book) {
  const fs::path root = book.folder();
  std::map<std::string, store::Record> found;
  for (const auto& row : ledger_rows(ledger_of(root))) {
    store::Day day;
    if (row.size() < 7 || !number_day(row[0], day)) continue;
    store::Record r;
    r.number = row[0];
    r.date = iso(day);
    r.state = store::State::Issued;
    r.buyer = untyped(row[2]);
    r.buyer_tax_id = untyped(row[3]);
    r.total = row[5].empty() ? "0" : row[5];
    r.layout = row.size() > 7 && row[7] == "貓咪格式" ? render::Template::Cat : render::Template::General;
    if (row.size() > 8 && row[8] == "作廢") r.state = store::State::Void;
    if (row.size() > 8 && row[8] == "未完成") r.state = store::State::Unfinished;
    r.ledger_written = true;
    auto& entry = found[r.number];
    if (entry.number.empty() || r.state == store::State::Void) entry = r;
  }
  std::error_code ec;
  for (fs::directory_iterator month(root, ec), end; !ec && month != end; month.increment(ec)) {
    const std::string name = month->path().filename().string();
    if (name.size() != 7 || name[4] != '-' || !month->is_directory(ec)) continue;
    std::set<std::string> numbers, claimed;
    std::error_code ec2;
    for (fs::directory_iterator it(month->path(), ec2); !ec2 && it != end; it.increment(ec2)) {
      const fs::path file = it->path();
      const std::string ext = file.extension().string();
      store::Day day;
      if ((ext == ".pdf" || ext == ".png") && number_day(file.stem().string(), day))
        numbers.insert(file.stem().string());
    }
    for (fs::directory_iterator it(month->path() / ".claimed", ec2); !ec2 && it != end; it.increment(ec2)) {
      store::Day day;
      if (number_day(it->path().filename().string(), day)) claimed.insert(it->path().filename().string());
    }
    for (const std::string& number : numbers) claimed.erase(number);
    for (const std::string& number : numbers) {
      store::Day day;
      number_day(number, day);
      store::Record r;
      r.number = number;
      r.date = iso(day);
      for (const char* ext : {".pdf", ".png"}) {
        const fs::path file = month->path() / (number + ext);
        if (!fs::exists(file, ec2)) continue;
        try {
          r.files.push_back({name + "/" + number + ext, store::sha256_of_file(file), "original"});
        } catch (const std::exception&) {
          r.files.push_back({name + "/" + number + ext, "", "original"});
        }
      }
      auto known = found.find(number);
      if (known != found.end()) {
        if (known->second.files.empty()) known->second.files = r.files;
        continue;
      }
      r.state = store::State::Issued;  // saved without its ledger line: the line is written now
      found[number] = r;
    }
    for (const std::string& number : claimed) {
      if (found.count(number)) continue;
      store::Day day;
      number_day(number, day);
      store::Record r;
      r.number = number;
      r.date = iso(day);
      r.state = store::State::Unfinished;
      r.unfinished_reason = "號碼已取用但未存檔（收據簿建立前）";
      found[number] = r;
    }
  }
  std::vector<store::Record> records;
  for (auto& [number, record] : found) records.push_back(std::move(record));
  return store::insert_records(book, records);
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

// Renders a copy of an issued receipt with `mark` under the first free name "<number><suffix>"
// (suffix, suffix-2, ...) and returns its files.
std::vector<store::BookFile> write_copy(const store::Record& record, const fs::path& root, render::Mark mark,
                                        const std::string& suffix, const std::string& kind) {
  render::Receipt receipt = store::receipt_from_record(record);
  receipt.mark = std::move(mark);
  const auto [pdf_bytes, png_bytes] = render::render_both(receipt);
  fs::create_directories(root / month_of(record));
  for (int n = 1; n < 1000; ++n) {
    const std::string tail = n == 1 ? suffix : suffix + "-" + std::to_string(n);
    const fs::path pdf = root / file_name(record, tail, ".pdf");
    const fs::path png = root / file_name(record, tail, ".png");
    std::error_code ec;
    if (fs::exists(pdf, ec) || fs::exists(png, ec)) continue;
    const store::StagedFile staged_pdf = store::stage_file(pdf, pdf_bytes, true);
    store::StagedFile staged_png;
    try {
      staged_png = store::stage_file(png, png_bytes, true);
      store::commit_file(staged_pdf);
    } catch (const std::system_error& error) {
      store::discard_file(staged_pdf);
      if (!staged_png.temp.empty()) store::discard_file(staged_png);
      if (error.code().value() == EEXIST) continue;
      throw;
    }
    try {
      store::commit_file(staged_png);
    } catch (const std::system_error& error) {
      if (error.code().value() != EEXIST) throw;
    }
    store::sync_folder(pdf.parent_path());
    return {{file_name(record, tail, ".pdf"), store::sha256_hex(pdf_bytes), kind},
            {file_name(record, tail, ".png"), store::sha256_hex(png_bytes), kind}};
  }
  throw IssueError(record.number, true, "no free file name for a copy of the receipt " + record.number);
}

store::Record issued_record(const fs::path& root, const std::string& number) {
  auto record = store::find_receipt(book_for(root), number);
  if (!record)
    throw store::BookError(
        store::BookError::Kind::Unknown,
        "there is no receipt " + number + " in the book " + book_for(root).file().string());
  return *record;
}

}  // namespace

render::Date today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

Recovery recover(store::Book& book) {
  Recovery report;
  const fs::path root = book.folder();
  try {
    store::remove_stale_temporaries(root);
  } catch (const std::exception& error) {
    report.problems.push_back(error.what());
  }
  if (!store::book_setting(book, "imported")) {
    report.imported = import_folder(book);
    store::set_book_setting(book, "imported", store::now_iso());
  }
  for (const store::Record& record : store::records_in_state(book, store::State::Pending)) {
    if (owner_alive(root, record.owner)) continue;  // still being issued
    try {
      bool rendered = false;
      const auto files = complete_files(record, root, rendered);
      store::mark_issued(book, record.number, files, store::now_iso());
      ++(rendered ? report.rendered_again : report.completed);
    } catch (const std::exception& error) {
      report.problems.push_back(record.number + ": " + error.what());
      try {
        store::mark_unfinished(book, record.number, error.what());
        ++report.unfinished;
      } catch (const std::exception&) {
        // The book cannot be written now; the record stays pending for the next start.
      }
    }
  }
  const auto missing = store::records_without_ledger_line(book);
  std::vector<store::Record> lines;
  std::vector<std::string> listed;  // lines out before a kill kept the book from noting them
  if (!missing.empty()) {
    std::set<std::pair<std::string, std::string>> present;  // number, state
    for (const auto& row : ledger_rows(ledger_of(root)))
      if (!row.empty()) present.insert({row[0], row.size() > 8 ? row[8] : "已開立"});
    for (const store::Record& record : missing) {
      std::vector<store::Record> wanted;
      if (record.state == store::State::Void) {  // its 已開立 line first, then the 作廢 one
        store::Record original = record;
        original.state = store::State::Issued;
        wanted.push_back(original);
      }
      wanted.push_back(record);
      bool any = false;
      for (store::Record& line : wanted)
        if (!present.count({line.number, std::string(store::state_label(line.state))})) {
          lines.push_back(std::move(line));
          any = true;
        }
      if (!any) listed.push_back(record.number);
    }
  }
  if (!listed.empty()) store::mark_ledger_written(book, listed);
  const std::string problem = write_ledger_lines(book, lines);
  if (problem.empty())
    report.ledger_lines = lines.size();
  else
    report.problems.push_back(problem);
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
      throw std::system_error(probe ? probe : ec, "cannot create the folder " + root.string());
    auto book = std::make_unique<store::Book>(root);
    this_owner(root);
    opened->recovery = recover(*book);
    opened->book = std::move(book);
  }
  return *opened->book;
}

Recovery recovery_of(const fs::path& root) {
  book_for(root);
  std::lock_guard lock(g_books_mutex);
  return books()[root.string()]->recovery;
}

std::string claim(store::Book& book, render::Receipt& receipt, store::Day day, const std::string& batch_key) {
  store::Record record = store::record_from_receipt(receipt, day);
  record.state = store::State::Pending;
  record.batch_key = batch_key;
  record.owner = this_owner(book.folder());
  try {
    receipt.number = store::claim_receipt(book, record);
  } catch (const std::exception& error) {
    throw IssueError("", false, std::string("no receipt number could be taken: ") + error.what(),
                     error_code(error));
  }
  return receipt.number;
}

Staged stage(store::Book& book, const render::Receipt& receipt, bool flush) {
  store::Record record;
  try {
    auto found = store::find_receipt(book, receipt.number);
    if (!found) throw std::runtime_error("the book has no record of it");
    record = std::move(*found);
    const fs::path folder = book.folder() / month_of(record);
    fs::create_directories(folder);
    const auto [pdf_bytes, png_bytes] = render::render_both(receipt);
    Staged staged{record, book.folder(), {}, {}, store::sha256_hex(pdf_bytes), store::sha256_hex(png_bytes)};
    staged.pdf = store::stage_file(folder / (receipt.number + ".pdf"), pdf_bytes, flush);
    try {
      staged.png = store::stage_file(folder / (receipt.number + ".png"), png_bytes, flush);
    } catch (...) {
      store::discard_file(staged.pdf);
      throw;
    }
    return staged;
  } catch (const std::exception& error) {
    const std::string reason = error.what();
    try {
      store::mark_unfinished(book, receipt.number, reason);
      if (!record.number.empty()) {
        record.state = store::State::Unfinished;
        record.unfinished_reason = reason;
        write_ledger_lines(book, {record});
      }
    } catch (const std::exception&) {
      // Left pending: the next start renders it again from the stored request.
    }
    throw IssueError(receipt.number, false, "the receipt " + receipt.number + " was not made: " + reason,
                     error_code(error));
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
        throw;
      }
      store::commit_file(staged[i].png);
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
      failures[i] = std::make_exception_ptr(
          IssueError(number, false,
                     "the receipt " + number + " was not saved: " + error.what() +
                         (pdf_there ? " (its PDF is saved; it is completed at the next start)" : ""),
                     error_code(error)));
    }
  }
  for (const fs::path& folder : folders) store::sync_folder(folder);
  if (renamed.empty()) return failures;

  const std::string now = store::now_iso();
  std::vector<store::Record> done;
  for (size_t i : renamed) {
    Staged& s = staged[i];
    s.record.state = store::State::Issued;
    s.record.issued_at = now;
    s.record.files = {{file_name(s.record, "", ".pdf"), s.pdf_sha256, "original"},
                      {file_name(s.record, "", ".png"), s.png_sha256, "original"}};
    try {
      store::mark_issued(book, s.record.number, s.record.files, now);
      done.push_back(s.record);
    } catch (const std::exception& error) {
      failures[i] = std::make_exception_ptr(
          IssueError(s.record.number, true,
                     "the receipt " + s.record.number + " is saved (" + s.record.files[0].name + ", " +
                         s.record.files[1].name + ") but the book could not record it: " + error.what() +
                         "; it is recorded at the next start",
                     error_code(error)));
    }
  }
  ledger_problem = write_ledger_lines(book, done);
  return failures;
}

Issued issue_receipt(render::Receipt receipt, const fs::path& root, store::Day day,
                     const std::string& batch_key) {
  store::Book& book = book_for(root);
  claim(book, receipt, day, batch_key);
  std::vector<Staged> staged{stage(book, receipt, true)};
  std::string ledger_problem;
  if (auto failure = commit(book, staged, ledger_problem).front()) std::rethrow_exception(failure);
  Issued issued{receipt.number, {}};
  if (!ledger_problem.empty())
    issued.ledger_problem = "the receipt " + receipt.number +
                            " is saved and in the book, but its ledger line is missing: " + ledger_problem;
  return issued;
}

std::vector<std::string> void_receipt(const fs::path& root, const std::string& number,
                                      const std::string& reason) {
  store::Book& book = book_for(root);
  store::Record record = issued_record(root, number);
  if (record.state == store::State::Void)
    throw store::BookError(store::BookError::Kind::AlreadyVoid, "the receipt " + number + " is already void");
  if (record.state != store::State::Issued)
    throw store::BookError(
        store::BookError::Kind::NotIssued,
        "the receipt " + number + " was never issued (" + std::string(store::state_name(record.state)) + ")");
  // A receipt imported from a folder made before the book has no stored request to copy:
  // it is voided in the book and the ledger only.
  std::vector<store::BookFile> copies;
  if (!record.issued_at.empty())
    copies = write_copy(record, root, {render::Mark::Kind::Void, today(), reason}, "-作廢", "void");
  const std::string now = store::now_iso();
  store::mark_void(book, number, reason, now, copies.empty() ? store::BookFile{} : copies[0]);
  if (copies.size() > 1) store::add_file(book, number, copies[1]);
  record.state = store::State::Void;
  record.void_reason = reason;
  record.voided_at = now;
  record.files.insert(record.files.end(), copies.begin(), copies.end());
  const std::string problem = write_ledger_lines(book, {record});
  if (!problem.empty())
    throw IssueError(
        number, true,
        "the receipt " + number + " is void in the book, but its ledger line is missing: " + problem);
  std::vector<std::string> names;
  for (const auto& copy : copies) names.push_back(copy.name);
  return names;
}

std::vector<std::string> reprint_receipt(const fs::path& root, const std::string& number) {
  store::Book& book = book_for(root);
  store::Record record = issued_record(root, number);
  if (record.state != store::State::Issued && record.state != store::State::Void)
    throw store::BookError(
        store::BookError::Kind::NotIssued,
        "the receipt " + number + " was never issued (" + std::string(store::state_name(record.state)) + ")");
  if (record.issued_at.empty())  // imported from a folder made before the book
    throw IssueError(number, true,
                     "the receipt " + number +
                         " was made before the book was kept; its request is not known, so it "
                         "cannot be printed again (its files stay as they are)");
  const auto copies =
      write_copy(record, root, {render::Mark::Kind::Reprint, today(), ""}, "-補印", "reprint");
  for (const auto& copy : copies) store::add_file(book, number, copy);
  return {copies[0].name, copies[1].name};
}

std::size_t rebuild_ledger(const fs::path& root) {
  store::Book& book = book_for(root);
  std::string text = store::ledger_header();
  std::vector<std::string> numbers;
  std::size_t count = 0;
  for (const store::Record& record : store::all_records(book)) {
    if (record.state == store::State::Pending) continue;
    if (record.state == store::State::Void) {
      store::Record original = record;
      original.state = store::State::Issued;
      text += store::ledger_line(store::ledger_line_of(original));
      ++count;
    }
    text += store::ledger_line(store::ledger_line_of(record));
    ++count;
    numbers.push_back(record.number);
  }
  const store::StagedFile staged = store::stage_file(ledger_of(root), text, true);
  std::error_code ec;
  fs::rename(staged.temp, staged.target, ec);  // replaces the old ledger in one step
  if (ec) {
    store::discard_file(staged);
    throw std::system_error(ec, "cannot replace the ledger " + ledger_of(root).string());
  }
  store::sync_folder(root);
  store::mark_ledger_written(book, numbers);
  return count;
}

}  // namespace receiptora::issuing
