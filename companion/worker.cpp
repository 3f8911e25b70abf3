// Receipt_Worker: takes receipt requests from a queue in order, flags itself busy on an event
// while it works, converts each request with the GIL held and renders and saves it with the
// GIL released (the window keeps animating), and logs a failure together with its request.
// issue_receipts: the same for a list of requests on several threads at once.
#include "worker.hpp"

#include <pybind11/stl.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "issue.hpp"
#include "kit.hpp"
#include "receiptora/render/render.hpp"
#include "receiptora_py/convert.hpp"
#include "receiptora_py/receipt_request.hpp"

namespace quillmarkers {

namespace {

namespace py = pybind11;
using namespace pybind11::literals;
namespace fs = std::filesystem;
namespace render = receiptora::render;
namespace store = receiptora::store;

constexpr size_t kReprLimit = 10000;  // characters of a request kept in the log
// Characters of one typed text on a receipt. Far above any real name, it keeps a hostile
// request (megabytes in one field) from holding the worker for minutes of layout.
constexpr size_t kTextLimit = 5000;

size_t characters(const std::string& utf8) {
  size_t count = 0;
  for (unsigned char c : utf8) count += (c & 0xC0) != 0x80;
  return count;
}

void check_lengths(const render::Receipt& receipt) {
  auto check = [](const std::string& text, const std::string& what) {
    if (characters(text) > kTextLimit)
      throw py::value_error(what + " has " + std::to_string(characters(text)) +
                            " characters; a receipt takes at most " + std::to_string(kTextLimit));
  };
  check(receipt.buyer, "\"買受人\"");
  check(receipt.buyer_tax_id, "\"買受人統一編號\"");
  for (size_t i = 0; i < receipt.items.size(); ++i)
    check(receipt.items[i].name, "\"品名\"[" + std::to_string(i) + "]");
}

// A request ready to render: everything taken from Python.
struct Prepared {
  render::Receipt receipt;
  fs::path root;
  store::Day day;
};

Prepared prepare(py::handle request) {
  Prepared prepared;
  prepared.receipt = receiptora_py::receipt_from_request(request, "", {});
  check_lengths(prepared.receipt);
  py::object folder = request.attr("get")("存檔路徑");
  if (!py::isinstance<py::str>(folder) || py::len(folder) == 0)
    throw py::type_error("存檔路徑 must be a non-empty folder name");
  const std::string raw = py::bytes(py::module_::import("os").attr("fsencode")(folder));
  prepared.root = fs::path(raw);
  std::optional<render::Date> date = prepared.receipt.date;
  if (!date) {  // not printed, but the number still carries the receipt's day
    py::dict dated = py::module_::import("builtins").attr("dict")(request);
    dated["顯示日期"] = true;
    date = receiptora_py::receipt_from_request(dated, "", {}).date;
  }
  if (!date) throw py::value_error("the request has no receipt date");
  prepared.day = {date->year, date->month, date->day};
  return prepared;
}

// repr() of a request, also when it holds an int too long for Python's str conversion, cut
// to kReprLimit characters.
std::string request_repr(py::handle value) {
  std::string text;
  std::function<void(py::handle)> add = [&](py::handle item) {
    if (text.size() > kReprLimit) return;
    if (PyLong_CheckExact(item.ptr())) {
      text += receiptora_py::to_mpz(item).get_str();
    } else if (PyDict_CheckExact(item.ptr())) {
      text += "{";
      bool first = true;
      for (auto [key, entry] : py::reinterpret_borrow<py::dict>(item)) {
        text += first ? "" : ", ";
        first = false;
        add(key);
        text += ": ";
        add(entry);
      }
      text += "}";
    } else if (PyList_CheckExact(item.ptr())) {
      text += "[";
      bool first = true;
      for (py::handle entry : py::reinterpret_borrow<py::list>(item)) {
        text += first ? "" : ", ";
        first = false;
        add(entry);
      }
      text += "]";
    } else {
      try {
        if (PyUnicode_Check(item.ptr()) && PyUnicode_GetLength(item.ptr()) > Py_ssize_t{kReprLimit}) {
          text += py::repr(item[py::slice(0, kReprLimit, 1)]).cast<std::string>() + "…";
          return;
        }
        text += py::repr(item).cast<std::string>();
      } catch (py::error_already_set&) {
        text += "<" + std::string(Py_TYPE(item.ptr())->tp_name) + " without repr>";
      }
    }
  };
  add(value);
  if (text.size() > kReprLimit) {
    size_t cut = kReprLimit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // whole characters
    text = text.substr(0, cut) + "… (cut; " + std::to_string(text.size()) + " bytes in all)";
  }
  return text;
}

// A callable that raises a stored exception: handed to try_except_log, it puts a failure
// into the error log in the log's own format.
struct RaiseStored {
  py::object error;
  void operator()() const {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw py::error_already_set();
  }
};

// The exception object a C++ failure stands for.
py::object as_python_error(const std::exception& error) {
  if (const auto* system = dynamic_cast<const std::system_error*>(&error))
    return py::reinterpret_borrow<py::object>(PyExc_OSError)(system->code().value(), system->what());
  return py::reinterpret_borrow<py::object>(PyExc_RuntimeError)(error.what());
}

// Writes `error` with the request and a note to the error log (and stderr), through the
// companion's own error log so every failure looks the same there.
void log_failure(py::handle error_log, py::object error, py::handle request, const std::string& note) {
  try {
    if (!note.empty()) error.attr("add_note")(note);
    if (request) error.attr("add_note")("request: " + request_repr(request));
    py::object raise = py::cast(RaiseStored{error});
    raise.attr("__qualname__") = "Receipt_Worker";  // the name the log shows
    error_log.attr("try_except_log")(raise)();
  } catch (py::error_already_set& failure) {
    // The log itself failed: the failure still reaches stderr through Python's hook.
    failure.discard_as_unraisable("logging a receipt failure");
  }
}

// Problems of the seller profile, logged when they differ from the last ones logged.
class ProfileNotes {
 public:
  void report(py::handle error_log, const std::vector<std::string>& problems) {
    if (problems == last_) return;
    last_ = problems;
    for (const std::string& problem : problems)
      log_failure(error_log, py::reinterpret_borrow<py::object>(PyExc_UserWarning)(problem), py::handle(),
                  "the receipt was made with the rest of the profile");
  }

