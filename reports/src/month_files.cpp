#include "receiptora/reports/month_files.hpp"

#include <system_error>

#include "receiptora/render/report.hpp"
#include "receiptora/reports/month_view.hpp"
#include "receiptora/reports/xlsx.hpp"
#include "receiptora/store/file_error.hpp"
#include "receiptora/store/files.hpp"
#include "receiptora/store/profile.hpp"

namespace receiptora::reports {

std::filesystem::path export_month(const store::Book& book, YearMonth month) {
  const fs::path file = month_export_path(book.folder(), month);
  write_month_xlsx(file,
                   {month, store::list_receipts(book, month_key(month), ""),
                    buyer_tallies(book, {month.year, month.month}), buyer_tallies(book, {month.year, 0}),
                    item_tallies(book, {month.year, month.month}), item_tallies(book, {month.year, 0})});
  return file;
}

std::filesystem::path write_month_report(const store::Book& book, YearMonth month) {
  const store::ProfileRead profile = store::read_profile(book.folder());
  const std::string pdf =
      render::render_month_report(month_report(book, month, profile.invoice_standard, profile.seller.name));
  const fs::path file = month_report_path(book.folder(), month);
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  // A report is made again from the book whenever asked, so a newer one replaces the older.
  const store::StagedFile staged = store::stage_file(file, pdf, true);
  fs::rename(staged.temp, file, ec);
  if (ec) {
    store::discard_file(staged);
    throw store::FileError(ec.value(), "無法寫入 " + file.string());
  }
  return file;
}

}  // namespace receiptora::reports
