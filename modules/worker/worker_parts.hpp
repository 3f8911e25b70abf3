// The receipt worker's parts, one job each:
//   worker.cpp          Receipt_Worker: the queue and its thread, the busy flag, the end
//   worker_issue.cpp    RequestIssuer: one request issued (a double press dropped), its
//                       failures logged with the request
//   worker_notices.cpp  what the desktop and the window are told of a receipt, and their
//                       buttons (作廢這張, 複製圖片, 填寫賣方資料)
//   worker_warm_up.cpp  what the first receipt would otherwise pay for, readied at start
#pragma once

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "receiptora/receipt_texts.hpp"
#include "receiptora/receipt.hpp"
#include "receiptora/store/numbering.hpp"
#include "receiptora/whole_number.hpp"

namespace quillmarkers {

// ---- worker_notices.cpp

// What the notice after a receipt says: its printed date and its total, and what is odd.
struct Summary {
  std::optional<receiptora::RocDate> date;
  mpz_class total;
  std::string stamp_notes;                // a ticked stamp the profile cannot fill
  std::vector<std::string> seller_notes;  // what the profile leaves the drawn 專用章 without
  std::vector<std::string> oddities;
  bool stamp_left_off = false;  // no 免用統一發票章, though the profile can draw one
};
// Taken before the receipt is issued (the issue takes the receipt).
Summary summarise(const receiptora::Receipt& receipt, const receiptora::store::Day& day);

// The notice after a receipt, as sent to the desktop and told to the window.
struct Notice {
  std::string title, body, pdf;
  std::string oddities;               // the odd lines, for the error log
  const char* void_reason = nullptr;  // flagged: 「作廢這張」 voids it for this reason
};
// Sends the desktop notice of an issued receipt and returns it: number, date and total; what
// is odd; what a ticked stamp could not show; a receipt of the same content issued a moment
// before (a press twice). A duplicate or an odd receipt gets 「作廢這張」. Runs without the GIL.
Notice notify_issued(const std::filesystem::path& root, const std::string& number, const Summary& summary,
                     const std::string& pdf);

// The window's buttons on its message: 「作廢這張」 for a flagged receipt, 「填寫賣方資料」 for
// one refused for want of the shop's name. Lists of (label, callable).
pybind11::list void_action(const std::filesystem::path& root, const std::string& number, const char* reason);
pybind11::list profile_action();

// The window's own word on a request (the host passes the kit's toast as `feedback`; none:
// nothing is told): a dict with kind (issued, flagged, refused, double, failed), title, body,
// pdf and actions, which the window runs off its own thread. A failing feedback is logged.
void tell_window(pybind11::handle feedback, pybind11::handle error_log, const char* kind,
                 const std::string& title, const std::string& body, const std::string& pdf,
                 pybind11::list actions);

// ---- worker_issue.cpp

// Problems of the seller profile, logged when they differ from the last ones logged.
class ProfileNotes {
 public:
  void report(pybind11::handle error_log, const std::vector<std::string>& problems, bool issued);

 private:
  std::vector<std::string> last_;
};

// Issues the requests the worker takes, one at a time on its thread.
class RequestIssuer {
 public:
  RequestIssuer(pybind11::object error_log, pybind11::object feedback);

  // Issues `request` (the GIL released while it renders and saves), or drops it as the second
  // press of one intent; tells the desktop and the window. `queue` is the queue it was taken
  // from (its taken_handed_at tells a double press). Never throws: a failure goes to the error
  // log with the request.
  void issue(pybind11::handle request, pybind11::handle queue);

  const pybind11::object& error_log() const { return error_log_; }

  template <class F>
  void visit(F&& f) const {
    f(error_log_);
    f(feedback_);
    f(last_request_);
  }
  void clear() { error_log_ = feedback_ = last_request_ = pybind11::none(); }

 private:
  // How far a request came: its number once its files are in place, and the profile's problems.
  struct Progress {
    std::string saved;
    std::vector<std::string> problems;
  };
  void issue_one(pybind11::handle request, Progress& progress);
  void tell_issued(pybind11::handle request, const std::filesystem::path& root, const std::string& number,
                   const std::string& ledger_problem, const Notice& notice);
  bool double_press(pybind11::handle request, pybind11::handle queue);
  void not_issued(const std::string& reason, pybind11::list actions = pybind11::list());

  pybind11::object error_log_, feedback_;
  pybind11::object last_request_ = pybind11::none();  // the request handed over last, and when
  double last_handed_ = 0;
  ProfileNotes notes_;
};

// ---- worker_warm_up.cpp

// Readies fonts, the templates' faces, SHA-256 and the output folder's book on the calling
// thread (the GIL released); a step that fails is logged and the worker goes on.
void warm_up(pybind11::handle error_log);

}  // namespace quillmarkers
