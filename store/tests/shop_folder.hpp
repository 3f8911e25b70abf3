// An output folder as issuing leaves it, for the backup and audit tables: receipts of two
// days in the book, each with its PDF and PNG in the month folder and its ledger line, a
// profile with a stamp picture beside it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "receiptora/store/book.hpp"
#include "receiptora/store/ledger.hpp"
#include "receiptora/store/profile.hpp"
#include "temp_folder.hpp"

namespace receiptora::store {

inline std::string receipt_number(int day, int seq) {
  char text[32];
  std::snprintf(text, sizeof text, "收據-202612%02d-%03d", day, seq);
  return text;
}

// `per_day` receipts on 2026-12-07 and 2026-12-08; returns their records as stored.
inline std::vector<Record> fill_shop(const std::filesystem::path& root, int per_day) {
  std::filesystem::create_directories(root / "2026-12");
  write_text(root / "stamp.png", kTinyPngBytes);
  write_text(root / std::string(kProfileName), "\"商號名稱\" = \"林記\"\n\"負責人章圖檔\" = \"stamp.png\"\n");
  std::vector<Record> records;
  std::vector<LedgerLine> lines;
  for (int day : {7, 8}) {
    for (int seq = 1; seq <= per_day; ++seq) {
      Record r;
      r.number = receipt_number(day, seq);
      r.date = "2026-12-0" + std::to_string(day);
      r.state = State::Issued;
      r.buyer = "買受人" + std::to_string(seq);
      r.items = {{"茶", "1", std::to_string(seq), ""}};
      r.total = std::to_string(seq);
      r.issued_at = "2026-12-07T10:00:00+08:00";
      r.ledger_written = true;
      for (const char* suffix : {".pdf", ".png"}) {
        const std::string name = "2026-12/" + r.number + suffix;
        const std::string bytes = r.number + suffix + " contents";
        write_text(root / name, bytes);
        r.files.push_back({name, sha256_hex(bytes), "original"});
      }
      lines.push_back(ledger_line_of(r));
      records.push_back(r);
    }
  }
  Book book(root);
  insert_records(book, records);
  append_ledger(root / std::string(kLedgerName), lines);
  return records;
}

}  // namespace receiptora::store
