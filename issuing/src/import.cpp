// Importing receipts the book has no record of: an output folder made before the book (its
// ledger lines, files and .claimed markers, once), and at every start the files a stale book
// does not know (a restored copy, a folder copied without its -wal). Their numbers are never
// issued again.
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string_view>

#include "parts.hpp"
#include "receiptora/spreadsheet_cells.hpp"
#include "receiptora/store/ledger.hpp"

namespace receiptora::issuing::parts {

namespace {

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

// The ledger's records by number (a 作廢 line wins over the 已開立 one).
void from_ledger(const std::vector<std::vector<std::string>>& rows,
                 std::map<std::string, store::Record>& found) {
  for (const auto& row : rows) {
    store::Day day;
    if (row.size() < 7 || !number_day(row[0], day)) continue;
    store::Record r;
    r.number = row[0];
    r.date = iso(day);
    r.state = store::State::Issued;
    r.buyer = typed_text_of_cell(row[2]);
    r.buyer_tax_id = typed_text_of_cell(row[3]);
    r.total = row[5].empty() ? "0" : row[5];
    r.layout = row.size() > 7 && row[7] == "貓咪格式" ? Template::Cat : Template::General;
    if (row.size() > 8 && row[8] == "作廢") {
      r.state = store::State::Void;
      if (row.size() > 9) r.void_reason = typed_text_of_cell(row[9]);
    }
    if (row.size() > 8 && row[8] == "未完成") r.state = store::State::Unfinished;
    r.ledger_written = true;
    auto& entry = found[r.number];
    if (r.state == store::State::Void) {  // the amount is the receipt's, whatever sign its 作廢 line shows
      if (!entry.number.empty()) r.total = entry.total;
      if (r.total.starts_with('-')) r.total.erase(0, 1);
    }
    if (entry.number.empty() || r.state == store::State::Void) entry = r;
  }
}

void from_ledger(const fs::path& root, std::map<std::string, store::Record>& found) {
  from_ledger(store::read_ledger(root / std::string(store::kLedgerName)), found);
}

// How much of the ledger's end every start reads for lines the book lacks (a folder copied or
// restored with a book older than its ledger): the newest lines, which appends put last.
constexpr std::uint64_t kLedgerTail = 1 << 20;

// A receipt's files in a month folder: its own (收據-…-001.pdf, pages -第2頁.png), its void
// copy (-作廢) and reprints (-補印, -補印-2), each with the kind the book records.
struct FoundFile {
  std::string number;
  std::string kind;
};
std::optional<FoundFile> receipt_file(const std::string& name) {
  static const std::regex form(R"((收據-\d{8}-\d{3,9})(-作廢|-補印(-\d+)?)?(-第\d+頁)?\.(pdf|png))");
  std::smatch match;
  if (!std::regex_match(name, match, form)) return std::nullopt;
  store::Day day;
  if (!number_day(match[1], day)) return std::nullopt;
  const std::string copy = match[2];
  return FoundFile{match[1], copy.empty() ? "original" : copy == "-作廢" ? "void" : "reprint"};
}

// The file as the book records it, with its SHA-256. A file that cannot be read is left out of
// the record (a hash of nothing would pass for the receipt's) and named in `notes`: `check`
// then lists it as a receipt file without a record.
std::optional<store::BookFile> book_file(const fs::path& folder, const std::string& month,
                                         const std::string& name, const std::string& kind,
                                         std::vector<std::string>& notes) {
  try {
    return store::BookFile{month + "/" + name, store::sha256_of_file(folder / name), kind};
  } catch (const std::exception& error) {
    notes.push_back("收據檔 " + month + "/" + name + " 無法讀取，未記入收據簿（" + error.what() +
                    "）：請檢查這個檔案，receiptora check 會列出");
    return std::nullopt;
  }
}

}  // namespace

std::size_t import_folder(store::Book& book, bool first_time, std::vector<std::string>& notes) {
  const fs::path root = book.folder();
  const std::vector<std::string> numbers_known = store::record_numbers(book);
  const std::set<std::string> known(numbers_known.begin(), numbers_known.end());
  const std::vector<std::string> names_known = store::recorded_file_names(book);
  const std::set<std::string> named(names_known.begin(), names_known.end());
  std::map<std::string, store::Record> ledger;
  bool ledger_read = false;
  std::map<std::string, store::Record> found;
  if (first_time) {
    from_ledger(root, ledger);
    ledger_read = true;
    for (auto& [number, record] : ledger)
      if (!known.count(number)) found[number] = record;
  }
  // Copies of receipts the book knows that it does not name: made after the book was copied.
  std::map<std::string, std::vector<store::BookFile>> unnamed;
  std::error_code ec;
  for (fs::directory_iterator month(root, ec), end; !ec && month != end; month.increment(ec)) {
    const std::string name = month->path().filename().string();
    if (name.size() != 7 || name[4] != '-' || !month->is_directory(ec) || month->is_symlink(ec)) continue;
    std::map<std::string, std::vector<store::BookFile>> files;  // of numbers the book does not know
    std::set<std::string> claimed;
    std::error_code ec2;
    for (fs::directory_iterator it(month->path(), ec2); !ec2 && it != end; it.increment(ec2)) {
      const std::string file_name = it->path().filename().string();
      const auto receipt = receipt_file(file_name);
      if (!receipt || named.count(name + "/" + file_name) || it->is_symlink(ec2)) continue;
      if (known.count(receipt->number)) {
        if (receipt->kind == "original") continue;  // a known receipt's own files are recovery's to judge
        if (auto file = book_file(month->path(), name, file_name, receipt->kind, notes))
          unnamed[receipt->number].push_back(*file);
      } else {
        auto& its_files = files[receipt->number];  // its number is kept even when the file cannot be read
        if (auto file = book_file(month->path(), name, file_name, receipt->kind, notes))
          its_files.push_back(*file);
      }
    }
    // The clean originals of void receipts, kept in the month's .原本 folder: recorded under the
    // names they were issued with.
    const fs::path kept = month->path() / std::string(store::kKeptOriginals);
    for (fs::directory_iterator it(kept, ec2); !ec2 && it != end; it.increment(ec2)) {
      const std::string file_name = it->path().filename().string();
      const auto receipt = receipt_file(file_name);
      if (!receipt || receipt->kind != "original" || known.count(receipt->number) || it->is_symlink(ec2))
        continue;
      auto& into = files[receipt->number];  // its number is kept even when the file cannot be read
      if (auto file = book_file(kept, name, file_name, receipt->kind, notes)) into.push_back(*file);
    }
    ec2.clear();
    if (first_time)
      for (fs::directory_iterator it(month->path() / ".claimed", ec2); !ec2 && it != end; it.increment(ec2)) {
        store::Day day;
        if (number_day(it->path().filename().string(), day)) claimed.insert(it->path().filename().string());
      }
    if (!files.empty() && !ledger_read) {
      from_ledger(root, ledger);
      ledger_read = true;
    }
    for (auto& [number, its_files] : files) {
      claimed.erase(number);
      store::Day day;
      number_day(number, day);
      // What the ledger says of it, if it has a line; else saved without its line, which is
      // written now.
      auto listed = ledger.find(number);
      store::Record& entry = found[number];
      if (listed != ledger.end()) {
        entry = listed->second;
      } else {
        entry.number = number;
        entry.date = iso(day);
        entry.state = store::State::Issued;
        entry.unfinished_reason = store::kContentUnknown;
      }
      entry.files = its_files;
      for (const store::BookFile& file : its_files)
        if (file.kind == "void" && entry.state == store::State::Issued) {
          entry.state = store::State::Void;
          entry.void_reason = "由作廢副本得知（作廢的紀錄不在收據簿裡）";
        }
    }
    for (const std::string& number : claimed) {
      if (found.count(number) || known.count(number)) continue;
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
  // The ledger's newest lines the book lacks, their files gone too: their numbers were given
  // out, so they are kept (the audit names their missing files) and never issued again.
  if (!first_time) {
    std::map<std::string, store::Record> tail;
    from_ledger(store::read_ledger_tail(root / std::string(store::kLedgerName), kLedgerTail), tail);
    for (auto& [number, record] : tail)
      if (!known.count(number) && !found.count(number)) found[number] = record;
  }
  std::size_t unknown = 0;
  std::vector<store::Record> records;
  for (auto& [number, record] : found) {
    if (record.unfinished_reason == store::kContentUnknown) ++unknown;
    records.push_back(std::move(record));
  }
  std::size_t imported = records.empty() ? 0 : store::insert_records(book, records);
  std::size_t voided = 0;
  for (const auto& [number, files] : unnamed)
    voided += store::adopt_files(book, number, files, [&](const store::BookFile& file) {
      std::error_code gone;
      return fs::is_regular_file(fs::symlink_status(root / file.name, gone));
    });
  if (unknown)
    notes.push_back(
        std::to_string(unknown) +
        " 張收據只找到收據檔，收據簿與收據清冊都沒有它的買受人與總額（總額以 0 計）：請依收據檔核對，"
        "receiptora check 會列出");
  if (voided)
    notes.push_back(std::to_string(voided) + " 張收據依其作廢副本改記為作廢（收據簿裡原本記為已開立）");
  return imported;
}

}  // namespace receiptora::issuing::parts