 private:
  std::vector<std::string> last_;
};

class ReceiptWorker {
 public:
  ReceiptWorker(py::object queue, py::object busy, py::object error_log)
      : queue_(std::move(queue)), busy_(std::move(busy)), error_log_(std::move(error_log)) {
    if (error_log_.is_none())
      error_log_ = py::module_::import("quillmarkers_model").attr("Try_Except_Model")();
  }

  void start(py::object self) {
    if (!thread_.is_none()) throw py::value_error("the receipt worker has already been started");
    thread_ =
        py::module_::import("threading")
            .attr("Thread")("target"_a = self.attr("run"), "name"_a = "Receipt_Worker", "daemon"_a = true);
    thread_.attr("start")();
  }

  // The thread's body: until None, one request after the other.
  void run() {
    warm_up();
    for (;;) {
      py::object request = queue_.attr("get")();
      if (request.is_none()) break;
      current_ = request;
      try {
        busy_.attr("set")();
      } catch (py::error_already_set& failure) {
        log_failure(error_log_, failure.value(), py::handle(), "the busy flag could not be set");
      }
      work(request);
      try {
        busy_.attr("clear")();
      } catch (py::error_already_set& failure) {
        log_failure(error_log_, failure.value(), py::handle(), "the busy flag could not be cleared");
      }
      current_ = py::none();
      ++done_;
    }
  }

  bool join(std::optional<double> timeout) {
    if (thread_.is_none()) return true;
    thread_.attr("join")(timeout);
    return !thread_.attr("is_alive")().cast<bool>();
  }

  // Requests taken but not finished, plus those still queued before the final None.
  int unfinished() const {
    int count = current_.is_none() ? 0 : 1;
    for (py::handle item : py::list(queue_.attr("queue")))
      if (!item.is_none()) ++count;
    return count;
  }

  // The host stops waiting: every request not yet saved goes to the error log, so none
  // disappears without a trace. Returns how many there were.
  int abandon() {
    int count = 0;
    if (!current_.is_none()) {
      ++count;
      log_failure(error_log_, py::reinterpret_borrow<py::object>(PyExc_TimeoutError)("receipt not finished"),
                  current_, "the app closed while this receipt was being saved");
    }
    py::object empty = py::module_::import("queue").attr("Empty");
    for (;;) {
      py::object item;
      try {
        item = queue_.attr("get_nowait")();
      } catch (py::error_already_set& e) {
        if (e.matches(empty)) break;
        throw;
      }
      if (item.is_none()) continue;
      ++count;
      log_failure(error_log_, py::reinterpret_borrow<py::object>(PyExc_TimeoutError)("receipt not issued"),
                  item, "the app closed before the worker reached this receipt");
    }
    return count;
  }

