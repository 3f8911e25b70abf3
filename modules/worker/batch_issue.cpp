// issue_receipts: the batch command's way of issuing many receipts at once, on several
// threads, in the order given. The scheduling lives in the issuing library; this is its
// binding.
#include "batch_issue.hpp"

#include <pybind11/stl.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "receipt_requests.hpp"
#include "receiptora/issuing/batch.hpp"
#include "receiptora/issuing/issue.hpp"
#include "receiptora/store/book.hpp"
#include "receiptora_py/error_kinds.hpp"

namespace quillmarkers {

namespace {

namespace py = pybind11;
using namespace pybind11::literals;
namespace issuing = receiptora::issuing;

// One request's outcome as a dict: state "issued" (number), "skipped" (the number its key
// was issued under before), "skipped_void" (likewise, that receipt void since), "under_way" (another run is
// issuing it: the number it took), "held" (its order has a receipt of other content: that receipt's number),
// "failed" (error: the exception, number when one was taken), "not_started" (stopped first). A receipt whose
// files were saved but whose record failed counts as issued (the next start completes the record), with a
// note in `problems`. total: the receipt's total as the book records it.
py::dict outcome_details(const issuing::BatchOutcome& outcome, const issuing::BatchJob& job,
                         std::vector<std::string>& problems) {
  py::object error = py::none();
  std::string state = "not_started", number = outcome.number;
  if (outcome.skipped) {
    state = outcome.under_way ? "under_way" : outcome.void_before ? "skipped_void" : "skipped";
  } else if (outcome.held) {
    state = "held";
  } else if (outcome.failure) {
    state = "failed";
    try {
      std::rethrow_exception(outcome.failure);
    } catch (const issuing::IssueError& failure) {
      if (failure.saved()) {
        state = "issued";
        number = failure.number();
        problems.push_back(failure.number() + " 已存檔，但記入收據簿未完成（下次啟動時補記）：" +
                           failure.what());
      } else {
        error = as_python_error(failure);
      }
    } catch (const std::exception& failure) {
      error = as_python_error(failure);
    }
  } else if (outcome.started) {
    state = "issued";
  }
  return py::dict("state"_a = state, "number"_a = number, "error"_a = error,
                  "total"_a = receiptora::store::record_from_receipt(job.receipt, job.day).total);
}

// Returns, per request, its number, "" when its key was issued before (skipped), the
// exception that stopped it, or None when Ctrl+C came first (with `details`, the dict of
// outcome_details, or the exception when the request itself was refused); and the problems.
py::tuple issue_receipts(const py::sequence& requests, int jobs, py::object progress, py::object keys,
                         bool again, py::object orders, bool details, const std::string& run,
                         const std::vector<std::string>& again_orders) {
  const size_t count = py::len(requests);
  std::vector<py::object> results(count);
  std::vector<issuing::BatchJob> work;
  std::vector<size_t> place;  // the request of each job
  const std::set<std::string> anew_orders(again_orders.begin(), again_orders.end());
  for (size_t i = 0; i < count; ++i) {
    try {
      Prepared prepared = prepare(requests[i]);
      std::string key = keys.is_none() ? std::string() : py::cast<std::string>(keys[py::int_(i)]);
      std::string order = orders.is_none() ? std::string() : py::cast<std::string>(orders[py::int_(i)]);
      const bool anew = anew_orders.count(order) > 0;
      work.push_back({std::move(prepared.receipt), std::move(prepared.root), prepared.day, std::move(key),
                      prepared.exemption_stamp_unset, prepared.owner_seal_unset, std::move(order), run,
                      anew});
      place.push_back(i);
    } catch (py::error_already_set& failure) {
      results[i] = failure.value();
    } catch (py::builtin_exception& failure) {
      failure.set_error();
      results[i] = py::error_already_set().value();
    }
  }

  // Ctrl+C (or a handler that raises, as SIGTERM's does in the batch command): receipts under
  // way are finished and saved, no new ones start, and the results say which were reached
  // (None for the others). A failing progress callback is dropped: it only shows progress.
  issuing::BatchReport report;
  {
    py::gil_scoped_release released;
    report = issuing::issue_batch(work, jobs, again, [&](size_t saved) {
      py::gil_scoped_acquire acquired;
      if (PyErr_CheckSignals() != 0) {
        PyErr_Clear();
        return false;
      }
      if (saved && !progress.is_none()) {
        try {
          progress(saved);
        } catch (py::error_already_set& failure) {
          if (failure.matches(PyExc_KeyboardInterrupt)) return false;
        }
      }
      return true;
    });
  }

  for (size_t j = 0; j < work.size(); ++j) {
    const issuing::BatchOutcome& outcome = report.outcomes[j];
    py::object& result = results[place[j]];
    const py::dict outcome_dict = outcome_details(outcome, work[j], report.problems);
    const std::string state = py::cast<std::string>(outcome_dict["state"]);
    if (details)
      result = outcome_dict;
    else if (state == "issued")
      result = outcome_dict["number"];
    else if (state == "skipped" || state == "skipped_void" || state == "under_way" || state == "held")
      result = py::str("");
    else if (state == "failed")
      result = outcome_dict["error"];
    else
      result = py::none();
  }
  py::list out;
  for (auto& result : results) out.append(result ? result : py::none());
  // As UTF-8 text; a stray byte (a file name, say) shows as U+FFFD. A ledger line not written
  // is a LedgerNotWritten error, a failure of the run, where the rest are notes.
  auto text = [](const std::string& problem) {
    return py::reinterpret_steal<py::str>(
        PyUnicode_DecodeUTF8(problem.data(), static_cast<Py_ssize_t>(problem.size()), "replace"));
  };
  py::list problems;
  for (const std::string& problem : report.problems) problems.append(text(problem));
  for (const std::string& problem : report.ledger_problems)
    problems.append(receiptora_py::error_class(receiptora_py::ErrorKind::LedgerNotWritten)(text(problem)));
  return py::make_tuple(out, problems);
}

}  // namespace

void register_batch_issue(py::module_& m) {
  m.def(
      "issue_receipts", &issue_receipts, "requests"_a, "jobs"_a = 2, "progress"_a = py::none(),
      "keys"_a = py::none(), "again"_a = false, "orders"_a = py::none(), "details"_a = false, "run"_a = "",
      "again_orders"_a = std::vector<std::string>(),
      "Issues the requests on `jobs` threads with the GIL released. Returns (results, problems): per "
      "request its receipt number, \"\" when its key (keys[i]) is the book's already (issued before, or "
      "under way in another run) and `again` is false, the exception that stopped it, or None when "
      "interrupted first; and the problems met (seller profile, recovery: texts; a ledger line not written: "
      "LedgerNotWritten). orders[i] is kept "
      "with the receipt (its 收據 value); an order whose 收據 value has a receipt of other content is held "
      "unless listed in again_orders (issued anew, as `again` does for all). With details=True each result "
      "is a dict: state (issued, skipped, skipped_void, under_way, held, failed, not_started), number (for "
      "skipped and "
      "held: the earlier receipt's), error, total (the receipt's total as the book records it). "
      "progress(n) is called as n more receipts are saved. `run` names the run in the book (its result "
      "table's stamp).");
}

}  // namespace quillmarkers
