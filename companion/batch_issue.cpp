// issue_receipts: the batch command's way of issuing many receipts at once, on several
// threads, in the order given.
#include "batch_issue.hpp"

#include <pybind11/stl.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "issue.hpp"
#include "receipt_requests.hpp"

namespace quillmarkers {

namespace {

namespace py = pybind11;
using namespace pybind11::literals;
namespace fs = std::filesystem;
namespace render = receiptora::render;
namespace store = receiptora::store;

// Issues every request: numbers claimed in the requests' order, rendering on `jobs` threads,
// and the saving done here in order, flushing whatever is ready with one syncfs per round
// instead of one fsync per file. Returns, per request, its number or the exception that
// stopped it (None when Ctrl+C came first), and the seller-profile problems met.
py::tuple issue_receipts(const py::sequence& requests, int jobs, py::object progress) {
  const size_t count = py::len(requests);
  std::vector<std::optional<Prepared>> prepared(count);
  std::vector<py::object> results(count);
  for (size_t i = 0; i < count; ++i) {
    try {
      prepared[i] = prepare(requests[i]);
    } catch (py::error_already_set& failure) {
      results[i] = failure.value();
    } catch (py::builtin_exception& failure) {
      failure.set_error();
      results[i] = py::error_already_set().value();
    }
  }

  std::vector<std::exception_ptr> failures(count);
  std::vector<std::optional<StagedReceipt>> staged(count);
  std::vector<std::string> numbers(count);
  std::vector<char> rendered(count, 0);
  std::set<std::string> problems;
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  bool interrupted = false;
  {
    py::gil_scoped_release released;
    std::map<fs::path, store::ProfileRead> profiles;
    for (size_t i = 0; i < count; ++i) {
      if (!prepared[i]) continue;
      try {
        auto found = profiles.find(prepared[i]->root);
        if (found == profiles.end())
          found = profiles.emplace(prepared[i]->root, store::read_profile(prepared[i]->root)).first;
        problems.insert(found->second.problems.begin(), found->second.problems.end());
        prepared[i]->receipt.seller = found->second.seller;
        prepared[i]->receipt.number = store::claim_number(prepared[i]->root, prepared[i]->day);
      } catch (const std::exception&) {
        failures[i] = std::current_exception();
      }
    }

    auto work = [&] {
      for (size_t i; !stop && (i = next++) < count;) {
        std::optional<StagedReceipt> done;
        std::exception_ptr failure;
        if (prepared[i] && !failures[i]) {
          try {
            done = stage_receipt(prepared[i]->receipt, prepared[i]->root, prepared[i]->day, false);
          } catch (const std::exception&) {
            failure = std::current_exception();
          }
        }
        std::lock_guard lock(mutex);
        staged[i] = std::move(done);
        if (failure) failures[i] = failure;
        rendered[i] = 1;
        changed.notify_all();
      }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < std::max(1, jobs); ++t) threads.emplace_back(work);

    // Saves the rendered receipts from `saved` on, in order, up to the first not yet rendered.
    size_t saved = 0;
    auto save_ready = [&] {
      size_t end = saved;
      {
        std::lock_guard lock(mutex);
        while (end < count && rendered[end]) ++end;
      }
      if (end == saved) return;
      size_t first = saved;
      while (first < end && !staged[first]) ++first;
      if (first < end) {
        try {
          std::set<fs::path> roots;  // usually one; each file system flushed once
          for (size_t i = first; i < end; ++i)
            if (staged[i]) roots.insert(prepared[i]->root);
          for (const fs::path& root : roots) store::sync_file_system(root);
        } catch (const std::exception&) {
          for (size_t i = first; i < end; ++i)
            if (staged[i]) {
              store::discard_file(staged[i]->pdf);
              store::discard_file(staged[i]->png);
              staged[i].reset();
              failures[i] = std::current_exception();
            }
        }
      }
      for (size_t i = first; i < end;) {  // one commit per run of receipts with the same folder
        if (!staged[i]) {
          ++i;
          continue;
        }
        const fs::path root = prepared[i]->root;
        std::vector<StagedReceipt> run;
        std::vector<size_t> index;
        size_t k = i;
        for (; k < end; ++k) {
          if (!staged[k]) continue;
          if (prepared[k]->root != root) break;
          run.push_back(std::move(*staged[k]));
          staged[k].reset();
          index.push_back(k);
        }
        const auto outcome = commit_receipts(root, run);
        for (size_t n = 0; n < index.size(); ++n) {
          if (outcome[n])
            failures[index[n]] = outcome[n];
          else
            numbers[index[n]] = run[n].line.number;
        }
        i = k;
      }
      saved = end;
    };

    size_t shown = 0;
    for (;;) {
      {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::milliseconds(100),
                         [&] { return saved < count && rendered[saved]; });
      }
      save_ready();
      py::gil_scoped_acquire acquired;
      // Ctrl+C: receipts under way are finished and saved, no new ones start.
      if (PyErr_CheckSignals() != 0) {
        interrupted = true;
        stop = true;
        break;
      }
      if (saved != shown && !progress.is_none()) progress(saved - shown);
      shown = saved;
      if (saved == count) break;
    }
    for (std::thread& thread : threads) thread.join();
    if (interrupted) save_ready();
  }
  if (interrupted) throw py::error_already_set();

  py::list out;
  for (size_t i = 0; i < count; ++i) {
    if (results[i]) {
      out.append(results[i]);
    } else if (failures[i]) {
      try {
        std::rethrow_exception(failures[i]);
      } catch (const std::exception& error) {
        out.append(as_python_error(error));
      }
    } else if (!numbers[i].empty()) {
      out.append(py::str(numbers[i]));
    } else {
      out.append(py::none());  // not started: interrupted
    }
  }
  return py::make_tuple(out, py::cast(std::vector<std::string>(problems.begin(), problems.end())));
}

}  // namespace

void register_batch_issue(py::module_& m) {
  m.def("issue_receipts", &issue_receipts, "requests"_a, "jobs"_a = 2, "progress"_a = py::none(),
        "Issues the requests on `jobs` threads with the GIL released. Returns (results, problems): per "
        "request its receipt number or the exception that stopped it, and the seller-profile problems. "
        "progress(n) is called as n more receipts finish.");
}

}  // namespace quillmarkers