  py::object error_log() const { return error_log_; }
  int done() const { return done_; }

  template <class F>
  void visit(F&& f) const {
    f(queue_);
    f(busy_);
    f(error_log_);
    f(thread_);
    f(current_);
  }
  void clear() { queue_ = busy_ = error_log_ = thread_ = current_ = py::none(); }

 private:
  void work(py::handle request) {
    try {
      Prepared prepared = prepare(request);
      std::vector<std::string> problems;
      {
        py::gil_scoped_release released;
        store::ProfileRead profile = store::read_profile(prepared.root);
        problems = std::move(profile.problems);
        prepared.receipt.seller = profile.seller;
        issue_receipt(std::move(prepared.receipt), prepared.root, prepared.day);  // durable, one by one
      }
      notes_.report(error_log_, problems);
    } catch (py::error_already_set& failure) {
      log_failure(error_log_, failure.value(), request, "the receipt was not made");
    } catch (py::builtin_exception& failure) {
      failure.set_error();
      py::error_already_set error;
      log_failure(error_log_, error.value(), request, "the receipt was not made");
    } catch (const std::exception& failure) {
      log_failure(error_log_, as_python_error(failure), request, "the receipt was not made");
    }
  }

  // Fonts and the renderer's caches load on the first receipt; doing it here, before the
  // first request, keeps the first press as quick as the later ones.
  void warm_up() {
    py::gil_scoped_release released;
    try {
      render::Receipt sample;
      sample.number = "收據-20260101-001";
      sample.buyer = "買受人";
      sample.date = render::Date{2026, 1, 1};
      sample.items.push_back({"商品", 1, 100, ""});
      (void)render::render_both(sample);
    } catch (const std::exception&) {
      // A real receipt will meet the same failure and log it with its request.
    }
  }

  py::object queue_, busy_, error_log_, thread_ = py::none(), current_ = py::none();
  ProfileNotes notes_;
  std::atomic<int> done_{0};
};

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
      if (PyErr_CheckSignals() !=
          0) {  // Ctrl+C: receipts under way are finished and saved, no new ones start
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

void register_worker(py::module_& m) {
  py::class_<RaiseStored>(m, "_Raise_Stored", py::dynamic_attr()).def("__call__", &RaiseStored::operator());
  py::class_<ReceiptWorker>(m, "Receipt_Worker", collectable<ReceiptWorker>(),
                            "Issues the receipt requests put on a queue, one after the other.")
      .def(py::init<py::object, py::object, py::object>(), "queue"_a, "busy"_a, "error_log"_a = py::none(),
           "queue: the \"get_receipt\" queue; busy: its event, set while a request is worked on; "
           "error_log: a Try_Except_Model (a new one by default).")
      .def(
          "start", [](py::object self) { self.cast<ReceiptWorker&>().start(self); },
          "Starts the worker's thread (a daemon thread named Receipt_Worker).")
      .def("run", &ReceiptWorker::run, "The thread's body: works until it takes None.")
      .def("join", &ReceiptWorker::join, "timeout"_a = py::none(),
           "Waits for the worker to end, at most timeout seconds; True when it has ended.")
      .def_property_readonly("unfinished", &ReceiptWorker::unfinished,
                             "Requests taken or queued and not yet finished.")
      .def_property_readonly("done", &ReceiptWorker::done, "Requests finished, made or logged.")
      .def_property_readonly("error_log", &ReceiptWorker::error_log)
      .def("abandon", &ReceiptWorker::abandon,
           "Logs every request not yet finished (the host stops waiting); returns how many.");

  m.def("issue_receipts", &issue_receipts, "requests"_a, "jobs"_a = 2, "progress"_a = py::none(),
        "Issues the requests on `jobs` threads with the GIL released. Returns (results, problems): per "
        "request its receipt number or the exception that stopped it, and the seller-profile problems. "
        "progress(n) is called as n more receipts finish.");
}

}  // namespace quillmarkers
