// Prints how long `receiptora backup` takes for a folder of 10,000 receipts and `receiptora
// check` for one of 100,000 (each receipt a PDF and a PNG of about 20 kB, as the renderer
// writes them), the first run after the files were written (the page cache still warm); and
// the backup again while a thread issues real receipts into the folder, with what `check`
// finds in that backup (target: ≤ 30 s and no fault):
//   bench_backup_check [BACKUP_RECEIPTS] [CHECK_RECEIPTS] [TEMP_FOLDER]
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "receiptora/issuing/issue.hpp"
#include "receiptora/store/audit.hpp"
#include "receiptora/store/backup.hpp"
#include "receiptora/store/book.hpp"
#include "receiptora/store/ledger.hpp"

namespace fs = std::filesystem;
namespace store = receiptora::store;

namespace {

// `count` issued receipts over the days of 2026, each with its two files and ledger line.
void fill(const fs::path& root, long count) {
  std::mt19937_64 random(7);
  std::string bytes(20000, '\0');
  std::vector<store::Record> records;
  std::vector<store::LedgerLine> lines;
  fs::create_directories(root);
  store::Book book(root);
  const long per_day = 400;  // 250 days for 100,000 receipts
  for (long i = 0; i < count; ++i) {
    const int day = static_cast<int>(i / per_day);
    char number[40], date[16], month[8];
    std::snprintf(date, sizeof date, "2026-%02d-%02d", 1 + day / 28 % 12, 1 + day % 28);
    std::snprintf(month, sizeof month, "%.7s", date);
    std::snprintf(number, sizeof number, "收據-%.4s%.2s%.2s-%03ld", date, date + 5, date + 8,
                  1 + i % per_day);
    fs::create_directories(root / month);
    store::Record r;
    r.number = number;
    r.date = date;
    r.state = store::State::Issued;
    r.buyer = "林記茶行";
    r.items = {{"茶", "1", "350", ""}};
    r.total = "350";
    r.ledger_written = true;
    for (const char* suffix : {".pdf", ".png"}) {
      for (auto& c : bytes) c = static_cast<char>(random());
      const std::string name = std::string(month) + "/" + number + suffix;
      std::ofstream(root / name, std::ios::binary) << bytes;
      r.files.push_back({name, store::sha256_hex(bytes), "original"});
    }
    lines.push_back(store::ledger_line_of(r));
    records.push_back(std::move(r));
    if (records.size() == 5000 || i + 1 == count) {
      store::insert_records(book, records);
      store::append_ledger(root / std::string(store::kLedgerName), lines);
      records.clear();
      lines.clear();
    }
  }
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const long backup_count = argc > 1 ? std::atol(argv[1]) : 10000;
  const long check_count = argc > 2 ? std::atol(argv[2]) : 100000;
  std::string pattern =
      ((argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path()) / "bench-XXXXXX").string();
  const fs::path work = ::mkdtemp(pattern.data());

  fill(work / "backup", backup_count);
  {
    store::Book book(work / "backup");
    const auto start = std::chrono::steady_clock::now();
    const store::BackupReport report = store::back_up(book, work / "dest");
    std::printf("backup of %ld receipts (%zu files, each checked): %.1f s\n", backup_count, report.files,
                seconds_since(start));
  }
  {
    // The same folder again, a thread issuing receipts meanwhile, as a batch would.
    std::atomic<bool> done{false};
    std::atomic<long> issued{0};
    std::thread batch([&] {
      for (long n = 0; !done; ++n) {
        receiptora::Receipt receipt;
        receipt.buyer = "批次客戶 " + std::to_string(n);
        receipt.date = receiptora::Date{2026, 12, 8};
        receipt.items = {{"茶", 1, 350, ""}};
        receiptora::issuing::issue_receipt(receipt, work / "backup", {2026, 12, 8});
        ++issued;
      }
    });
    while (issued == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    store::Book book(work / "backup");
    const auto start = std::chrono::steady_clock::now();
    const store::BackupReport report = store::back_up(book, work / "dest-during");
    const double took = seconds_since(start);
    const long during = issued;
    done = true;
    batch.join();
    receiptora::issuing::close_books();
    store::Book copy(report.folder, store::Book::Access::Read);
    const store::AuditReport audit = store::audit_folder(copy);
    std::printf(
        "backup of %zu receipts while a batch issued %ld more (%zu issued after the copy left out): "
        "%.1f s; check of the backup: %zu faults\n",
        report.receipts, during, report.left_out, took, audit.faults.size());
    for (size_t i = 0; i < audit.faults.size() && i < 5; ++i)
      std::printf("  %s %s %s\n", audit.faults[i].number.c_str(), audit.faults[i].file.c_str(),
                  audit.faults[i].problem.c_str());
  }
  fs::remove_all(work / "backup");
  fs::remove_all(work / "dest");
  fs::remove_all(work / "dest-during");

  fill(work / "check", check_count);
  {
    store::Book book(work / "check");
    const auto start = std::chrono::steady_clock::now();
    const store::AuditReport report = store::audit_folder(book);
    std::printf("check of %zu receipts (%zu files hashed, %zu ledger lines, %zu faults): %.1f s\n",
                report.receipts, report.files, report.ledger_lines, report.faults.size(),
                seconds_since(start));
  }
  fs::remove_all(work);
  return 0;
}
