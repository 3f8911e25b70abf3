#include "receiptora/reports/xlsx.hpp"

#include <gmpxx.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "receiptora/reports/month_view.hpp"
#include "receiptora/store/file_error.hpp"

namespace receiptora::reports {

namespace {

// Doubles hold whole numbers exactly up to 2^53; a larger amount goes in as text so that
// no digit is changed.
bool exact_as_number(const std::string& digits) {
  const size_t start = !digits.empty() && digits[0] == '-' ? 1 : 0;
  if (digits.size() == start || digits.size() - start > 15) return false;
  for (size_t i = start; i < digits.size(); ++i)
    if (digits[i] < '0' || digits[i] > '9') return false;
  return true;
}

// libxlsxwriter says why only in English and keeps no errno: its failures in the shop owner's
// words, naming the file and the cause.
std::string xlsx_cause(lxw_error error) {
  switch (error) {
    case LXW_ERROR_MEMORY_MALLOC_FAILED:
      return "記憶體不足";
    case LXW_ERROR_CREATING_XLSX_FILE:
      return "無法建立檔案：資料夾不能寫入或磁碟已滿";
    case LXW_ERROR_CREATING_TMPFILE:
    case LXW_ERROR_READING_TMPFILE:
      return "暫存檔無法寫入或讀取：磁碟可能已滿";
    case LXW_ERROR_ZIP_FILE_OPERATION:
    case LXW_ERROR_ZIP_FILE_ADD:
    case LXW_ERROR_ZIP_CLOSE:
      return "寫入壓縮內容失敗：磁碟可能已滿";
    default:
      return std::string("Excel 檔未完成，libxlsxwriter 錯誤代碼 ") + std::to_string(static_cast<int>(error));
  }
}

void check(lxw_error error, const fs::path& file) {
  if (error != LXW_NO_ERROR)
    throw std::runtime_error("無法寫入 " + file.string() + "（" + xlsx_cause(error) + "）");
}

}  // namespace

fs::path month_export_path(const fs::path& root, YearMonth month) {
  const std::string key = month_key(month);
  return root / key / ("收據簿-" + key + ".xlsx");
}

fs::path month_report_path(const fs::path& root, YearMonth month) {
  const std::string key = month_key(month);
  return root / key / ("月報表-" + key + ".pdf");
}

namespace {

struct Formats {
  lxw_format *head, *text, *amount, *sum, *sum_label;
  explicit Formats(lxw_workbook* book)
      : head(workbook_add_format(book)),
        text(workbook_add_format(book)),
        amount(workbook_add_format(book)),
        sum(workbook_add_format(book)),
        sum_label(workbook_add_format(book)) {
    format_set_bold(head);
    format_set_bottom(head, LXW_BORDER_THIN);
    format_set_num_format(text, "@");
    format_set_num_format(amount, "#,##0");
    format_set_num_format(sum, "#,##0");
    format_set_bold(sum);
    format_set_top(sum, LXW_BORDER_THIN);
    format_set_bold(sum_label);
    format_set_top(sum_label, LXW_BORDER_THIN);
  }
};

struct Heading {
  const char* text;
  double width;
  bool text_column;  // 號碼 and 統一編號: digits that stay text
};

lxw_worksheet* add_sheet(lxw_workbook* book, const Formats& f, const std::string& name,
                         const std::vector<Heading>& headings, size_t rows) {
  lxw_worksheet* sheet = workbook_add_worksheet(book, name.c_str());
  for (lxw_col_t c = 0; c < headings.size(); ++c) {
    worksheet_set_column(sheet, c, c, headings[c].width, headings[c].text_column ? f.text : nullptr);
    worksheet_write_string(sheet, 0, c, headings[c].text, f.head);
  }
  worksheet_freeze_panes(sheet, 1, 0);
  // Filter buttons on the headings, so a spreadsheet sorts by any column as the window does.
  worksheet_autofilter(sheet, 0, 0, static_cast<lxw_row_t>(rows),
                       static_cast<lxw_col_t>(headings.size() - 1));
  return sheet;
}

// An amount as a number when a double holds it exactly, else as text with every digit.
void write_amount(lxw_worksheet* sheet, lxw_row_t r, lxw_col_t c, const std::string& digits,
                  const Formats& f) {
  if (exact_as_number(digits))
    worksheet_write_number(sheet, r, c, std::stod(digits), f.amount);
  else
    worksheet_write_string(sheet, r, c, digits.c_str(), f.text);
}

// A day as people read it, 115/12/07: text (a spreadsheet's date format would show the western
// year), which sorts as the days do.
void write_day(lxw_worksheet* sheet, lxw_row_t r, lxw_col_t c, const std::string& day, const Formats& f) {
  worksheet_write_string(sheet, r, c, roc_day_caption(day).c_str(), f.text);
}

// The sum row under column `c` (rows 2..r of the spreadsheet), with its cached value.
void write_sum(lxw_worksheet* sheet, lxw_row_t r, lxw_col_t c, const mpz_class& value, const Formats& f) {
  const std::string column(1, static_cast<char>('A' + c));
  const std::string formula = "=SUM(" + column + "2:" + column + std::to_string(r) + ")";
  worksheet_write_formula_num(sheet, r, c, formula.c_str(), f.sum, value.get_d());
}

void write_receipts(lxw_workbook* book, const Formats& f, YearMonth month,
                    const std::vector<store::ListRow>& rows) {
  lxw_worksheet* sheet = add_sheet(book, f, "收據 " + roc_month_caption(month),
                                   {{"號碼", 20, true},
                                    {"日期", 12, false},
                                    {"買受人", 28, false},
                                    {"統一編號", 12, true},
                                    {"合計", 14, false},
                                    {"狀態", 10, false}},
                                   rows.size());
  mpz_class issued_sum = 0;
  lxw_row_t r = 1;
  for (const store::ListRow& row : rows) {
    worksheet_write_string(sheet, r, 0, row.number.c_str(), f.text);
    write_day(sheet, r, 1, row.date, f);
    worksheet_write_string(sheet, r, 2, row.buyer.c_str(), nullptr);
    worksheet_write_string(sheet, r, 3, row.buyer_tax_id.c_str(), f.text);
    write_amount(sheet, r, 4, row.total, f);
    worksheet_write_string(sheet, r, 5, std::string(state_caption(row.state)).c_str(), nullptr);
    if (row.state == store::State::Issued && exact_as_number(row.total)) issued_sum += mpz_class(row.total);
    ++r;
  }
  // The sum of the issued receipts: void and unfinished ones are left out, as in the window.
  // in the wide 買受人 column: the narrow 統一編號 one would cut the label
  worksheet_write_string(sheet, r, 2, "合計（已開立）", f.sum_label);
  worksheet_write_blank(sheet, r, 3, f.sum_label);
  const std::string last = std::to_string(r);  // the data ends on spreadsheet row r
  const std::string formula = "=SUMIF(F2:F" + last + ",\"已開立\",E2:E" + last + ")";
  worksheet_write_formula_num(sheet, r, 4, formula.c_str(), f.sum, issued_sum.get_d());
}

void write_buyers(lxw_workbook* book, const Formats& f, Period period, const std::vector<BuyerTally>& rows) {
  lxw_worksheet* sheet = add_sheet(book, f, "常客 " + period_caption(period),
                                   {{"買受人", 28, false},
                                    {"統一編號", 12, true},
                                    {"張數", 8, false},
                                    {"合計", 14, false},
                                    {"最近日期", 12, false}},
                                   rows.size());
  mpz_class total = 0;
  lxw_row_t r = 1;
  for (const BuyerTally& row : rows) {
    worksheet_write_string(sheet, r, 0, buyer_caption(row).c_str(), nullptr);
    worksheet_write_string(sheet, r, 1, row.buyer_tax_id.c_str(), f.text);
    worksheet_write_number(sheet, r, 2, static_cast<double>(row.receipts), nullptr);
    write_amount(sheet, r, 3, row.total, f);
    write_day(sheet, r, 4, row.last_day, f);
    if (exact_as_number(row.total)) total += mpz_class(row.total);
    ++r;
  }
  worksheet_write_string(sheet, r, 0, "合計", f.sum_label);
  mpz_class receipts = 0;
  for (const BuyerTally& row : rows) receipts += static_cast<long>(row.receipts);
  write_sum(sheet, r, 2, receipts, f);
  write_sum(sheet, r, 3, total, f);
}

void write_items(lxw_workbook* book, const Formats& f, Period period, const std::vector<ItemTally>& rows) {
  lxw_worksheet* sheet = add_sheet(book, f, "品項 " + period_caption(period),
                                   {{"品名", 28, false},
                                    {"數量", 10, false},
                                    {"金額", 14, false},
                                    {"張數", 8, false},
                                    {"最近單價", 12, false},
                                    {"最近日期", 12, false}},
                                   rows.size());
  mpz_class total = 0;
  lxw_row_t r = 1;
  for (const ItemTally& row : rows) {
    worksheet_write_string(sheet, r, 0, item_caption(row).c_str(), nullptr);
    write_amount(sheet, r, 1, row.quantity, f);
    write_amount(sheet, r, 2, row.amount, f);
    worksheet_write_number(sheet, r, 3, static_cast<double>(row.receipts), nullptr);
    write_amount(sheet, r, 4, row.last_unit_price, f);
    write_day(sheet, r, 5, row.last_day, f);
    if (exact_as_number(row.amount)) total += mpz_class(row.amount);
    ++r;
  }
  worksheet_write_string(sheet, r, 0, "合計", f.sum_label);
  write_sum(sheet, r, 2, total, f);
}

}  // namespace

void write_month_xlsx(const fs::path& file, const MonthWorkbook& contents) {
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  const fs::path temporary =
      file.parent_path() / (std::string(".") + file.filename().string() + "." + std::to_string(getpid()));
  lxw_workbook* book = workbook_new(temporary.c_str());
  if (!book) throw store::FileError(errno ? errno : EIO, "無法寫入 " + file.string());
  const Formats formats(book);
  const YearMonth month = contents.month;
  write_receipts(book, formats, month, contents.rows);
  write_buyers(book, formats, {month.year, month.month}, contents.month_buyers);
  write_items(book, formats, {month.year, month.month}, contents.month_items);
  write_buyers(book, formats, {month.year, 0}, contents.year_buyers);
  write_items(book, formats, {month.year, 0}, contents.year_items);

  const lxw_error closed = workbook_close(book);
  if (closed != LXW_NO_ERROR) {
    fs::remove(temporary, ec);
    check(closed, file);
  }
  fs::rename(temporary, file, ec);
  if (ec) {
    const int failure = ec.value();  // the rename's errno, before the clean-up reuses ec
    fs::remove(temporary, ec);
    throw store::FileError(failure, "無法寫入 " + file.string());
  }
}

}  // namespace receiptora::reports
