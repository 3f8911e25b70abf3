// One receipt request on the worker's thread: a double press is told and dropped; any other
// request is read with the GIL held, issued through the journal with it released (the window
// keeps animating), printed when the profile says so, and told to the desktop and the window.
// Every failure goes to the error log with its request, saying whether the receipt was made.
#include "receiptora/issuing/issue.hpp"
#include "receiptora/log_file.hpp"
#include "receiptora/notify/notifier.hpp"
#include "receiptora/print/print.hpp"
#include "receiptora/notices.hpp"
#include "receiptora/store/profile.hpp"
#include "receiptora_py/compare.hpp"
#include "receiptora_py/error_kinds.hpp"
#include "receipt_requests.hpp"
#include "worker_parts.hpp"

namespace quillmarkers {

namespace py = pybind11;
namespace issuing = receiptora::issuing;
namespace store = receiptora::store;
namespace notify = receiptora::notify;

namespace {

// A request equal to the one handed over less than this before is the second press of one
// intent (a double click), not a second receipt.
constexpr double kDoublePressSeconds = 2.0;
constexpr const char* kDoublePressText = "連按兩次，只開立一張";

py::object user_warning(const std::string& text) {
  return py::reinterpret_borrow<py::object>(PyExc_UserWarning)(text);
}

// What a failure's log entry says of the receipt: a failure after its files were saved
// (a notice, a note that cannot be written) never calls it not made.
std::string outcome(const std::string& saved) { return saved.empty() ? "收據未開立" : saved + " 已存檔"; }

}  // namespace

void ProfileNotes::report(py::handle error_log, const std::vector<std::string>& problems, bool issued) {
  if (problems == last_) return;
  last_ = problems;
  for (const std::string& problem : problems)
    log_failure(error_log, user_warning(problem), py::handle(), issued ? "收據仍已開立" : "收據未開立");
}

RequestIssuer::RequestIssuer(py::object error_log, py::object feedback)
    : error_log_(std::move(error_log)), feedback_(std::move(feedback)) {
  if (error_log_.is_none()) error_log_ = py::module_::import("quillmarkers_model").attr("Try_Except_Model")();
}

void RequestIssuer::issue(py::handle request, py::handle queue) {
  Progress progress;
  try {
    if (double_press(request, queue)) {
      notify::Notifier::session().send({kDoublePressText, "", ""});
      tell_window(feedback_, error_log_, "double", kDoublePressText, "", "", py::list());
      return;
    }
    issue_one(request, progress);
  } catch (py::error_already_set& failure) {
    if (progress.saved.empty()) not_issued(py::str(failure.value()));
    log_failure(error_log_, failure.value(), request, outcome(progress.saved));
  } catch (py::builtin_exception& failure) {
    if (progress.saved.empty()) not_issued(failure.what());
    failure.set_error();
    py::error_already_set error;
    log_failure(error_log_, error.value(), request, outcome(progress.saved));
  } catch (const issuing::IssueError& failure) {
    if (failure.saved()) progress.saved = failure.number();
    const bool nameless = failure.kind() == issuing::IssueError::Kind::NoSeller;
    if (!failure.saved()) not_issued(failure.what(), nameless ? profile_action() : py::list());
    log_failure(error_log_, as_python_error(failure), request, outcome(progress.saved));
  } catch (const std::exception& failure) {
    if (progress.saved.empty()) not_issued(failure.what());
    log_failure(error_log_, as_python_error(failure), request, outcome(progress.saved));
  }
  // After the receipt's own entry: a profile that could not be read may be why it was refused.
  notes_.report(error_log_, progress.problems, !progress.saved.empty());
}

void RequestIssuer::issue_one(py::handle request, Progress& progress) {
  Prepared prepared = prepare(request);
  std::string ledger_problem;
  Notice notice;
  {
    py::gil_scoped_release released;
    store::ProfileRead profile = store::read_profile(prepared.root);
    progress.problems = std::move(profile.problems);
    prepared.receipt.seller = profile.seller;
    const Summary summary = summarise(prepared.receipt, prepared.day);
    issuing::Issued issued = issuing::issue_receipt(std::move(prepared.receipt), prepared.root,
                                                    prepared.day);  // durable, one by one
    progress.saved = issued.number;
    ledger_problem = std::move(issued.ledger_problem);
    notice =
        notify_issued(prepared.root, issued.number, summary,
                      (store::month_folder(prepared.root, prepared.day) / (issued.number + ".pdf")).string());
    // 自動列印 = 是: the saved receipt goes to the default printer; a failure is logged by
    // print_receipts and the receipt stays saved.
    if (profile.auto_print)
      receiptora::print::print_receipts(prepared.root, {issued.number}, {}, receiptora::default_log_path());
  }
  tell_issued(request, prepared.root, progress.saved, ledger_problem, notice);
}

// The error log's notes on a receipt issued (its ledger line missing; what was odd in it) and
// the window's message, with 「作廢這張」 when it is flagged.
void RequestIssuer::tell_issued(py::handle request, const std::filesystem::path& root,
                                const std::string& number, const std::string& ledger_problem,
                                const Notice& notice) {
  if (!ledger_problem.empty())
    log_failure(error_log_,
                receiptora_py::error_of(receiptora_py::ErrorKind::LedgerNotWritten, ledger_problem),
                py::handle(), "收據已存檔並記入收據簿");
  if (!notice.oddities.empty())
    log_failure(error_log_, user_warning(number + "：" + notice.oddities), request, "收據已照輸入開立");
  tell_window(feedback_, error_log_, notice.void_reason ? "flagged" : "issued", notice.title, notice.body,
              notice.pdf, notice.void_reason ? void_action(root, number, notice.void_reason) : py::list());
}

// True for a request equal to the one handed over less than kDoublePressSeconds before,
// whatever became of that one (a triple click issues once too). The queue says when each
// request was handed over (taken_handed_at, a time.monotonic() value: the app's queue keeps
// it); a queue that keeps no such note is filled by a program, not pressed, and is not checked.
bool RequestIssuer::double_press(py::handle request, py::handle queue) {
  py::object noted = py::getattr(queue, "taken_handed_at", py::none());
  if (!py::isinstance<py::float_>(noted)) return false;
  const double handed = noted.cast<double>();
  const bool again = !last_request_.is_none() && handed - last_handed_ < kDoublePressSeconds &&
                     receiptora_py::same_value(request, last_request_);
  last_request_ = py::reinterpret_borrow<py::object>(request);
  last_handed_ = handed;
  return again;
}

// A receipt not made: the desktop notice, without waiting, and the window.
void RequestIssuer::not_issued(const std::string& reason, py::list actions) {
  const std::string title = receiptora::not_issued_notice(reason);
  notify::Notifier::session().send({title, "", ""});
  tell_window(feedback_, error_log_, "refused", title, "", "", std::move(actions));
}

}  // namespace quillmarkers
