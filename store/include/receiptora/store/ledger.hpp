// The receipt ledger 收據清冊.csv: one line per receipt, UTF-8 with a byte-order mark so a
// spreadsheet opens it with the Chinese intact.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace receiptora::store {

namespace fs = std::filesystem;

inline constexpr std::string_view kLedgerName = "收據清冊.csv";

struct LedgerLine {
  std::string number;        // 收據-20261207-001
  std::string date;          // 2026-12-07
  std::string buyer;         // 買受人, as typed
  std::string buyer_tax_id;  // 買受人統一編號, as typed
  std::size_t item_count = 0;
  std::string total;   // decimal, any length
  std::string files;   // the receipt's files relative to the ledger's folder
  std::string layout;  // 一般格式 / 貓咪格式
  std::string state;   // 已開立 / 作廢 / 未完成 (empty: left out, as ledgers before the book)
};

// The byte-order mark and the header line, CRLF-terminated.
std::string ledger_header();

// One CSV line, CRLF-terminated. Fields holding a comma, a quote or a line break are quoted
// (quotes doubled); typed texts that a spreadsheet would run as a formula (leading = + - @,
// tab or CR) get a leading apostrophe, so a buyer's name can never execute in the ledger.
std::string ledger_line(const LedgerLine& line);

// Appends one line to the ledger file, writing the header first when the file is new or
// empty. The whole line goes out in one write() under an exclusive flock, so concurrent
// writers never interleave; a write that fails part-way is cut back, so the ledger never
// holds half a line. Throws std::system_error naming the file on failure.
void append_ledger(const fs::path& file, const LedgerLine& line);
// Several lines in the same single write, in order.
void append_ledger(const fs::path& file, const std::vector<LedgerLine>& lines);

}  // namespace receiptora::store
