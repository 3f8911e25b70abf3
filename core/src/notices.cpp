#include "receiptora/notices.hpp"

namespace receiptora {

namespace {

constexpr std::size_t kReasonBytes = 200;

std::string_view first_line(std::string_view text) { return text.substr(0, text.find('\n')); }

// Cuts UTF-8 text to at most `bytes` bytes without splitting a character.
std::string cut(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return std::string(text);
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end)) + "…";
}

}  // namespace

std::string stamp_notes(const TickedStamps& stamps) {
  std::string notes;
  auto add = [&](const char* note) { notes += (notes.empty() ? "" : "；") + std::string(note); };
  if (stamps.owner_seal && !stamps.seal_picture && blank_text(stamps.owner))
    add("負責人章未蓋：賣方資料沒有負責人姓名");
  // A receipt without the 免用統一發票章 is noted, ticked or not: a shop may stamp the paper
  // by hand, but should know.
  const bool nameless = blank_text(stamps.shop_name);
  if (!stamps.exemption_stamp || (!stamps.stamp_picture && nameless))
    add(nameless ? "未蓋免用統一發票章：賣方資料沒有商號名稱" : "未蓋免用統一發票章");
  else if (nameless)
    add("收據沒有商號名稱：請填寫賣方資料");
  return notes;
}

std::string issued_notice(std::string_view number, const std::optional<RocDate>& date,
                          const mpz_class& total) {
  std::string day = "不印日期";
  if (date) day = roc_day_text(*date);
  return "已開立 " + std::string(number) + "｜" + day + "｜合計 " + grouped_figures(total) + " 元";
}

std::string not_issued_notice(std::string_view reason) {
  return "收據未開立：" + cut(first_line(reason), kReasonBytes) + "（已記錄於 error.log）";
}

}  // namespace receiptora
