// A month of the book as an Excel workbook (libxlsxwriter): the month's receipts (dates as dates,
// amounts as numbers with a sum row that leaves void receipts out, 號碼 and 統一編號 as text),
// then the regulars: 常客 and 品項 of the month and of its whole year, one sheet each.
#pragma once

#include <filesystem>
#include <vector>

#include "receiptora/month_grid.hpp"
#include "receiptora/reports/regulars.hpp"
#include "receiptora/store/book.hpp"

namespace receiptora::reports {

namespace fs = std::filesystem;

struct MonthWorkbook {
  YearMonth month;
  std::vector<store::ListRow> rows;
  std::vector<BuyerTally> month_buyers, year_buyers;
  std::vector<ItemTally> month_items, year_items;
};

// Writes the workbook to `file` (replaced whole, through a temporary file in the same folder).
// Throws naming the file, in Chinese, when it cannot be written (store::FileError with the errno
// when the file system refused).
void write_month_xlsx(const fs::path& file, const MonthWorkbook& contents);

// <root>/YYYY-MM/收據簿-YYYY-MM.xlsx and 月報表-YYYY-MM.pdf: where the window's buttons save.
fs::path month_export_path(const fs::path& root, YearMonth month);
fs::path month_report_path(const fs::path& root, YearMonth month);

}  // namespace receiptora::reports
