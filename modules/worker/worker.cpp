// Receipt_Worker: takes receipt requests from a queue in order, flags itself busy on an event
// while it works, converts each request with the GIL held and renders and saves it with the
// GIL released (the window keeps animating), and logs a failure together with its request.
#include "worker.hpp"

#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "receiptora_py/collectable.hpp"
#include "receiptora_py/compare.hpp"
#include "receiptora_py/error_kinds.hpp"
#include "receipt_requests.hpp"
#include "receiptora/home_folder.hpp"
#include "receiptora/issuing/issue.hpp"
#include "receiptora/log_file.hpp"
#include "receiptora/month_grid.hpp"
#include "receiptora/print/clipboard.hpp"
#include "receiptora/print/print.hpp"
#include "receiptora/notices.hpp"
#include "receiptora/receipt_checks.hpp"
#include "receiptora/notify/notifier.hpp"
#include "receiptora/render/render.hpp"
#include "receiptora/reports/duplicates.hpp"
#include "receiptora/reports/month_view.hpp"
#include "receiptora/store/book.hpp"
#include "receiptora/store/profile.hpp"
#include "receiptora_py/collectable.hpp"
#include "receiptora_py/compare.hpp"

namespace quillmarkers {

namespace {

namespace py = pybind11;
using namespace pybind11::literals;
namespace fs = std::filesystem;
namespace render = receiptora::render;
namespace store = receiptora::store;
namespace notify = receiptora::notify;

constexpr const char* kDuplicateReason = "重複開立";
constexpr const char* kFlaggedReason = "開立內容有誤";
// A request equal to the one handed over less than this before is the second press of one
// intent (a double click), not a second receipt.
constexpr double kDoublePressSeconds = 2.0;
constexpr const char* kDoublePressText = "連按兩次，只開立一張";

// Problems of the seller profile, logged when they differ from the last ones logged.
class ProfileNotes {
 public:
  void report(py::handle error_log, const std::vector<std::string>& problems, bool issued) {
    if (problems == last_) return;
    last_ = problems;
    for (const std::string& problem : problems)
      log_failure(error_log, py::reinterpret_borrow<py::object>(PyExc_UserWarning)(problem), py::handle(),
                  issued ? "收據仍已開立" : "收據未開立");
  }

 private:
  std::vector<std::string> last_;
};

class ReceiptWorker {
 public:
  ReceiptWorker(py::object queue, py::object busy, py::object error_log, py::object feedback)
      : queue_(std::move(queue)),
        busy_(std::move(busy)),
        error_log_(std::move(error_log)),
        feedback_(std::move(feedback)) {
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
        log_failure(error_log_, failure.value(), py::handle(), "忙碌旗標無法設定");
      }
      work(request);
      try {
        busy_.attr("clear")();
      } catch (py::error_already_set& failure) {
        log_failure(error_log_, failure.value(), py::handle(), "忙碌旗標無法清除");
      }
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
      log_failure(error_log_, py::reinterpret_borrow<py::object>(PyExc_TimeoutError)("收據未完成"), current_,
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
      log_failure(error_log_, py::reinterpret_borrow<py::object>(PyExc_TimeoutError)("收據未開立"), item,
                  "程式關閉前還沒輪到這張收據");
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
    f(feedback_);
    f(last_request_);
  }
  void clear() { queue_ = busy_ = error_log_ = thread_ = current_ = feedback_ = last_request_ = py::none(); }

