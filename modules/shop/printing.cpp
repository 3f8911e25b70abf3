// Printing receipts through CUPS, for the `receiptora print` command and the window's 列印.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include "receiptora/log_file.hpp"
#include "receiptora/print/print.hpp"
#include "receiptora_py/error_kinds.hpp"
#include "registration.hpp"

namespace py = pybind11;
namespace print = receiptora::print;

namespace receiptora_shop {

namespace {

// [(number, job id or None, printer, error or None)], the CUPS calls made without the GIL.
py::list print_receipts(const print::fs::path& root, const std::vector<std::string>& numbers,
                        const std::string& printer, int copies) {
  std::vector<print::PrintOutcome> outcomes;
  {
    py::gil_scoped_release unlocked;
    outcomes = print::print_receipts(root, numbers, {printer, copies, ""}, receiptora::default_log_path());
  }
  py::list result;
  for (const auto& outcome : outcomes) {
    const bool ok = outcome.error.empty();
    result.append(py::make_tuple(outcome.number, ok ? py::object(py::int_(outcome.job.id)) : py::none(),
                                 outcome.job.printer, ok ? py::none() : py::object(py::str(outcome.error))));
  }
  return result;
}

}  // namespace

void register_printing(py::module_& m) {
  // A print that did not reach a printer's queue is PrinterFailed (an OSError, as it was).
  py::register_local_exception_translator([](std::exception_ptr error) {
    if (!error) return;
    try {
      std::rethrow_exception(error);
    } catch (const print::PrintError& failure) {
      try {
        receiptora_py::raise_error(receiptora_py::ErrorKind::PrinterFailed, failure.what());
      } catch (py::error_already_set& raised) {
        raised.restore();
      }
    }
  });
  m.def("print_receipts", &print_receipts, py::arg("root"), py::arg("numbers"), py::arg("printer") = "",
        py::arg("copies") = 1,
        "Prints receipts of the output folder `root` by number; returns (number, job id or None, printer, "
        "error or None) per receipt. Failures are written to the error log.");
  m.def(
      "print_pdf",
      [](const print::fs::path& pdf, const std::string& printer, int copies, const std::string& title) {
        py::gil_scoped_release unlocked;
        const print::PrintJob job = print::print_pdf(pdf, {printer, copies, title});
        return std::make_pair(job.id, job.printer);
      },
      py::arg("pdf"), py::arg("printer") = "", py::arg("copies") = 1, py::arg("title") = "",
      "Sends a PDF to CUPS (A5 landscape); returns (job id, printer). Raises PrinterFailed.");
}

}  // namespace receiptora_shop
