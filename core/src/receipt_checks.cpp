#include "receiptora/receipt_checks.hpp"

#include "receiptora/receipt_texts.hpp"
#include "receiptora/tax_id.hpp"

namespace receiptora {

namespace {

// Figures too long to read in one line are left out of a message rather than flooding it.
constexpr std::size_t kShownFigures = 24;

std::string amount_words(const mpz_class& amount) {
  std::string figures = grouped_figures(amount);
  return figures.size() <= kShownFigures ? figures + " 元" : "位數過多";
}

std::string row_label(std::size_t index) { return "第 " + std::to_string(index + 1) + " 列"; }

// The first run of exactly eight ASCII digits in `text` that passes the 統一編號 check.
std::optional<std::string> tax_id_inside(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] < '0' || text[i] > '9') {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    const std::string_view run = text.substr(i, end - i);
    if (run.size() == 8 && valid_tax_id(run)) return std::string(run);
    i = end;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> total_refusal(const mpz_class& total) {
  const char* why = "：收據是收到款項的憑證，合計須大於 0";
  if (total < 0) return "合計為負數（" + amount_words(total) + "）" + why;
  if (total == 0) return std::string("合計為 0 元") + why;
  return std::nullopt;
}

std::vector<std::string> receipt_oddities(const ReceiptFacts& facts) {
  std::vector<std::string> lines;
  if (facts.day != facts.today) {
    const std::optional<RocDate> day = roc_date(facts.day.year, facts.day.month, facts.day.day);
    const std::string when = day ? roc_day_text(*day) : "";
    lines.push_back("收據日期 " + when + "，不是今天" + (facts.date_printed ? "" : "（收據號碼依此日）"));
  }
  for (std::size_t i = 0; i < facts.items.size(); ++i) {
    const ItemFigures& item = facts.items[i];
    const bool no_quantity = item.quantity == 0, no_price = item.unit_price == 0;
    const std::string row = row_label(i);
    if (blank_text(item.name)) {
      const mpz_class amount = item.quantity * item.unit_price;
      if (amount != 0)
        lines.push_back(row + "沒有品名，金額 " + amount_words(amount) + "計入合計");
      else if (!no_quantity || !no_price)
        lines.push_back(row + "沒有品名");
    } else if (no_quantity && no_price) {
      lines.push_back(row + "沒有數量和單價，金額 0");
    } else if (no_price) {
      lines.push_back(row + "沒有單價，金額 0");
    } else if (no_quantity) {
      lines.push_back(row + "數量為 0，金額 0");
    }
  }
  if (!facts.buyer_tax_id.empty() && !valid_tax_id(facts.buyer_tax_id))
    lines.push_back("買受人統一編號「" + std::string(facts.buyer_tax_id) + "」檢查碼不符");
  if (facts.buyer_tax_id.empty())
    if (const std::optional<std::string> inside = tax_id_inside(facts.buyer))
      lines.push_back("買受人「" + std::string(facts.buyer) + "」裡有統一編號 " + *inside +
                      "，統一編號欄是空的");
  return lines;
}

}  // namespace receiptora
