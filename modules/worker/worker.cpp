// Receipt_Worker: takes receipt requests from a queue in order, flags itself busy on an event
// while it works, hands each request to its RequestIssuer (worker_issue.cpp), and at the end
// leaves every book file complete. The worker's other parts are listed in worker_parts.hpp.
#include "worker.hpp"

#include <pybind11/stl.h>

#include <atomic>
#include <optional>

#include "receipt_requests.hpp"
#include "receiptora/issuing/issue.hpp"
#include "receiptora_py/collectable.hpp"
#include "worker_parts.hpp"

namespace quillmarkers {

namespace {

namespace py = pybind11;
using namespace pybind11::literals;

class ReceiptWorker {
 public:
  ReceiptWorker(py::object queue, py::object busy, py::object error_log, py::object feedback)
      : queue_(std::move(queue)),
        busy_(std::move(busy)),
        issuer_(std::move(error_log), std::move(feedback)) {}

  void start(py::object self) {
    if (!thread_.is_none()) throw py::value_error("the receipt worker has already been started");
    thread_ =
        py::module_::import("threading")
            .attr("Thread")("target"_a = self.attr("run"), "name"_a = "Receipt_Worker", "daemon"_a = true);
    thread_.attr("start")();
  }

  // The thread's body: until None, one request after the other.
  void run() {
    warm_up(issuer_.error_log());
    for (;;) {
      py::object request = queue_.attr("get")();
      if (request.is_none()) break;
      current_ = request;
      flag_busy("set", "忙碌旗標無法設定");
      issuer_.issue(request, queue_);
      flag_busy("clear", "忙碌旗標無法清除");
      current_ = py::none();
      ++done_;
    }
    // The app ends: each book file is made complete on its own (another worker of this
    // process may still use the books, so they stay open).
    py::gil_scoped_release released;
    receiptora::issuing::checkpoint_books();
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
      log_failure(error_log(), py::reinterpret_borrow<py::object>(PyExc_TimeoutError)("收據未完成"), current_,
                  "程式關閉時這張收據還在存檔");
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
      log_failure(error_log(), py::reinterpret_borrow<py::object>(PyExc_TimeoutError)("收據未開立"), item,
                  "程式關閉前還沒輪到這張收據");
    }
    return count;
  }

  py::object error_log() const { return issuer_.error_log(); }
  int done() const { return done_; }

  template <class F>
  void visit(F&& f) const {
    f(queue_);
    f(busy_);
    f(thread_);
    f(current_);
    issuer_.visit(f);
  }
  void clear() {
    queue_ = busy_ = thread_ = current_ = py::none();
    issuer_.clear();
  }

 private:
  // Sets or clears the busy event; a failure is logged and the worker goes on.
  void flag_busy(const char* how, const char* note) {
    try {
      busy_.attr(how)();
    } catch (py::error_already_set& failure) {
      log_failure(error_log(), failure.value(), py::handle(), note);
    }
  }

  py::object queue_, busy_, thread_ = py::none(), current_ = py::none();
  RequestIssuer issuer_;
  std::atomic<int> done_{0};
};

}  // namespace

void register_worker(py::module_& m) {
  py::class_<RaiseStored>(m, "_Raise_Stored", py::dynamic_attr()).def("__call__", &RaiseStored::operator());
  py::class_<ReceiptWorker>(m, "Receipt_Worker", receiptora_py::collectable<ReceiptWorker>(),
                            "Issues the receipt requests put on a queue, one after the other.")
      .def(py::init<py::object, py::object, py::object, py::object>(), "queue"_a, "busy"_a,
           "error_log"_a = py::none(), "feedback"_a = py::none(),
           "queue: the \"get_receipt\" queue (its taken_handed_at, when it has one, tells a double "
           "press); busy: its event, set while a request is worked on; error_log: a Try_Except_Model (a "
           "new one by default); feedback: called with a dict (kind, title, body, pdf, actions) on the "
           "worker's thread after each request, for the window.")
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
}

}  // namespace quillmarkers
