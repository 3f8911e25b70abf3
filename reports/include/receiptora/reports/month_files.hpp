// The month's Excel workbook and monthly report written into the output folder, as the
// window's 匯出 Excel and 月報表 buttons and the tests make them.
#pragma once

#include <filesystem>

#include "receiptora/month_grid.hpp"
#include "receiptora/store/book.hpp"

namespace receiptora::reports {

// <root>/YYYY-MM/收據簿-YYYY-MM.xlsx with every receipt of the month and the 常客 and 品項 of the
// month and of its year; returns the path.
std::filesystem::path export_month(const store::Book& book, YearMonth month);
// <root>/YYYY-MM/月報表-YYYY-MM.pdf (A4), with the profile's shop name and 使用統一發票標準.
std::filesystem::path write_month_report(const store::Book& book, YearMonth month);

}  // namespace receiptora::reports
