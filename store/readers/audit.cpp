#include "receiptora/store/audit.hpp"

#include <algorithm>
#include <atomic>
#include <map>
#include <regex>
#include <set>
#include <system_error>
#include <thread>

#include "receiptora/store/ledger.hpp"
#include "receiptora/store/signing.hpp"

namespace receiptora::store {

namespace {

// 收據-20261207-001 → ("20261207", 1); a number of another form gives an empty day.
std::pair<std::string, long> day_and_sequence(const std::string& number) {
  static const std::regex form(R"(收據-(\d{8})-(\d{3,6}))");
  std::smatch match;
  if (!std::regex_match(number, match, form)) return {"", 0};
  return {match[1], std::stol(match[2])};
}

std::string numbered(const std::string& day, long sequence) {
  std::string digits = std::to_string(sequence);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  return "收據-" + day + "-" + digits;
}

// The files of every issued or void record, each checked on one of `threads` threads.
void check_files(const fs::path& root, const std::vector<Record>& records, unsigned threads,
                 AuditReport& report) {
  struct Job {
    const Record* record;
    const BookFile* file;
    std::string problem;
  };
  std::vector<Job> jobs;
  for (const Record& record : records) {
    if (record.state != State::Issued && record.state != State::Void) continue;
    if (record.files.empty()) report.faults.push_back({record.number, "", "收據簿裡沒有它的檔案"});
    for (const BookFile& file : record.files) jobs.push_back({&record, &file, {}});
  }
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i; (i = next++) < jobs.size();) {
      Job& job = jobs[i];
      const std::string stored = stored_name(*job.record, *job.file);
      const fs::path path = root / stored;
      std::error_code ec;
      const fs::file_status status = fs::symlink_status(path, ec);
      if (!fs::exists(status) && stored != job.file->name &&
          fs::exists(fs::symlink_status(root / job.file->name, ec))) {
        job.problem = "作廢收據的原本仍在月份資料夾裡（應收在 " + std::string(kKeptOriginals) +
                      " 資料夾；receiptora 下次啟動時移入）";
      } else if (!fs::exists(status)) {
        job.problem = "檔案不見了";
      } else if (!fs::is_regular_file(status)) {
        job.problem = "不是一般檔案（捷徑、資料夾或裝置）";
      } else {
        try {
          if (sha256_of_file(path) != job.file->sha256) job.problem = "檔案內容與收據簿記錄的 SHA-256 不同";
        } catch (const std::exception&) {
          job.problem = "檔案無法讀取";
        }
      }
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < std::max(1u, threads); ++t) pool.emplace_back(work);
  work();
  for (std::thread& thread : pool) thread.join();
  for (const Job& job : jobs)
    if (!job.problem.empty())
      report.faults.push_back({job.record->number, stored_name(*job.record, *job.file), job.problem});
  report.files = jobs.size();
}

// Receipt files in the month folders that no record names.
void check_strays(const fs::path& root, const std::vector<Record>& records, const std::string& only,
                  AuditReport& report) {
  static const std::regex month(R"(\d{4}-\d{2})");
  static const std::regex receipt_file(R"((收據-\d{8}-\d{3,6})(-作廢|-補印(-\d+)?)?\.(pdf|png))");
  std::set<std::string> named, kept;  // kept: a void receipt's originals, which belong in .原本
  for (const Record& record : records)
    for (const BookFile& file : record.files) {
      const std::string stored = stored_name(record, file);
      named.insert(stored);
      if (stored != file.name) kept.insert(file.name);
    }
  std::error_code ec;
  for (const fs::directory_entry& folder : fs::directory_iterator(root, ec)) {
    const std::string name = folder.path().filename().string();
    if (!std::regex_match(name, month) || (!only.empty() && name != only) ||
        !fs::is_directory(folder.symlink_status()))
      continue;
    for (const fs::directory_entry& file : fs::directory_iterator(folder.path(), ec)) {
      const std::string file_name = file.path().filename().string();
      std::smatch match;
      if (std::regex_match(file_name, match, receipt_file) && !named.count(name + "/" + file_name) &&
          !kept.count(name + "/" + file_name))  // a void receipt's original still here: check_files says so
        report.faults.push_back({match[1], name + "/" + file_name, "收據簿裡沒有這個檔案"});
    }
  }
}

// Each day's numbers from 001 to its highest, every one in the book; nothing pending.
void check_numbers(const std::vector<Record>& records, AuditReport& report) {
  std::map<std::string, std::set<long>> days;
  for (const Record& record : records) {
    const auto [day, sequence] = day_and_sequence(record.number);
    if (!day.empty()) days[day].insert(sequence);
    if (record.state == State::Pending)
      report.faults.push_back({record.number, "", "待完成：開立到一半（下次啟動時會完成）"});
    if (record.state != State::Unfinished && record.unfinished_reason == kContentUnknown)
      report.faults.push_back(
          {record.number, "", std::string(kContentUnknown) + "（總額以 0 計）：請依收據檔核對"});
  }
  for (const auto& [day, sequences] : days)
    for (long sequence = 1; sequence < *sequences.rbegin(); ++sequence)
      if (!sequences.count(sequence))
        report.faults.push_back({numbered(day, sequence), "", "號碼有缺漏：收據簿裡沒有這個號碼"});
}

// The ledger against the book: the lines each record should have, once each, with its data.
void check_ledger(const fs::path& root, const std::vector<Record>& records, const std::string& only,
                  AuditReport& report) {
  const fs::path file = root / std::string(kLedgerName);
  const std::string shown(kLedgerName);
  std::vector<std::vector<std::string>> rows = read_ledger(file);
  if (!rows.empty() && !rows.front().empty() && rows.front()[0].find("收據號碼") != std::string::npos)
    rows.erase(rows.begin());
  if (!only.empty()) {  // the month's lines: their numbers carry its YYYYMM
    const std::string yyyymm = only.substr(0, 4) + only.substr(5, 2);
    std::erase_if(rows, [&](const std::vector<std::string>& row) {
      return row.empty() || day_and_sequence(row[0]).first.compare(0, 6, yyyymm) != 0;
    });
  }
  report.ledger_lines = rows.size();
  // A ledger from before 作廢 lines took their amount back: its 作廢 lines keep the amount
  // positive and have no reason; it is said once, and those two cells are not compared.
  const bool older = ledger_is_older(file);
  if (older)
    report.faults.push_back({"", shown,
                             shown + " 是舊格式：作廢行的總額不是負數，試算表加總會多算作廢的金額；"
                                     "請執行 receiptora ledger --rebuild 改寫一次"});
  for (auto& row : rows) {
    if (row.size() == 8) row.push_back(std::string(state_label(State::Issued)));  // a ledger before the book
    if (row.size() == 9) row.emplace_back();  // no 作廢原因 column: read as empty
  }
  std::map<std::pair<std::string, std::string>, std::vector<const std::vector<std::string>*>> lines;
  for (const auto& row : rows)
    if (row.size() >= 9) lines[{row[0], row[8]}].push_back(&row);
  std::set<std::pair<std::string, std::string>> expected;
  for (const Record& record : records) {
    if (record.state == State::Pending) continue;
    std::vector<State> states{record.state};
    if (record.state == State::Void) states.insert(states.begin(), State::Issued);
    for (State state : states) {
      const std::pair<std::string, std::string> key{record.number, std::string(state_label(state))};
      expected.insert(key);
      const auto found = lines.find(key);
      const std::string what = shown + " 的「" + key.second + "」行";
      if (found == lines.end()) {
        if (state == record.state) report.faults.push_back({record.number, shown, what + "不見了"});
        continue;
      }
      if (found->second.size() > 1)
        report.faults.push_back(
            {record.number, shown, what + "重複了 " + std::to_string(found->second.size()) + " 次"});
      Record as_listed = record;
      as_listed.state = state;
      const std::vector<std::string> want = ledger_cells(ledger_line_of(as_listed));
      const auto& row = *found->second.front();
      std::string differs;
      // A receipt imported from a folder made before the book (no issue time) has no items
      // and only the files found, so its ledger line is compared on what the import knew.
      const bool imported = record.issued_at.empty();
      for (size_t column = 1; column < want.size() && column < std::size(kLedgerColumns); ++column)
        if (row[column] != want[column] && !(imported && (column == 4 || column == 6)) &&
            !(older && state == State::Void && (column == 5 || column == 9)))
          differs += (differs.empty() ? "" : "、") + std::string(kLedgerColumns[column]) + "「" +
                     row[column] + "」（收據簿：「" + want[column] + "」）";
      if (!differs.empty())
        report.faults.push_back({record.number, shown, what + "與收據簿不同：" + differs});
    }
  }
  for (const auto& [key, found] : lines)
    if (!expected.count(key))
      report.faults.push_back({key.first, shown, shown + " 有「" + key.second + "」行，與收據簿不符"});
  for (const auto& row : rows)
    if (row.size() < 9)
      report.faults.push_back({row.empty() ? "" : row[0], shown, shown + " 有一行欄位不足"});
}

}  // namespace