 private:
  void work(py::handle request) {
    std::string saved;                  // the number, once the receipt's files are in place
    std::vector<std::string> problems;  // the seller profile's, logged whatever became of the receipt
    try {
      if (double_press(request)) {
        notify::Notifier::session().send({kDoublePressText, "", ""});
        tell_window("double", kDoublePressText, "", "", py::list());
        return;
      }
      Prepared prepared = prepare(request);
      receiptora::issuing::Issued issued;
      Notice notice;
      {
        py::gil_scoped_release released;
        store::ProfileRead profile = store::read_profile(prepared.root);
        problems = std::move(profile.problems);
        prepared.receipt.seller = profile.seller;
        const Summary summary = summarise(prepared.receipt, prepared.day);
        issued = receiptora::issuing::issue_receipt(std::move(prepared.receipt), prepared.root,
                                                    prepared.day);  // durable, one by one
        saved = issued.number;
        notice = notify_issued(
            prepared.root, issued.number, summary,
            (store::month_folder(prepared.root, prepared.day) / (issued.number + ".pdf")).string());
        // 自動列印 = 是: the saved receipt goes to the default printer; a failure is logged by
        // print_receipts and the receipt stays saved.
        if (profile.auto_print)
          receiptora::print::print_receipts(prepared.root, {issued.number}, {},
                                            receiptora::default_log_path());
      }
      if (!issued.ledger_problem.empty())
        log_failure(
            error_log_,
            receiptora_py::error_of(receiptora_py::ErrorKind::LedgerNotWritten, issued.ledger_problem),
            py::handle(), "收據已存檔並記入收據簿");
      if (!notice.oddities.empty())
        log_failure(
            error_log_,
            py::reinterpret_borrow<py::object>(PyExc_UserWarning)(issued.number + "：" + notice.oddities),
            request, "收據已照輸入開立");
      tell_window(notice.void_reason ? "flagged" : "issued", notice.title, notice.body, notice.pdf,
                  notice.void_reason ? window_void_action(prepared.root, issued.number, notice.void_reason)
                                     : py::list());
    } catch (py::error_already_set& failure) {
      if (saved.empty()) not_issued(py::str(failure.value()));
      log_failure(error_log_, failure.value(), request, outcome(saved));
    } catch (py::builtin_exception& failure) {
      if (saved.empty()) not_issued(failure.what());
      failure.set_error();
      py::error_already_set error;
      log_failure(error_log_, error.value(), request, outcome(saved));
    } catch (const receiptora::issuing::IssueError& failure) {
      if (failure.saved()) saved = failure.number();
      const bool nameless = failure.kind() == receiptora::issuing::IssueError::Kind::NoSeller;
      if (!failure.saved()) not_issued(failure.what(), nameless ? profile_action() : py::list());
      log_failure(error_log_, as_python_error(failure), request, outcome(saved));
    } catch (const std::exception& failure) {
      if (saved.empty()) not_issued(failure.what());
      log_failure(error_log_, as_python_error(failure), request, outcome(saved));
    }
    // After the receipt's own entry: a profile that could not be read may be why it was refused.
    notes_.report(error_log_, problems, !saved.empty());
  }

  // True for a request equal to the one handed over less than kDoublePressSeconds before,
  // whatever became of that one (a triple click issues once too). The queue says when each
  // request was handed over (taken_handed_at, a time.monotonic() value: the app's queue keeps
  // it); a queue that keeps no such note is filled by a program, not pressed, and is not checked.
  bool double_press(py::handle request) {
    py::object noted = py::getattr(queue_, "taken_handed_at", py::none());
    if (!py::isinstance<py::float_>(noted)) return false;
    const double handed = noted.cast<double>();
    const bool again = !last_request_.is_none() && handed - last_handed_ < kDoublePressSeconds &&
                       receiptora_py::same_value(request, last_request_);
    last_request_ = py::reinterpret_borrow<py::object>(request);
    last_handed_ = handed;
    return again;
  }

  // The window's own word on a request (the host passes the kit's toast as `feedback`): a dict
  // with kind (issued, flagged, refused, double, failed), title, body, pdf and actions, a list
  // of (label, callable) the window runs off its own thread. A failing feedback is logged.
  void tell_window(const char* kind, const std::string& title, const std::string& body,
                   const std::string& pdf, py::list actions) {
    if (feedback_.is_none()) return;
    try {
      feedback_(py::dict("kind"_a = kind, "title"_a = title, "body"_a = body, "pdf"_a = pdf,
                         "actions"_a = actions));
    } catch (py::error_already_set& failure) {
      log_failure(error_log_, failure.value(), py::handle(), "視窗上的訊息無法顯示");
    }
  }

  static py::list window_void_action(const fs::path& root, const std::string& number, const char* reason) {
    py::list actions;
    actions.append(py::make_tuple("作廢這張", py::cpp_function([root, number, reason] {
                                    std::string said;
                                    {
                                      py::gil_scoped_release released;
                                      said = void_flagged(root, number, reason);
                                    }
                                    return said;
                                  })));
    return actions;
  }

  // What a failure's log entry says of the receipt: a failure after its files were saved
  // (a notice, a note that cannot be written) never calls it not made.
  static std::string outcome(const std::string& saved) {
    return saved.empty() ? "收據未開立" : saved + " 已存檔";
  }

