// receiptora._numbers: the core's rules for Python callers: the whole-number rule and the
// figure reader, the amount captions and grouped figures, the receipt years, the spreadsheet
// cell rule, the receipt request's keys and the output folder; and the home of the error
// classes every module raises (receiptora_py/error_kinds.hpp).
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "receiptora/amounts.hpp"
#include "receiptora/captions.hpp"
#include "receiptora/home_folder.hpp"
#include "receiptora/people_dates.hpp"
#include "receiptora/receipt_texts.hpp"
#include "receiptora/request_keys.hpp"
#include "receiptora/spreadsheet_cells.hpp"
#include "receiptora/tax_id.hpp"
#include "receiptora/whole_number.hpp"
#include "receiptora_py/convert.hpp"
#include "receiptora_py/error_kinds.hpp"
#include "receiptora_py/errors.hpp"
#include "receiptora_py/main_interpreter.hpp"

namespace py = pybind11;
using receiptora_py::to_u32;

// Loaded only into the main interpreter (see main_interpreter.hpp).
#define PyInit__numbers pybind11_entry_point
PYBIND11_MODULE(_numbers, m) {
  m.doc() = "Receiptora's whole-number rule, amount captions, request keys and output folder";
  receiptora_py::use_error_policy_in_this_module();
  receiptora_py::define_error_kinds(m);
  m.def(
      "read_figure",
      [](py::handle text) -> py::object {
        auto value = receiptora::parse_figure(to_u32(text));
        if (!value) return py::none();
        return receiptora_py::to_int(*value);
      },
      py::arg("text"),
      "A figure as a sheet or a form writes it (1680, 1,680, １，６８０) as an int, or None when it is "
      "none.");
  m.def(
      "grouped",
      [](py::handle amount) {
        if (PyLong_Check(amount.ptr())) return receiptora::grouped_figures(receiptora_py::to_mpz(amount));
        const auto value = receiptora::parse_whole_number(to_u32(amount));
        if (!value) throw py::value_error("「" + amount.cast<std::string>() + "」不是整數");
        return receiptora::grouped_figures(*value);
      },
      py::arg("amount"), "An int or its digit text with thousands separators: -1234567 → \"-1,234,567\".");
  m.attr("RECEIPT_YEARS") = py::make_tuple(receiptora::kFirstReceiptYear, receiptora::kLastReceiptYear);
  m.def(
      "disarmed_cell", [](const std::string& typed) { return receiptora::disarmed_cell(typed); },
      py::arg("typed"),
      "A typed text for a spreadsheet cell: one that starts like a formula gets an apostrophe.");
  m.def(
      "typed_text_of_cell", [](const std::string& cell) { return receiptora::typed_text_of_cell(cell); },
      py::arg("cell"), "The text typed, from a cell disarmed_cell wrote.");
  m.def(
      "read_whole_number",
      [](py::handle text) -> py::object {
        auto value = receiptora::parse_whole_number(to_u32(text));
        if (!value) return py::none();
        return receiptora_py::to_int(*value);
      },
      py::arg("text"), "The text as an int, or None when it is no whole number.");
  m.def(
      "line_total_text",
      [](py::handle quantity, py::handle price) {
        return receiptora::line_total_text(to_u32(quantity), to_u32(price));
      },
      py::arg("quantity"), py::arg("unit_price"));
  m.def(
      "grand_total_caption",
      [](const py::sequence& quantities, const py::sequence& prices) {
        const auto q = receiptora_py::to_u32_texts(quantities), p = receiptora_py::to_u32_texts(prices);
        return receiptora::grand_total_caption(receiptora::grand_total(q, p));
      },
      py::arg("quantities"), py::arg("unit_prices"));
  m.def(
      "valid_tax_id", [](const std::string& text) { return receiptora::valid_tax_id(text); }, py::arg("text"),
      "Whether the text is a unified business number (統一編號): eight digits whose checksum holds.");
  m.def("next_busy_caption", &receiptora::next_busy_caption, py::arg("caption"));
  m.def(
      "read_month",
      [](const std::string& text) -> py::object {
        const auto month = receiptora::read_month(text);
        if (!month) return py::none();
        return py::make_tuple(month->year, month->month);
      },
      py::arg("text"), "(year, month) of 2026-12, 115-12, 115/12, 115年12月 …, or None.");
  m.def(
      "read_day",
      [](const std::string& text) -> py::object {
        const auto day = receiptora::read_day(text);
        if (!day) return py::none();
        return py::make_tuple(day->year, day->month, day->day);
      },
      py::arg("text"), "(year, month, day) of 2026-12-05, 115/12/05, 115年12月5日 …, or None.");
  m.def(
      "read_quarter",
      [](const std::string& text) -> py::object {
        const auto month = receiptora::read_quarter(text);
        if (!month) return py::none();
        return py::make_tuple(month->year, (month->month + 2) / 3);
      },
      py::arg("text"), "(year, quarter) of 2026Q4 or 115Q4, or None.");
  m.def(
      "roc_day", [](const std::string& iso) { return receiptora::roc_day_of_iso(iso); }, py::arg("iso_day"),
      "2026-12-05 → 115/12/05; other text as it is.");
  m.def(
      "roc_month",
      [](int year, int month) {
        return receiptora::roc_month_text({year, month});
      },
      py::arg("year"), py::arg("month"), "115年12月");
  py::tuple keys(receiptora::request_keys::kAll.size());
  for (size_t i = 0; i < keys.size(); ++i) keys[i] = py::str(receiptora::request_keys::kAll[i]);
  m.attr("REQUEST_KEYS") = keys;
  m.def(
      "output_folder", [] { return receiptora::output_folder(); },
      "The folder receipts are saved in, as every request names it (~/quillmarkers/Receiptora/).");
  m.def(
      "int_roundtrip", [](py::handle value) { return receiptora_py::to_int(receiptora_py::to_mpz(value)); },
      py::arg("value"), "Converts through the core's integer type and back.");
}
#undef PyInit__numbers

extern "C" PYBIND11_EXPORT PyObject* PyInit__numbers() {
  return receiptora_py::in_main_interpreter("receiptora._numbers", pybind11_entry_point);
}