namespace {

// The chain of signatures, and the key that continues it.
void check_chain(const Book& book, AuditReport& report) {
  const ChainReport chain = verify_chain(book);
  report.chain_links = chain.links;
  report.chain_whole = chain.whole();
  report.chain_note = book.version() >= 5 ? chain_batch_note(book) : std::string();
  if (!chain.whole()) report.faults.push_back({chain.broken_at, "", "驗證鏈在此斷開：" + chain.problem});
  std::error_code ec;
  if (book.version() >= 5 && !book_public_key(book).empty() &&
      !fs::exists(fs::symlink_status(book.folder() / std::string(kKeyName), ec)))
    report.faults.push_back(
        {"", std::string(kKeyName),
         "簽章金鑰不在輸出資料夾：請從備份放回，否則無法再開立收據（新收據無法接續驗證鏈）"});
}

}  // namespace

AuditReport audit_folder(const Book& book, unsigned threads, const std::string& month) {
  AuditReport report;
  const fs::path root = book.folder();
  std::vector<Record> records = all_records(book);
  if (!month.empty())
    std::erase_if(records, [&](const Record& record) { return record.date.compare(0, 7, month) != 0; });
  report.receipts = records.size();
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  check_files(root, records, threads, report);
  check_strays(root, records, month, report);
  check_numbers(records, report);
  check_ledger(root, records, month, report);
  check_chain(book, report);  // the whole chain: a month's links continue the months before
  std::stable_sort(report.faults.begin(), report.faults.end(),
                   [](const Fault& a, const Fault& b) { return a.number < b.number; });
  return report;
}

}  // namespace receiptora::store