  // What the notice after a receipt says: its printed date and its total, and what is odd.
  struct Summary {
    std::optional<receiptora::RocDate> date;
    mpz_class total;
    std::string stamp_notes;                // a ticked stamp the profile cannot fill
    std::vector<std::string> seller_notes;  // what the profile leaves the drawn 專用章 without
    std::vector<std::string> oddities;
    bool stamp_left_off = false;  // no 免用統一發票章, though the profile can draw one
  };
  static Summary summarise(const render::Receipt& receipt, const store::Day& day) {
    Summary summary;
    if (receipt.date)
      summary.date = receiptora::roc_date(receipt.date->year, receipt.date->month, receipt.date->day);
    std::vector<receiptora::ItemFigures> figures;
    for (const render::Item& item : receipt.items) {
      summary.total += item.quantity * item.unit_price;
      figures.push_back({item.name, item.quantity, item.unit_price});
    }
    summary.oddities = receiptora::receipt_oddities({figures,
                                                     receipt.buyer_tax_id,
                                                     {day.year, day.month, day.day},
                                                     receiptora::today_local(),
                                                     receipt.date.has_value()});
    const render::SellerProfile& seller = receipt.seller;
    summary.stamp_left_off = !receipt.exemption_stamp && render::can_draw_exemption_stamp(seller);
    render::Receipt stamped = receipt;
    stamped.exemption_stamp = true;
    summary.seller_notes = render::seller_notes(stamped);
    summary.stamp_notes = receiptora::stamp_notes({receipt.owner_seal, !seller.owner_seal_image.empty(),
                                                   seller.owner, receipt.exemption_stamp,
                                                   !seller.exemption_stamp_image.empty(), seller.name});
    return summary;
  }

  // The notice after a receipt, as sent to the desktop and told to the window.
  struct Notice {
    std::string title, body, pdf;
    std::string oddities;               // the odd lines, for the error log
    const char* void_reason = nullptr;  // flagged: 「作廢這張」 voids it for this reason
  };

  // The notice after a receipt: number, date and total; what is odd (a day not today first,
  // then each odd row by its place, a buyer's 統一編號 that fails its check); what a ticked stamp
  // could not show; and a receipt of the same content issued a moment before (a press twice).
  // A duplicate or an odd receipt gets 「作廢這張」 to void it.
  static Notice notify_issued(const fs::path& root, const std::string& number, const Summary& summary,
                              const std::string& pdf) {
    Notice notice{receiptora::issued_notice(number, summary.date, summary.total), "", pdf};
    auto add = [&](const std::string& line) { notice.body += (notice.body.empty() ? "" : "\n") + line; };
    std::vector<notify::NoticeAction> actions;
    std::optional<std::string> same;
    try {
      same = receiptora::reports::same_content_as(receiptora::issuing::book_for(root), number,
                                                  std::chrono::system_clock::now());
    } catch (const std::exception&) {
      // The receipt is issued; only the hint is missing.
    }
    actions.push_back({"copy", "複製圖片", [root, number] { copy_picture(root, number); }, false});
    for (const std::string& line : summary.oddities) {
      add(line);
      notice.oddities += (notice.oddities.empty() ? "" : "；") + line;
    }
    if (same) add("與 " + *same + " 內容相同");
    if (!summary.stamp_notes.empty()) add(summary.stamp_notes);
    for (const std::string& line : summary.seller_notes) add(line);
    if (same)
      notice.void_reason = kDuplicateReason;
    else if (!summary.oddities.empty() || summary.stamp_left_off)
      notice.void_reason = kFlaggedReason;
    if (notice.void_reason) {
      const char* reason = notice.void_reason;
      actions.push_back(
          {"void", "作廢這張", [root, number, reason] { (void)void_flagged(root, number, reason); }});
    }
    notify::Notifier::session().send({notice.title, notice.body, pdf, std::move(actions)});
    return notice;
  }

  // 「作廢這張」 on a duplicate's or an odd receipt's notice: the new receipt is voided with the
  // reason given, and a notice says what became of it. Runs on the notifier's thread or one
  // the window started.
  // Returns what the notice said.
  static std::string void_flagged(const fs::path& root, const std::string& number, const char* reason) {
    try {
      receiptora::issuing::void_receipt(root, number, reason);
      const std::string said = "已作廢 " + number + "（作廢原因：" + reason + "）";
      notify::Notifier::session().send({said, "", ""});
      return said;
    } catch (const std::exception& failure) {
      receiptora::append_to_log(
          receiptora::default_log_path(),
          "=== " + receiptora::local_iso_timestamp() + " 作廢 " + number + "\n" + failure.what() + "\n");
      notify::Notifier::session().send({"未能作廢 " + number, failure.what(), ""});
      return "未能作廢 " + number + "：" + failure.what();
    }
  }

  // 「複製圖片」 on a receipt's notice: its picture on the clipboard (a void one's 作廢 copy), and a
  // notice saying so; a failure also goes to the error log. Runs on the notifier's thread.
  static void copy_picture(const fs::path& root, const std::string& number) {
    const receiptora::print::CopyOutcome outcome = receiptora::print::copy_receipt_picture(root, number);
    if (outcome.copied) return notify::Notifier::session().send({outcome.message, "", ""});
    receiptora::append_to_log(
        receiptora::default_log_path(),
        "=== " + receiptora::local_iso_timestamp() + " 複製圖片 " + number + "\n" + outcome.message + "\n");
    notify::Notifier::session().send({"未能複製 " + number + " 的圖片", outcome.message, ""});
  }

