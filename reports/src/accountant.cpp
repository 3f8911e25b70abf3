#include "receiptora/reports/accountant.hpp"

#include <gmpxx.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <system_error>

#include "receiptora/people_dates.hpp"
#include "receiptora/receipt_texts.hpp"
#include "receiptora/render/report.hpp"
#include "receiptora/reports/month_view.hpp"
#include "receiptora/reports/regulars.hpp"
#include "receiptora/reports/xlsx.hpp"
#include "receiptora/store/audit.hpp"
#include "receiptora/store/files.hpp"
#include "receiptora/store/profile.hpp"

namespace receiptora::reports {

namespace {

namespace fs = std::filesystem;

// Faults named on the first page; the rest are counted (all of them are in 說明.txt).
constexpr std::size_t kFaultsShown = 3;

std::string fault_line(const store::Fault& fault) {
  std::string line = fault.number;
  if (!fault.file.empty()) line += (line.empty() ? "" : " ") + fault.file;
  return line + (line.empty() ? "" : "：") + fault.problem;
}

std::string verdict_of(const store::AuditReport& audit, YearMonth month) {
  if (audit.sound())
    return "檢查結果：無誤。" + roc_month_text(month) + "的 " + std::to_string(audit.receipts) + " 張收據、" +
           std::to_string(audit.files) + " 個檔案都與收據簿相符（SHA-256），收據清冊一致，號碼連續。";
  std::string verdict =
      "檢查結果：發現 " + std::to_string(audit.faults.size()) + " 個問題，請先處理再交給會計：";
  for (std::size_t i = 0; i < audit.faults.size() && i < kFaultsShown; ++i)
    verdict += "\n" + fault_line(audit.faults[i]);
  if (audit.faults.size() > kFaultsShown)
    verdict += "\n……另有 " + std::to_string(audit.faults.size() - kFaultsShown) + " 個，見說明.txt";
  return verdict;
}

// The receipt's PDF a person should get: the 作廢 copy of a void receipt, else the original.
std::string pdf_of(const store::ListRow& row) {
  const std::string want = row.state == store::State::Void ? row.number + "-作廢.pdf" : row.number + ".pdf";
  for (const std::string& name : row.files)
    if (name.size() >= want.size() && name.compare(name.size() - want.size(), want.size(), want) == 0 &&
        (name.size() == want.size() || name[name.size() - want.size() - 1] == '/'))
      return name;
  return "";
}

fs::path free_name(const fs::path& dest, const std::string& name) {
  std::error_code ec;
  fs::path folder = dest / name;
  for (int n = 2; fs::exists(fs::symlink_status(folder, ec)); ++n)
    folder = dest / (name + "-" + std::to_string(n));
  return folder;
}

void write_text_file(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary);
  out << text;
  out.close();
  if (!out) throw std::system_error(errno, std::generic_category(), "無法寫入 " + file.string());
}

std::string explanation(YearMonth month, const std::string& shop, const store::Summary& summary,
                        const AccountantFolder& made, const store::AuditReport& audit,
                        const std::vector<std::string>& missing) {
  const std::string caption = roc_month_text(month);
  std::string text;
  text += (shop.empty() ? std::string() : shop + " ") + caption + " 免用統一發票收據\r\n\r\n";
  text += "已開立 " + std::to_string(summary.receipts) + " 張，合計 " +
          grouped_figures(mpz_class(summary.total.empty() ? "0" : summary.total)) + " 元；作廢 " +
          std::to_string(summary.voided) + " 張（不計入合計）。\r\n\r\n";
  text += "這個資料夾裡有：\r\n";
  text += "- 月報表-" + caption +
          ".pdf：第 1 頁是本月的數字、圖表與檢查結果；之後各頁是每張收據的清單"
          "（號碼、日期、買受人、統一編號、總額、狀態；作廢的收據列出作廢日期與原因），每頁有本頁合計與累計。"
          "\r\n";
  text += "- 收據簿-" + caption + ".xlsx：同樣的清單與常客、品項統計，可用 Excel 或 LibreOffice 開啟。\r\n";
  text += "- 收據/：每張收據的 PDF；作廢的收據放的是蓋有「作廢」的副本。\r\n\r\n";
  text += made.verdict + "\r\n";
  if (!audit.sound())
    for (const store::Fault& fault : audit.faults) text += "- " + fault_line(fault) + "\r\n";
  for (const std::string& number : missing) text += "- " + number + "：找不到 PDF，沒有放進 收據/\r\n";
  text += "\r\n日期為民國紀年（115/12/05 即 2026 年 12 月 5 日）。\r\n";
  return text;
}

}  // namespace

