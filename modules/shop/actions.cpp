// What the 收據簿 window's buttons do to the selected receipt and to the month. Each says
// what happened in the status line; a failure is also written to the error log.
#include <pybind11/pybind11.h>

#include "book_window.hpp"
#include "dialogs.hpp"
#include "launch.hpp"
#include "receiptora/issuing/issue.hpp"
#include "receiptora/print/clipboard.hpp"
#include "receiptora/print/print.hpp"
#include "receiptora/reports/accountant.hpp"
#include "receiptora/reports/month_files.hpp"
#include "receiptora/reports/month_view.hpp"
#include "receiptora/store/backup.hpp"

namespace receiptora_shop {

namespace {

using namespace pybind11::literals;
namespace fs = std::filesystem;
namespace print = receiptora::print;
namespace store = receiptora::store;

constexpr int kOpenCheckMs = 300;
constexpr int kOpenChecks = 5;  // an opener still running after 1.5 s has opened the folder

class Refusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

const store::ListRow& chosen(const BookWindow& w) {
  if (!showing_receipts(w)) throw Refusal("請先切換到「收據」清單，選一張收據");
  const store::ListRow* row = selected_row(w);
  if (!row) throw Refusal("請先在清單中選一張收據");
  return *row;
}

// The PDF to show and print: the receipt's own, or a void receipt's 作廢 copy (print's rule,
// the same for every way of printing).
fs::path receipt_pdf(const BookWindow& w, const store::ListRow& row) {
  return print::receipt_pdf(w.root, row.number);
}

void open_with_viewer(const BookWindow& w, const fs::path& path) {
  const std::string opener = py::str(w.module.attr("OPENER"));
  const std::string error = launch({opener, path.string()});
  if (!error.empty()) throw std::runtime_error(error);
}

std::string printed(const fs::path& pdf) {
  print::PrintJob job;
  {
    py::gil_scoped_release unlocked;
    job = print::print_pdf(pdf, {"", 1, pdf.stem().string()});
  }
  return "送到印表機 " + job.printer + "（工作 " + std::to_string(job.id) + "）";
}

template <class F>
void refusing(BookWindow& w, F&& action) {
  try {
    action();
  } catch (const Refusal& refusal) {
    show_status(w, refusal.what(), true);
  }
}

}  // namespace

void open_receipt(BookWindow& w) {
  refusing(w, [&] {
    const store::ListRow& row = chosen(w);
    open_with_viewer(w, receipt_pdf(w, row));
    show_status(w, "已開啟 " + row.number, false);
  });
}

void print_receipt(BookWindow& w) {
  refusing(w, [&] {
    const store::ListRow& row = chosen(w);
    show_status(w, row.number + " 已" + printed(receipt_pdf(w, row)), false);
  });
}

void reprint_receipt(BookWindow& w) {
  refusing(w, [&] {
    const std::string number = chosen(w).number;
    std::vector<std::string> files;
    {
      py::gil_scoped_release unlocked;
      files = receiptora::issuing::reprint_receipt(w.root, number);
    }
    reload_rows(w);
    fs::path pdf;
    for (const std::string& name : files)
      if (fs::path(name).extension() == ".pdf")
        pdf = fs::path(name).is_absolute() ? fs::path(name) : w.root / name;
    if (pdf.empty()) throw std::runtime_error(number + " 的補印副本沒有 PDF 檔，未能列印");
    try {
      show_status(w, "已補印 " + pdf.filename().string() + "，" + printed(pdf), false);
    } catch (const print::PrintError& error) {
      report_failure(w, "列印", "已補印 " + pdf.filename().string() + "，但未能列印：" + error.what());
    }
  });
}

void void_receipt(BookWindow& w) {
  refusing(w, [&] {
    const store::ListRow& row = chosen(w);
    if (row.state != store::State::Issued) throw Refusal(row.number + " 不是已開立的收據，不能作廢");
    const std::string number = row.number;
    const std::optional<std::string> given =
        ask_text(w.app, "作廢 " + number, "作廢原因（印在作廢副本上）：", w.font_family);
    if (!given) return show_status(w, "未作廢 " + number, false);
    std::string reason = *given;
    const size_t first = reason.find_first_not_of(" \t\r\n");
    reason = first == std::string::npos
                 ? ""
                 : reason.substr(first, reason.find_last_not_of(" \t\r\n") - first + 1);
    if (reason.empty()) throw Refusal("作廢需要作廢原因：" + number + " 未作廢");
    const bool confirmed =
        confirm(w.app, "確認作廢 " + number,
                "確定作廢 " + number + "？\n作廢原因：" + reason + "\n\n作廢後號碼不再使用，原檔保留。",
                w.font_family);
    if (!confirmed) return show_status(w, "未作廢 " + number, false);
    std::vector<std::string> files;
    {
      py::gil_scoped_release unlocked;
      files = receiptora::issuing::void_receipt(w.root, number, reason);
    }
    reload_month(w);
    show_status(w,
                "已作廢 " + number +
                    (files.empty() ? "" : "，作廢副本 " + fs::path(files.front()).filename().string()),
                false);
  });
}

void copy_picture(BookWindow& w) {
  refusing(w, [&] {
    const std::string number = chosen(w).number;
    receiptora::print::CopyOutcome outcome;
    {
      py::gil_scoped_release unlocked;
      outcome = receiptora::print::copy_receipt_picture(w.root, number);
    }
    if (!outcome.copied) return report_failure(w, "複製圖片", outcome.message);
    show_status(w, outcome.message, false);
  });
}

void open_folder(BookWindow& w) {
  refusing(w, [&] {
    // The month's folder, or the output folder for a month without receipts: nothing is made.
    fs::path folder = w.root / receiptora::reports::month_key(w.month);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) folder = w.root;
    if (!fs::is_directory(folder, ec))
      throw Refusal("還沒有輸出資料夾 " + w.root.string() + "：開立第一張收據時會建立");
    const std::string opener = py::str(w.module.attr("OPENER"));
    const Launched launched = launch_watched({opener, folder.string()});
    if (!launched.error.empty()) throw std::runtime_error(launched.error);
    show_status(w, "正在開啟資料夾 " + folder.string() + "…", false);
    // An opener that finds no file manager ends with a failure at once; one still running, or
    // ended well, after a moment has opened the folder.
    auto check = std::make_shared<py::object>();
    auto tries = std::make_shared<int>(0);
    *check = py::cpp_function([&w, folder, opener, launched, tries, weak = std::weak_ptr<py::object>(check)] {
      guarded(w, "開啟資料夾", [&] {
        const int status = launched.exit_status->load();
        if (status == kStillRunning && ++*tries < kOpenChecks) {
          if (auto again = weak.lock()) w.app.attr("after")(kOpenCheckMs, *again);
          return;
        }
        if (status != kStillRunning && status != 0)
          return report_failure(w, "開啟資料夾",
                                "無法開啟資料夾 " + folder.string() + "（" + opener + " 結束碼 " +
                                    std::to_string(status) + "）");
        show_status(w, "已開啟資料夾 " + folder.string(), false);
      });
    });
    w.pending_checks.push_back(check);
    w.app.attr("after")(kOpenCheckMs, *check);
  });
}