  // A receipt not made: the desktop notice, without waiting, and the window.
  void not_issued(const std::string& reason, py::list actions = py::list()) {
    const std::string title = receiptora::not_issued_notice(reason);
    notify::Notifier::session().send({title, "", ""});
    tell_window("refused", title, "", "", std::move(actions));
  }

  // 「填寫賣方資料」 on the window's message of a receipt refused for want of the shop's name:
  // the profile form in a process of its own (`receiptora profile`), so the window never waits.
  static py::list profile_action() {
    py::list actions;
    actions.append(
        py::make_tuple("填寫賣方資料", py::cpp_function([] {
                         py::object executable = py::module_::import("sys").attr("executable");
                         py::module_::import("subprocess")
                             .attr("Popen")(py::make_tuple(executable, "-m", "receiptora", "profile"),
                                            "start_new_session"_a = true);
                         return std::string("已開啟賣方資料：填好商號名稱並儲存後，再按一次輸出單據");
                       })));
    return actions;
  }

  // What the first receipt would otherwise pay for, readied on this thread while the window
  // starts (the GIL released): fontconfig, both templates' faces and this thread's pango font
  // map (pango keeps one per thread), the glyphs of figures, capital numerals, the seller block
  // and both stamps; SHA-256; and the output folder's book, opened (recovering what a stopped
  // app left) with the month's rows read. Nothing is created when the folder does not exist. A
  // step that fails is logged and the worker goes on to the requests: a receipt that meets the
  // same failure logs it with its request.
  void warm_up() {
    std::vector<std::string> failures, notes;
    {
      py::gil_scoped_release released;
      const fs::path folder = receiptora::output_folder();
      std::error_code ec;
      const bool shop = fs::is_directory(folder, ec);
      render::SellerProfile seller;
      attempt(failures, "賣方資料", [&] {
        if (shop && fs::is_regular_file(folder / std::string(store::kProfileName), ec))
          seller = store::read_profile(folder).seller;
      });
      attempt(failures, "字型與版面", [&] {
        for (render::Template layout : {render::Template::General, render::Template::Cat})
          (void)render::render_pages(sample_receipt(seller, layout));
      });
      attempt(failures, "收據簿", [&] {
        (void)store::sha256_hex("");
        if (!shop) return;
        store::Book& book = receiptora::issuing::book_for(folder);
        notes = receiptora::issuing::recovery_of(folder).problems;  // also stamp pictures copied in
        const receiptora::CalendarDate today = receiptora::today_local();
        (void)store::list_receipts(book, receiptora::reports::month_key({today.year, today.month}), "");
      });
    }
    for (const std::string& failure : failures)
      log_failure(error_log_, py::reinterpret_borrow<py::object>(PyExc_RuntimeError)(failure), py::handle(),
                  "之後的收據照常處理");
    for (const std::string& note : notes)
      log_failure(error_log_, py::reinterpret_borrow<py::object>(PyExc_UserWarning)(note), py::handle(),
                  "開啟收據簿時");
  }

  template <class Step>
  static void attempt(std::vector<std::string>& failures, const char* what, Step&& step) {
    try {
      step();
    } catch (const std::exception& failure) {
      failures.push_back(std::string("啟動時預先準備") + what + "失敗：" + failure.what());
    } catch (...) {
      failures.push_back(std::string("啟動時預先準備") + what + "失敗");
    }
  }

  // A receipt that uses every face and the common glyphs a real one draws: the shop's seller
  // block, both stamps, a date, a buyer's 統一編號 and a total whose capital numerals hold every
  // digit and unit.
  static render::Receipt sample_receipt(const render::SellerProfile& seller, render::Template layout) {
    render::Receipt sample;
    sample.seller = seller;
    if (sample.seller.name.empty()) sample.seller.name = "商號名稱";
    if (sample.seller.owner.empty()) sample.seller.owner = "負責人";
    sample.number = "收據-20260101-001";
    sample.buyer = "買受人";
    sample.buyer_tax_id = "04595257";
    const receiptora::CalendarDate today = receiptora::today_local();
    sample.date = render::Date{today.year, today.month, today.day};
    sample.items.push_back({"商品", 1, mpz_class("1234567890"), ""});
    sample.exemption_stamp = sample.owner_seal = true;
    sample.layout = layout;
    return sample;
  }

  py::object queue_, busy_, error_log_, feedback_, thread_ = py::none(), current_ = py::none();
  py::object last_request_ = py::none();  // the request handed over last, and when
  double last_handed_ = 0;
  ProfileNotes notes_;
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