AccountantFolder write_accountant_folder(const store::Book& book, YearMonth month, const fs::path& dest) {
  const fs::path root = book.folder();
  const std::string key = month_key(month), caption = roc_month_text(month);
  const store::AuditReport audit = store::audit_folder(book, 0, key);
  AccountantFolder made;
  made.sound = audit.sound();
  made.verdict = verdict_of(audit, month);

  const std::vector<store::ListRow> rows = store::list_receipts(book, key, "");
  const store::ProfileRead profile = store::read_profile(root);
  render::MonthReport report = month_report(book, month, profile.invoice_standard, profile.seller.name);
  report.verdict = made.verdict;
  report.verdict_sound = made.sound;
  report.list_caption = caption + " 收據清單";
  for (const store::ListRow& row : rows) {
    render::ReportListRow line{row.number, roc_day_of_iso(row.date),
                               row.buyer,  row.buyer_tax_id,
                               row.total,  std::string(state_caption(row.state)),
                               "",         row.state == store::State::Issued};
    if (row.state == store::State::Void) {
      const auto record = store::find_receipt(book, row.number);
      if (record)
        line.note =
            "作廢於 " + roc_day_of_iso(record->voided_at.substr(0, 10)) + "，原因：" + record->void_reason;
    }
    report.list.push_back(std::move(line));
  }
  made.receipts = rows.size();

  std::error_code ec;
  fs::create_directories(dest, ec);
  if (!fs::is_directory(dest)) throw std::system_error(ec, "無法建立資料夾 " + dest.string());
  const fs::path partial = dest / (".給會計-" + key + "-" + std::to_string(getpid()));
  fs::remove_all(partial, ec);
  try {
    fs::create_directories(partial / "收據");
    write_month_xlsx(
        partial / ("收據簿-" + caption + ".xlsx"),
        {month, rows, buyer_tallies(book, {month.year, month.month}), buyer_tallies(book, {month.year, 0}),
         item_tallies(book, {month.year, month.month}), item_tallies(book, {month.year, 0})});
    write_text_file(partial / ("月報表-" + caption + ".pdf"), render::render_month_report(report));
    std::vector<std::string> missing;
    for (const store::ListRow& row : rows) {
      if (row.state != store::State::Issued && row.state != store::State::Void) continue;
      const std::string name = pdf_of(row);
      const fs::path from = root / name;
      if (name.empty() || !fs::is_regular_file(fs::symlink_status(from, ec))) {
        missing.push_back(row.number);
        continue;
      }
      fs::copy_file(from, partial / "收據" / from.filename());
      ++made.pdfs;
    }
    const store::Summary summary = store::summarize(
        book, key + "-01",
        key + "-" + (days_in_month(month) < 10 ? "0" : "") + std::to_string(days_in_month(month)));
    write_text_file(partial / "說明.txt",
                    "\xEF\xBB\xBF" + explanation(month, profile.seller.name, summary, made, audit, missing));
    store::sync_file_system(partial);
    made.folder = free_name(dest, "給會計-" + caption);
    fs::rename(partial, made.folder);
    store::sync_folder(dest);
  } catch (...) {
    fs::remove_all(partial, ec);
    throw;
  }
  return made;
}

}  // namespace receiptora::reports
