#include "receiptora/reports/xlsx.hpp"

#include <gmpxx.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "receiptora/reports/month_view.hpp"

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

void check(lxw_error error, const fs::path& file) {
  if (error != LXW_NO_ERROR)
    throw std::runtime_error("cannot write " + file.string() + ": " + lxw_strerror(error));
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

void write_month_xlsx(const fs::path& file, YearMonth month, const std::vector<store::ListRow>& rows) {
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  const fs::path temporary =
      file.parent_path() / (std::string(".") + file.filename().string() + "." + std::to_string(getpid()));
  lxw_workbook* book = workbook_new(temporary.c_str());
  if (!book) throw std::runtime_error("cannot write " + file.string());
  lxw_worksheet* sheet = workbook_add_worksheet(book, month_key(month).c_str());
  lxw_format* head = workbook_add_format(book);
  format_set_bold(head);
  format_set_bottom(head, LXW_BORDER_THIN);
  lxw_format* text = workbook_add_format(book);
  format_set_num_format(text, "@");
  lxw_format* date = workbook_add_format(book);
  format_set_num_format(date, "yyyy-mm-dd");
  lxw_format* amount = workbook_add_format(book);
  format_set_num_format(amount, "#,##0");
  lxw_format* sum = workbook_add_format(book);
  format_set_num_format(sum, "#,##0");
  format_set_bold(sum);
  format_set_top(sum, LXW_BORDER_THIN);
  lxw_format* sum_label = workbook_add_format(book);
  format_set_bold(sum_label);
  format_set_top(sum_label, LXW_BORDER_THIN);

  const char* headings[] = {"號碼", "日期", "買受人", "統一編號", "合計", "狀態"};
  const double widths[] = {20, 12, 28, 12, 14, 10};
  for (lxw_col_t c = 0; c < 6; ++c) {
    worksheet_set_column(sheet, c, c, widths[c], c == 0 || c == 3 ? text : nullptr);
    worksheet_write_string(sheet, 0, c, headings[c], head);
  }
  worksheet_freeze_panes(sheet, 1, 0);

  mpz_class issued_sum = 0;
  lxw_row_t r = 1;
  for (const store::ListRow& row : rows) {
    worksheet_write_string(sheet, r, 0, row.number.c_str(), text);
    int y = 0, m = 0, d = 0;
    if (std::sscanf(row.date.c_str(), "%4d-%2d-%2d", &y, &m, &d) == 3) {
      lxw_datetime when = {y, m, d, 0, 0, 0};
      worksheet_write_datetime(sheet, r, 1, &when, date);
    } else {
      worksheet_write_string(sheet, r, 1, row.date.c_str(), text);
    }
    worksheet_write_string(sheet, r, 2, row.buyer.c_str(), nullptr);
    worksheet_write_string(sheet, r, 3, row.buyer_tax_id.c_str(), text);
    if (exact_as_number(row.total))
      worksheet_write_number(sheet, r, 4, std::stod(row.total), amount);
    else
      worksheet_write_string(sheet, r, 4, row.total.c_str(), text);
    worksheet_write_string(sheet, r, 5, std::string(state_caption(row.state)).c_str(), nullptr);
    if (row.state == store::State::Issued && exact_as_number(row.total)) issued_sum += mpz_class(row.total);
    ++r;
  }
  // The sum of the issued receipts: void and unfinished ones are left out, as in the window.
  worksheet_write_string(sheet, r, 3, "合計（已開立）", sum_label);
  const std::string last = std::to_string(r);  // the data ends on spreadsheet row r
  const std::string formula = "=SUMIF(F2:F" + last + ",\"已開立\",E2:E" + last + ")";
  worksheet_write_formula_num(sheet, r, 4, formula.c_str(), sum, issued_sum.get_d());

  const lxw_error closed = workbook_close(book);
  if (closed != LXW_NO_ERROR) {
    fs::remove(temporary, ec);
    check(closed, file);
  }
  fs::rename(temporary, file, ec);
  if (ec) {
    fs::remove(temporary, ec);
    throw std::runtime_error("cannot write " + file.string() + ": " + ec.message());
  }
}

}  // namespace receiptora::reports
