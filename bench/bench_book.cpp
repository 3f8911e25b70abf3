// Prints how long the receipt book takes to list a month and to sum a quarter when it holds
// 100,000 receipts (a year of a busy shop, about 275 a day), and to recover at start.
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "median.hpp"
#include "receiptora/issuing/batch.hpp"
#include "receiptora/issuing/issue.hpp"
#include "receiptora/store/book.hpp"
#include "receiptora/store/profile.hpp"

namespace {

namespace fs = std::filesystem;
using namespace receiptora::store;

template <class F>
double median_ms(int repeats, F&& f) {
  return median_microseconds(repeats, std::forward<F>(f)) / 1000.0;
}

// A book of `count` issued receipts spread over the days of 2026, every 50th void.
void fill(Book& book, int count) {
  std::vector<Record> records;
  const int per_day = count / 365 + 1;
  int made = 0;
  for (int month = 1; month <= 12 && made < count; ++month)
    for (int day = 1; day <= 28 + (month != 2) * 2 && made < count; ++day)
      for (int n = 1; n <= per_day && made < count; ++n, ++made) {
        Record r;
        char date[16];
        std::snprintf(date, sizeof date, "2026-%02d-%02d", month, day);
        r.date = date;
        r.number = receipt_number({2026, month, day}, n);
        r.state = made % 50 == 0 ? State::Void : State::Issued;
        r.buyer = "買受人" + std::to_string(made % 997);
        r.buyer_tax_id = "22099131";
        r.items = {{"茶葉", "3", "450", ""}, {"運費", "1", "80", ""}};
        r.total = "1430";
        r.files = {
            {std::string(date).substr(0, 7) + "/" + r.number + ".pdf", std::string(64, 'a'), "original"},
            {std::string(date).substr(0, 7) + "/" + r.number + ".png", std::string(64, 'b'), "original"}};
        r.ledger_written = true;
        records.push_back(std::move(r));
      }
  insert_records(book, records);
}

receiptora::render::Receipt seven_items(int i) {
  receiptora::render::Receipt r;
  r.buyer = "買受人" + std::to_string(i);
  r.buyer_tax_id = "22099131";
  r.seller.name = "林記茶行";  // a receipt without the shop's name is refused
  r.date = receiptora::render::Date{2026, 12, 7};
  for (int n = 0; n < 7; ++n) r.items.push_back({"茶葉", 3, 450 + n, ""});
  return r;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The journal itself: a press (both files, the record and the ledger line, each flushed), a
// batch on two threads, and a batch against a book another program keeps locked.
void journal_figures() {
  namespace issuing = receiptora::issuing;
  char pattern[] = "/tmp/bench-journal-XXXXXX";
  const fs::path folder = ::mkdtemp(pattern);
  {  // the shop's profile, read by the batch
    std::ofstream profile(folder / std::string(kProfileName));
    profile << "\"商號名稱\" = \"林記茶行\"\n\"統一編號\" = \"22099131\"\n";
  }
  issuing::issue_receipt(seven_items(0), folder, {2026, 12, 7});  // the first opens the book, loads fonts
  int i = 1;
  const double press_ms = median_ms(31, [&] {
    issuing::issue_receipt(seven_items(i++), folder, {2026, 12, 7});
  });
  std::printf("press -> PDF and PNG saved, record and ledger line (warm): %.1f ms (target <= 25)\n",
              press_ms);

  const int count = 300;
  std::vector<issuing::BatchJob> jobs;
  for (int n = 0; n < count; ++n)
    jobs.push_back({seven_items(n),
                    folder,
                    {2026, 12, 8},
                    "bench-" + std::to_string(n),
                    false,
                    false,
                    std::to_string(n)});
  auto start = std::chrono::steady_clock::now();
  issuing::issue_batch(jobs, 2, false, nullptr);
  std::printf("batch of %d seven-item receipts, 2 jobs: %.0f receipts/s (target >= 250)\n", count,
              count / seconds_since(start));

  sqlite3* other = nullptr;  // another program holding the book's write lock
  sqlite3_open((folder / std::string(kBookName)).c_str(), &other);
  sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  std::vector<issuing::BatchJob> locked;
  for (int n = 0; n < 50; ++n)
    locked.push_back({seven_items(n), folder, {2026, 12, 9}, {}, false, false, {}});
  start = std::chrono::steady_clock::now();
  const auto report = issuing::issue_batch(locked, 2, false, nullptr);
  std::printf("batch of 50 against a locked book gives up after %.1f s (target <= 15) with: %s\n",
              seconds_since(start),
              report.problems.empty() ? "(no message)" : report.problems.back().c_str());
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  issuing::close_books();
  std::error_code ec;
  fs::remove_all(folder, ec);
}

}  // namespace

int main() {
  journal_figures();
  char pattern[] = "/tmp/bench-book-XXXXXX";
  const fs::path folder = ::mkdtemp(pattern);
  const int count = 100000;
  {
    Book book(folder);
    const auto t0 = std::chrono::steady_clock::now();
    fill(book, count);
    std::printf("book of %d receipts written in %.0f ms\n", count,
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  {
    Book book(folder);
    set_book_setting(book, "imported", "bench");
  }
  // Recovery at start: the book opened and checked for pending records and missing ledger lines.
  const double recovery_ms = median_ms(11, [&] {
    Book book(folder);
    receiptora::issuing::recover(book);
  });
  std::printf("open and recover a book of %d receipts: %.1f ms (target <= 100)\n", count, recovery_ms);
  Book book(folder);
  size_t rows = 0;
  const double list_ms = median_ms(11, [&] { rows = list_receipts(book, "2026-06", "").size(); });
  std::printf("list of a month (%zu receipts): %.1f ms (target <= 50)\n", rows, list_ms);
  const double search_ms = median_ms(11, [&] { rows = list_receipts(book, "2026-06", "買受人12").size(); });
  std::printf("list of a month with a search (%zu receipts): %.1f ms\n", rows, search_ms);
  Summary summary;
  const double summary_ms = median_ms(11, [&] { summary = summarize(book, "2026-04-01", "2026-06-30"); });
  std::printf("summary of a quarter (%lld receipts, %lld void): %.1f ms (target <= 50)\n",
              static_cast<long long>(summary.receipts), static_cast<long long>(summary.voided), summary_ms);
  const double months_ms = median_ms(11, [&] { monthly_totals(book, "2026-01", 12); });
  std::printf("monthly totals of 12 months: %.1f ms\n", months_ms);
  const double find_ms = median_ms(101, [&] { find_receipt(book, "收據-20260615-100"); });
  std::printf("find one receipt: %.3f ms\n", find_ms);
  std::error_code ec;
  fs::remove_all(folder, ec);
  return 0;
}
