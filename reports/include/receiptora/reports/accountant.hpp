// 給會計: one folder with what an accountant needs of a month — the month's Excel workbook, the
// 月報表 with the list of its receipts and the check's verdict on its first page, every
// receipt's PDF (the 作廢 copy of a void one) and a short 說明.txt. Reads the book only.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "receiptora/month_grid.hpp"
#include "receiptora/store/book.hpp"

namespace receiptora::reports {

struct AccountantFolder {
  std::filesystem::path folder;  // DEST/給會計-115年12月 (-2, -3 … when taken)
  std::size_t receipts = 0;      // listed in the report
  std::size_t pdfs = 0;          // receipt PDFs copied
  bool sound = true;             // the month's check found nothing wrong
  std::string verdict;           // as printed on the report's first page
};

// Checks the month (store::audit_folder), then writes the folder under `dest` (created when
// missing): built under a hidden name and renamed when complete, so a failure leaves no half
// folder. A receipt whose PDF is missing is named in the verdict and 說明.txt, not copied.
// Throws std::runtime_error (std::system_error for the file system) naming what failed.
AccountantFolder write_accountant_folder(const store::Book& book, YearMonth month,
                                         const std::filesystem::path& dest);

}  // namespace receiptora::reports
