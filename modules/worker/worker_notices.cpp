// What the desktop and the window are told of a receipt the worker issued, and the buttons on
// those messages: 「作廢這張」 on a duplicate or an odd receipt, 「複製圖片」 on every notice,
// 「填寫賣方資料」 on a receipt refused for want of the shop's name.
#include <chrono>

#include "receiptora/home_folder.hpp"
#include "receiptora/issuing/issue.hpp"
#include "receiptora/log_file.hpp"
#include "receiptora/notices.hpp"
#include "receiptora/notify/notifier.hpp"
#include "receiptora/print/clipboard.hpp"
#include "receiptora/receipt_checks.hpp"
#include "receiptora/render/render.hpp"
#include "receiptora/reports/duplicates.hpp"
#include "receipt_requests.hpp"
#include "worker_parts.hpp"

namespace quillmarkers {

namespace py = pybind11;
using namespace pybind11::literals;
namespace fs = std::filesystem;
namespace render = receiptora::render;
namespace notify = receiptora::notify;

namespace {

constexpr const char* kDuplicateReason = "重複開立";
constexpr const char* kFlaggedReason = "開立內容有誤";

// 「作廢這張」 on a duplicate's or an odd receipt's notice: the new receipt is voided with the
// reason given, and a notice says what became of it. Runs on the notifier's thread or one
// the window started. Returns what the notice said.
std::string void_flagged(const fs::path& root, const std::string& number, const char* reason) {
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
void copy_picture(const fs::path& root, const std::string& number) {
  const receiptora::print::CopyOutcome outcome = receiptora::print::copy_receipt_picture(root, number);
  if (outcome.copied) return notify::Notifier::session().send({outcome.message, "", ""});
  receiptora::append_to_log(
      receiptora::default_log_path(),
      "=== " + receiptora::local_iso_timestamp() + " 複製圖片 " + number + "\n" + outcome.message + "\n");
  notify::Notifier::session().send({"未能複製 " + number + " 的圖片", outcome.message, ""});
}

}  // namespace

Summary summarise(const receiptora::Receipt& receipt, const receiptora::store::Day& day) {
  Summary summary;
  if (receipt.date)
    summary.date = receiptora::roc_date(receipt.date->year, receipt.date->month, receipt.date->day);
  std::vector<receiptora::ItemFigures> figures;
  for (const receiptora::Item& item : receipt.items) {
    summary.total += item.quantity * item.unit_price;
    figures.push_back({item.name, item.quantity, item.unit_price});
  }
  summary.oddities = receiptora::receipt_oddities({figures,
                                                   receipt.buyer_tax_id,
                                                   {day.year, day.month, day.day},
                                                   receiptora::today_local(),
                                                   receipt.date.has_value(),
                                                   receipt.buyer});
  const receiptora::SellerProfile& seller = receipt.seller;
  summary.stamp_left_off = !receipt.exemption_stamp && render::can_draw_exemption_stamp(seller);
  receiptora::Receipt stamped = receipt;
  stamped.exemption_stamp = true;
  summary.seller_notes = render::seller_notes(stamped);
  summary.stamp_notes =
      receiptora::stamp_notes({receipt.owner_seal, !seller.owner_seal_image.empty(), seller.owner,
                               receipt.exemption_stamp, !seller.exemption_stamp_image.empty(), seller.name});
  return summary;
}

// The odd lines come first (a day not today, then each odd row by its place, a buyer's 統一編號
// that fails its check), then a receipt of the same content, the stamps and the seller block.
Notice notify_issued(const fs::path& root, const std::string& number, const Summary& summary,
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

py::list void_action(const fs::path& root, const std::string& number, const char* reason) {
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

// The profile form in a process of its own (`receiptora profile`), so the window never waits.
py::list profile_action() {
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

void tell_window(py::handle feedback, py::handle error_log, const char* kind, const std::string& title,
                 const std::string& body, const std::string& pdf, py::list actions) {
  if (feedback.is_none()) return;
  try {
    feedback(
        py::dict("kind"_a = kind, "title"_a = title, "body"_a = body, "pdf"_a = pdf, "actions"_a = actions));
  } catch (py::error_already_set& failure) {
    log_failure(error_log, failure.value(), py::handle(), "視窗上的訊息無法顯示");
  }
}

}  // namespace quillmarkers
