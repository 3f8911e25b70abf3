// The receipt ledger 收據清冊.csv: one line per receipt, UTF-8 with a byte-order mark so a
// spreadsheet opens it with the Chinese intact.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "receiptora/store/shop_files.hpp"

namespace receiptora::store {

namespace fs = std::filesystem;

struct LedgerLine {
  std::string number;        // 收據-20261207-001
  std::string date;          // 2026-12-07
  std::string buyer;         // 買受人, as typed
  std::string buyer_tax_id;  // 買受人統一編號, as typed
  std::size_t item_count = 0;
  std::string total;        // decimal, any length; a 作廢 line's is negative
  std::string files;        // the receipt's files relative to the ledger's folder
  std::string layout;       // 一般格式 / 貓咪格式
  std::string state = {};   // 已開立 / 作廢 / 未完成 (empty: left out, as ledgers before the book)
  std::string reason = {};  // a 作廢 line's reason, as typed (written with the state only)
};

// The byte-order mark and the header line, CRLF-terminated.
std::string ledger_header();

// Digits a spreadsheet keeps of a number; a longer total is written as text.
inline constexpr size_t kExactDigits = 15;

// One CSV line, CRLF-terminated. Fields holding a comma, a quote or a line break are quoted
// (quotes doubled); typed texts that a spreadsheet would run as a formula (leading = + - @,
// tab or CR) get a leading apostrophe, so a buyer's name can never execute in the ledger.
// Texts a spreadsheet would change are written as the text formula ="…" (quoted for CSV:
// "=""04595257"""): a typed text of digits such as a 統一編號 (04595257 would lose its
// leading zero as a number), the date (it stays 2026-12-07 instead of the spreadsheet's date
// format) and a total of more than kExactDigits digits (a number would be rounded). Excel,
// LibreOffice and Gnumeric show the text; a CSV reader gets ="04595257" (ledger_cell_text).
std::string ledger_line(const LedgerLine& line);

// The cells of `line` as read_ledger gives them back (the state cell only when it has one).
std::vector<std::string> ledger_cells(const LedgerLine& line);
// The columns' names, in order, as the header line spells them.
inline constexpr std::string_view kLedgerColumns[] = {
    "收據號碼", "日期", "買受人", "買受人統一編號", "品項數", "總額", "檔案", "版本", "狀態", "作廢原因"};

// A ledger written before 作廢 lines carried their amount negated: its header has no 作廢原因
// column, and SUM(總額) over it counts a void receipt twice. `ledger --rebuild` rewrites it.
bool ledger_is_older(const fs::path& file);

// The text a ledger cell stands for, as a CSV reader returns it: ="04595257" → 04595257;
// any other cell as it is.
std::string ledger_cell_text(std::string_view cell);

// The ledger's lines as cells (the header line too), ="…" cells as their text; quoted cells
// may hold line breaks. Empty when there is no ledger file (or it cannot be read).
std::vector<std::vector<std::string>> read_ledger(const fs::path& file);
// The whole lines among the ledger's last `bytes` bytes (the newest lines: lines are appended).
std::vector<std::vector<std::string>> read_ledger_tail(const fs::path& file, std::uint64_t bytes);

// How long a writer waits for another program's lock on the ledger before it gives up.
inline constexpr std::chrono::milliseconds kLedgerLockLimit{5000};

// Appends one line to the ledger file, writing the header first when the file is new or
// empty, and ending a last line that lacks its line break first. The whole line goes out in
// one write() under an exclusive lock, so concurrent writers never interleave; a write that
// fails part-way is cut back, so the ledger never holds half a line. Only a regular file is
// written: a symbolic link, FIFO or device under the ledger's name is refused. Throws
// std::system_error naming the file on failure, also when the lock is held longer than
// `lock_limit` (std::invalid_argument for a name holding a NUL).
void append_ledger(const fs::path& file, const LedgerLine& line,
                   std::chrono::milliseconds lock_limit = kLedgerLockLimit);
// Several lines in the same single write, in order.
void append_ledger(const fs::path& file, const std::vector<LedgerLine>& lines,
                   std::chrono::milliseconds lock_limit = kLedgerLockLimit);

}  // namespace receiptora::store
