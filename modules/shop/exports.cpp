// The month's Excel workbook, monthly report and 給會計 folder, for the window's buttons, the
// `month` command and the tests.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <optional>

#include <stdexcept>

#include "receiptora/reports/accountant.hpp"
#include "receiptora/reports/month_files.hpp"
#include "receiptora/store/book.hpp"
#include "registration.hpp"

namespace py = pybind11;

namespace receiptora_shop {

namespace {

template <std::filesystem::path (*Write)(const receiptora::store::Book&, receiptora::YearMonth)>
std::filesystem::path written(const std::filesystem::path& root, int year, int month) {
  if (month < 1 || month > 12) throw py::value_error("月份須為 1 到 12，不是 " + std::to_string(month));
  py::gil_scoped_release unlocked;
  // Read only: exporting before the first receipt must not create a book.
  const auto book = receiptora::store::open_book_for_reading(root);
  if (!book) throw std::runtime_error("還沒有開立任何收據，沒有可匯出的內容");
  return Write(*book, {year, month});
}

py::dict for_the_accountant(const std::filesystem::path& root, int year, int month,
                            const std::optional<std::filesystem::path>& dest) {
  if (month < 1 || month > 12) throw py::value_error("月份須為 1 到 12，不是 " + std::to_string(month));
  receiptora::reports::AccountantFolder made;
  {
    py::gil_scoped_release unlocked;
    const auto book = receiptora::store::open_book_for_reading(root);
    if (!book) throw std::runtime_error("還沒有開立任何收據，沒有可交給會計的內容");
    made = receiptora::reports::write_accountant_folder(*book, {year, month}, dest.value_or(root));
  }
  using namespace pybind11::literals;
  return py::dict("folder"_a = made.folder, "receipts"_a = made.receipts, "pdfs"_a = made.pdfs,
                  "sound"_a = made.sound, "verdict"_a = made.verdict);
}

}  // namespace

void register_exports(py::module_& m) {
  m.def("for_the_accountant", &for_the_accountant, py::arg("root"), py::arg("year"), py::arg("month"),
        py::arg("dest") = py::none(),
        "Checks the month and writes the 給會計 folder under dest (default: root); returns what it made.");
  m.def("export_month", &written<receiptora::reports::export_month>, py::arg("root"), py::arg("year"),
        py::arg("month"), "Writes <root>/YYYY-MM/收據簿-YYYY-MM.xlsx from the book; returns its path.");
  m.def("month_report", &written<receiptora::reports::write_month_report>, py::arg("root"), py::arg("year"),
        py::arg("month"), "Writes <root>/YYYY-MM/月報表-YYYY-MM.pdf (A4) from the book; returns its path.");
}

}  // namespace receiptora_shop
