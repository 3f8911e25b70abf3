// Fills a book with synthetic issued receipts for the 收據簿 window's benchmark:
//   fill_book FOLDER COUNT [MONTH_SHARE] [VARIETY]
// COUNT receipts over the twelve months of 2026; MONTH_SHARE (0..1) of them in 2026-12.
// VARIETY > 0: that many buyers and items (two items a receipt) instead of six buyers and
// one item, for the suggestions' benchmark.
// The records carry no files: the window lists the book, it does not read receipts.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "receiptora/store/book.hpp"

namespace store = receiptora::store;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: fill_book FOLDER COUNT [MONTH_SHARE]\n");
    return 2;
  }
  const long count = std::atol(argv[2]);
  const double share = argc > 3 ? std::atof(argv[3]) : 1.0 / 12;
  const long variety = argc > 4 ? std::atol(argv[4]) : 0;
  store::Book book(argv[1]);
  const char* buyers[] = {"林記茶行", "陳小姐", "王先生", "好味道小吃", "大同五金行", "美美服飾"};
  std::vector<store::Record> records;
  int per_day[13][32] = {};
  for (long i = 0; i < count; ++i) {
    const int month = i < static_cast<long>(count * share) ? 12 : 1 + static_cast<int>(i % 11);
    const int day = 1 + static_cast<int>((i * 7) % 28);
    char number[32], date[16];
    std::snprintf(number, sizeof number, "收據-2026%02d%02d-%03d", month, day, ++per_day[month][day]);
    std::snprintf(date, sizeof date, "2026-%02d-%02d", month, day);
    store::Record r;
    r.number = number;
    r.date = date;
    r.state = i % 50 == 7 ? store::State::Void : store::State::Issued;
    r.buyer = buyers[i % 6];
    r.buyer_tax_id = i % 3 ? "" : "04595257";
    r.items = {{"烏龍茶", "2", std::to_string(100 + i % 900), ""}};
    if (variety > 0) {
      const long a = (i * 7919) % variety, b = (i * 104729 + 13) % variety;
      r.buyer = "客戶" + std::to_string(a) + (a % 5 ? "商行" : "工作室");
      r.buyer_tax_id = a % 3 ? std::to_string(10000000 + a) : "";
      r.items = {{"品項" + std::to_string(a) + "號茶", "2", std::to_string(100 + i % 900), ""},
                 {"品項" + std::to_string(b) + "號禮盒", "1", std::to_string(50 + a), ""}};
    }
    r.total = std::to_string(2 * (100 + i % 900) + (variety > 0 ? 50 + (i * 7919) % variety : 0));
    r.issued_at = std::string(date) + "T12:00:00+08:00";
    r.ledger_written = true;
    records.push_back(std::move(r));
    if (records.size() == 10000) {
      store::insert_records(book, records);
      records.clear();
    }
  }
  store::insert_records(book, records);
  return 0;
}
