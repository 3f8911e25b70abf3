// receiptora._worker: the receipt worker and the batch issue, the parts of the companion that
// render. A module of their own, so a process that only shows the window never loads the
// renderer's libraries (cairo, pango and the font stack); quillmarkers_model hands out
// Receipt_Worker and issue_receipts from here on first use.
#include "batch_issue.hpp"
#include "receiptora_py/book_errors.hpp"
#include "receiptora_py/main_interpreter.hpp"
#include "worker.hpp"

// Loaded only into the main interpreter (see main_interpreter.hpp).
#define PyInit__worker pybind11_entry_point
PYBIND11_MODULE(_worker, m) {
  m.doc() = "Receiptora's receipt worker and batch issue (loaded by quillmarkers_model on first use)";
  receiptora_py::use_book_error_kinds_in_this_module(m);
  quillmarkers::register_worker(m);
  quillmarkers::register_batch_issue(m);
}
#undef PyInit__worker

extern "C" PYBIND11_EXPORT PyObject* PyInit__worker() {
  return receiptora_py::in_main_interpreter("receiptora._worker", pybind11_entry_point);
}
