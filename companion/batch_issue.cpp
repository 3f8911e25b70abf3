// issue_receipts: the batch command's way of issuing many receipts at once, on several
// threads, in the order given. The scheduling lives in the issuing library; this is its
// binding.
#include "batch_issue.hpp"

#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "receipt_requests.hpp"
#include "receiptora/issuing/batch.hpp"

namespace quillmarkers {

namespace {

namespace py = pybind11;
using namespace pybind11::literals;
namespace issuing = receiptora::issuing;

// One request's outcome as a dict: state "issued" (number), "skipped" (the number its key
// was issued under before), "under_way" (another run is issuing it: the number it took),
// "failed" (error: the exception, number when one was taken), "not_started" (stopped first).
py::dict outcome_details(const issuing::BatchOutcome& outcome) {
  py::object error = py::none();
  std::string state = "not_started";
  if (outcome.skipped) {
    state = outcome.under_way ? "under_way" : "skipped";
  } else if (outcome.failure) {
    state = "failed";
    try {
      std::rethrow_exception(outcome.failure);
    } catch (const std::exception& failure) {
      error = as_python_error(failure);
    }
  } else if (outcome.started) {
    state = "issued";
  }
  return py::dict("state"_a = state, "number"_a = outcome.number, "error"_a = error);
}

// Returns, per request, its number, "" when its key was issued before (skipped), the
// exception that stopped it, or None when Ctrl+C came first (with `details`, the dict of
// outcome_details, or the exception when the request itself was refused); and the problems.
py::tuple issue_receipts(const py::sequence& requests, int jobs, py::object progress, py::object keys,
                         bool again, py::object orders, bool details) {
  const size_t count = py::len(requests);
  std::vector<py::object> results(count);
  std::vector<issuing::BatchJob> work;
  std::vector<size_t> place;  // the request of each job
  for (size_t i = 0; i < count; ++i) {
    try {
      Prepared prepared = prepare(requests[i]);
      std::string key = keys.is_none() ? std::string() : py::cast<std::string>(keys[py::int_(i)]);
      std::string order = orders.is_none() ? std::string() : py::cast<std::string>(orders[py::int_(i)]);
      work.push_back({std::move(prepared.receipt), std::move(prepared.root), prepared.day, std::move(key),
                      std::move(order)});
      place.push_back(i);
    } catch (py::error_already_set& failure) {
      results[i] = failure.value();
    } catch (py::builtin_exception& failure) {
      failure.set_error();
      results[i] = py::error_already_set().value();
    }
  }

  bool interrupted = false;
  issuing::BatchReport report;
  {
    py::gil_scoped_release released;
    report = issuing::issue_batch(work, jobs, again, [&](size_t saved) {
      py::gil_scoped_acquire acquired;
      // Ctrl+C: receipts under way are finished and saved, no new ones start.
      if (PyErr_CheckSignals() != 0) {
        interrupted = true;
        return false;
      }
      if (saved && !progress.is_none()) progress(saved);
      return true;
    });
  }
  if (interrupted) throw py::error_already_set();

  for (size_t j = 0; j < work.size(); ++j) {
    const issuing::BatchOutcome& outcome = report.outcomes[j];
    py::object& result = results[place[j]];
    if (details) {
      result = outcome_details(outcome);
    } else if (outcome.skipped) {
      result = py::str("");
    } else if (outcome.failure) {
      try {
        std::rethrow_exception(outcome.failure);
      } catch (const std::exception& error) {
        result = as_python_error(error);
      }
    } else if (outcome.started) {
      result = py::str(outcome.number);
    } else {
      result = py::none();
    }
  }
  py::list out;
  for (auto& result : results) out.append(result ? result : py::none());
  return py::make_tuple(out, py::cast(report.problems));
}

}  // namespace

void register_batch_issue(py::module_& m) {
  m.def("issue_receipts", &issue_receipts, "requests"_a, "jobs"_a = 2, "progress"_a = py::none(),
        "keys"_a = py::none(), "again"_a = false, "orders"_a = py::none(), "details"_a = false,
        "Issues the requests on `jobs` threads with the GIL released. Returns (results, problems): per "
        "request its receipt number, \"\" when its key (keys[i]) is the book's already (issued before, or "
        "under way in another run) and `again` is false, the exception that stopped it, or None when "
        "interrupted first; and the problems met (seller profile, recovery, ledger). orders[i] is kept "
        "with the receipt (its 收據 value). With details=True each result is a dict: state (issued, "
        "skipped, under_way, failed, not_started), number (for skipped: the earlier receipt's), error. "
        "progress(n) is called as n more receipts are saved.");
}

}  // namespace quillmarkers
