// Importing receipts the book has no record of: an output folder made before the book (its
// ledger lines, files and .claimed markers, once), and at every start the files a stale book
// does not know (a restored copy, a folder copied without its -wal). Their numbers are never
// issued again.
#include <map>
#include <set>
#include <string_view>

#include "parts.hpp"
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

std::string untyped(std::string text) {  // the apostrophe the ledger put before formula-like text
  if (text.size() > 1 && text[0] == '\'' &&
      std::string_view("=+-@\t\r").find(text[1]) != std::string_view::npos)
    text.erase(0, 1);
  return text;
}

// The ledger's records by number (a 作廢 line wins over the 已開立 one).
void from_ledger(const fs::path& root, std::map<std::string, store::Record>& found) {
  for (const auto& row : store::read_ledger(root / std::string(store::kLedgerName))) {
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
}

}  // namespace

std::size_t import_folder(store::Book& book, bool first_time) {
  const fs::path root = book.folder();
  const std::vector<std::string> numbers_known = store::record_numbers(book);
  const std::set<std::string> known(numbers_known.begin(), numbers_known.end());
  std::map<std::string, store::Record> ledger;
  bool ledger_read = false;
  std::map<std::string, store::Record> found;
  if (first_time) {
    from_ledger(root, ledger);
    ledger_read = true;
    for (auto& [number, record] : ledger)
      if (!known.count(number)) found[number] = record;
  }
  std::error_code ec;
  for (fs::directory_iterator month(root, ec), end; !ec && month != end; month.increment(ec)) {
    const std::string name = month->path().filename().string();
    if (name.size() != 7 || name[4] != '-' || !month->is_directory(ec) || month->is_symlink(ec)) continue;
    std::set<std::string> numbers, claimed;
    std::error_code ec2;
    for (fs::directory_iterator it(month->path(), ec2); !ec2 && it != end; it.increment(ec2)) {
      const fs::path file = it->path();
      const std::string ext = file.extension().string();
      store::Day day;
      if ((ext == ".pdf" || ext == ".png") && number_day(file.stem().string(), day) &&
          !known.count(file.stem().string()))
        numbers.insert(file.stem().string());
    }
    if (first_time)
      for (fs::directory_iterator it(month->path() / ".claimed", ec2); !ec2 && it != end; it.increment(ec2)) {
        store::Day day;
        if (number_day(it->path().filename().string(), day)) claimed.insert(it->path().filename().string());
      }
    if (!numbers.empty() && !ledger_read) {
      from_ledger(root, ledger);
      ledger_read = true;
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
      // What the ledger says of it, if it has a line; else saved without its line, which is
      // written now.
      auto listed = ledger.find(number);
      store::Record& entry = found[number];
      entry = listed != ledger.end() ? listed->second : r;
      entry.files = r.files;
      if (listed == ledger.end()) entry.state = store::State::Issued;
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
  std::vector<store::Record> records;
  for (auto& [number, record] : found) records.push_back(std::move(record));
  return records.empty() ? 0 : store::insert_records(book, records);
}

}  // namespace receiptora::issuing::parts
