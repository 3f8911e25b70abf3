// Prints how long the 給會計 folder of a month of 3,000 receipts takes to write (the month's
// check, the workbook, the 月報表 with its list pages, every receipt's PDF copied, 說明.txt), and
// how long the check of that month alone takes. Each receipt is a PDF and a PNG of about 20 kB,
// as the renderer writes them; one in fifty is void.
//   bench_accountant [RECEIPTS] [TEMP_FOLDER]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "receiptora/reports/accountant.hpp"
#include "receiptora/store/audit.hpp"
#include "receiptora/store/book.hpp"
#include "receiptora/store/ledger.hpp"

namespace fs = std::filesystem;
namespace store = receiptora::store;

namespace {

void fill(const fs::path& root, long count) {
  std::mt19937_64 random(7);
  std::string bytes(20000, '\0');
  std::vector<store::Record> records;
  std::vector<store::LedgerLine> lines;
  fs::create_directories(root / "2026-12");
  store::Book book(root);
  const long per_day = (count + 29) / 30;
  for (long i = 0; i < count; ++i) {
    char number[40], date[16];
    std::snprintf(date, sizeof date, "2026-12-%02ld", 1 + i / per_day);
    std::snprintf(number, sizeof number, "收據-202612%02ld-%03ld", 1 + i / per_day, 1 + i % per_day);
    store::Record r;
    r.number = number;
    r.date = date;
    r.state = i % 50 == 49 ? store::State::Void : store::State::Issued;
    r.buyer = i % 3 ? "林記茶行" : "陳小姐";
    r.buyer_tax_id = i % 3 ? "22099131" : "";
    r.items = {{"凍頂烏龍茶", "2", "350", ""}};
    r.total = "700";
    r.ledger_written = true;
    r.issued_at = std::string(date) + "T10:00:00";
    if (r.state == store::State::Void) {
      r.void_reason = "金額打錯";
      r.voided_at = std::string(date) + "T11:00:00";
    }
    const std::vector<std::pair<std::string, std::string>> files =
        r.state == store::State::Void
            ? std::vector<std::pair<std::string, std::string>>{{".pdf", "original"},
                                                               {".png", "original"},
                                                               {"-作廢.pdf", "void"},
                                                               {"-作廢.png", "void"}}
            : std::vector<std::pair<std::string, std::string>>{{".pdf", "original"}, {".png", "original"}};
    for (const auto& [suffix, kind] : files) {
      for (auto& c : bytes) c = static_cast<char>(random());
      const std::string name = std::string("2026-12/") + number + suffix;
      std::ofstream(root / name, std::ios::binary) << bytes;
      r.files.push_back({name, store::sha256_hex(bytes), kind});
    }
    if (r.state == store::State::Void) {
      store::Record original = r;
      original.state = store::State::Issued;
      lines.push_back(store::ledger_line_of(original));
    }
    lines.push_back(store::ledger_line_of(r));
    records.push_back(std::move(r));
  }
  store::insert_records(book, records);
  store::append_ledger(root / std::string(store::kLedgerName), lines);
  for (const store::Record& record : records)  // as a void leaves them: the clean original out of view
    if (record.state == store::State::Void) store::keep_originals_out_of_view(root, record);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const long count = argc > 1 ? std::atol(argv[1]) : 3000;
  std::string pattern =
      ((argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path()) / "bench-XXXXXX").string();
  const fs::path work = ::mkdtemp(pattern.data());
  const fs::path root = work / "shop";
  fill(root, count);
  {
    const auto book = store::open_book_for_reading(root);
    auto start = std::chrono::steady_clock::now();
    const store::AuditReport audit = store::audit_folder(*book, 0, "2026-12");
    std::printf("check of the month (%ld receipts, %zu files): %.2f s (target 3 s)%s\n", count, audit.files,
                seconds_since(start), audit.sound() ? "" : " — faults found!");
    if (!audit.sound())
      std::printf("  first fault: %s %s\n", audit.faults[0].number.c_str(), audit.faults[0].problem.c_str());
    start = std::chrono::steady_clock::now();
    const auto made = receiptora::reports::write_accountant_folder(*book, {2026, 12}, work / "dest");
    std::printf("給會計 folder (%zu receipts, %zu PDFs): %.2f s (target 10 s)\n", made.receipts, made.pdfs,
                seconds_since(start));
  }
  fs::remove_all(work);
  return 0;
}