void export_excel(BookWindow& w) {
  refusing(w, [&] {
    if (!w.book) throw Refusal("還沒有收據可以匯出");
    fs::path file;
    {
      py::gil_scoped_release unlocked;
      file = receiptora::reports::export_month(*w.book, w.month);
    }
    show_status(w, "已匯出 " + file.string(), false);
  });
}

void month_report(BookWindow& w) {
  refusing(w, [&] {
    if (!w.book) throw Refusal("還沒有收據可以做月報表");
    fs::path file;
    {
      py::gil_scoped_release unlocked;
      file = receiptora::reports::write_month_report(*w.book, w.month);
    }
    open_with_viewer(w, file);
    show_status(w, "已製作月報表 " + file.string(), false);
  });
}

// The month for the accountant: checked, then one folder in the output folder, opened.
void for_the_accountant(BookWindow& w) {
  refusing(w, [&] {
    if (!w.book) throw Refusal("還沒有收據可以交給會計");
    receiptora::reports::AccountantFolder made;
    {
      py::gil_scoped_release unlocked;
      made = receiptora::reports::write_accountant_folder(*w.book, w.month, w.root);
    }
    const std::string opener = py::str(w.module.attr("OPENER"));
    const std::string error = launch({opener, made.folder.string()});
    show_status(w,
                "已整理給會計：" + made.folder.string() +
                    (made.sound ? "（檢查無誤）" : "（檢查發現問題，見月報表第 1 頁）") +
                    (error.empty() ? "" : "；無法開啟資料夾：" + error),
                !made.sound);
  });
}

void back_up(BookWindow& w) {
  refusing(w, [&] {
    if (!w.book) throw Refusal("還沒有收據可以備份");
    use_taiwan_dialogs(w.app);
    py::object os_path = py::module_::import("os.path");
    py::object chosen =
        py::module_::import("tkinter.filedialog")
            .attr("askdirectory")("parent"_a = w.app, "title"_a = "備份到哪個資料夾（例如隨身碟）？",
                                  "initialdir"_a = os_path.attr("expanduser")("~"));
    if (!py::isinstance<py::str>(chosen) || py::len(chosen) == 0) return show_status(w, "未備份", false);
    const fs::path dest(chosen.cast<std::string>());
    store::BackupReport made;
    {
      py::gil_scoped_release unlocked;
      made = store::back_up(receiptora::issuing::book_for(w.root), dest);  // it notes the backup in the book
    }
    draw_summary(w);
    show_status(w,
                "已備份 " + std::to_string(made.receipts) + " 張收據與 " + std::to_string(made.files) +
                    " 個檔案到 " + made.folder.string(),
                false);
  });
}

}  // namespace receiptora_shop
