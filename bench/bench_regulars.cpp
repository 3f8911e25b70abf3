// Prints how long the 收據簿 window's 常客 and 品項 views take to compute for a month and for
// the year when the book holds 100,000 issued receipts (about 275 a day) from 3,000 buyers,
// one to seven lines each from 400 items, and how long the month's workbook takes to write.
//   bench_regulars [COUNT [FOLDER]]
// With FOLDER the book is made there and kept (to open the 收據簿 window on it).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../store/tests/temp_folder.hpp"
#include "median.hpp"
#include "receiptora/reports/month_files.hpp"
#include "receiptora/reports/regulars.hpp"
#include "receiptora/store/book.hpp"

namespace {

using namespace receiptora;

void fill(store::Book& book, long count) {
  std::vector<store::Record> records;
  const long per_day = count / 336 + 1;
  long made = 0;
  for (int month = 1; month <= 12 && made < count; ++month)
    for (int day = 1; day <= 28 && made < count; ++day)
      for (long n = 1; n <= per_day && made < count; ++n, ++made) {
        store::Record r;
        char date[16];
        std::snprintf(date, sizeof date, "2026-%02d-%02d", month, day);
        r.date = date;
        r.number = store::receipt_number({2026, month, day}, static_cast<int>(n));
        r.state = made % 50 == 0 ? store::State::Void : store::State::Issued;
        const long buyer = (made * 7919) % 3000;
        r.buyer = buyer % 5 == 0 ? "" : "買受人" + std::to_string(buyer);
        r.buyer_tax_id = buyer % 3 == 0 ? std::to_string(10000000 + buyer) : "";
        long total = 0;
        for (long line = 0; line <= made % 7; ++line) {
          const long item = (made * 31 + line * 97) % 400;
          r.items.push_back(
              {"品項" + std::to_string(item), std::to_string(1 + line), std::to_string(50 + item), ""});
          total += (1 + line) * (50 + item);
        }
        r.total = std::to_string(total);
        r.ledger_written = true;
        records.push_back(std::move(r));
        if (records.size() == 10000) {
          store::insert_records(book, records);
          records.clear();
        }
      }
  store::insert_records(book, records);
}

}  // namespace

int main(int argc, char** argv) {
  const long count = argc > 1 ? std::atol(argv[1]) : 100000;
  store::TempFolder temporary;
  const std::filesystem::path folder = argc > 2 ? std::filesystem::path(argv[2]) : temporary.path;
  {
    store::Book book(folder);
    fill(book, count);
    book.checkpoint();
  }
  const auto book = store::open_book_for_reading(folder);
  size_t buyers = 0, items = 0;
  const double year_buyers = median_microseconds(7,
                                                 [&] {
                                                   buyers = reports::buyer_tallies(*book, {2026, 0}).size();
                                                 }) /
                             1000;
  const double year_items = median_microseconds(7,
                                                [&] {
                                                  items = reports::item_tallies(*book, {2026, 0}).size();
                                                }) /
                            1000;
  const double month_buyers = median_microseconds(7,
                                                  [&] {
                                                    reports::buyer_tallies(*book, {2026, 12});
                                                  }) /
                              1000;
  const double month_items = median_microseconds(7, [&] { reports::item_tallies(*book, {2026, 12}); }) / 1000;
  std::vector<reports::BuyerTally> sorted = reports::buyer_tallies(*book, {2026, 0});
  const double sort = median_microseconds(7,
                                          [&] {
                                            reports::sort_tallies(sorted, reports::BuyerColumn::Buyer, false);
                                            reports::sort_tallies(sorted, reports::BuyerColumn::Total, true);
                                          }) /
                      2000;
  const double workbook = median_microseconds(3, [&] { reports::export_month(*book, {2026, 12}); }) / 1000;
  std::printf("%ld receipts, %zu buyers, %zu items in the year\n", count, buyers, items);
  std::printf("常客 of the year:  %.1f ms (median of 7)\n", year_buyers);
  std::printf("品項 of the year:  %.1f ms\n", year_items);
  std::printf("常客 of a month:   %.1f ms\n", month_buyers);
  std::printf("品項 of a month:   %.1f ms\n", month_items);
  std::printf("one sort of the year's 常客 by a column: %.2f ms\n", sort);
  std::printf("the month's workbook (receipts, 常客 and 品項 of the month and the year): %.0f ms\n",
              workbook);
  return 0;
}
