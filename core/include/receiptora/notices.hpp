// Texts of the desktop notifications that tell the operator what became of a press.
#pragma once

#include <gmpxx.h>

#include <optional>
#include <string>
#include <string_view>

#include "receiptora/receipt_texts.hpp"

namespace receiptora {

// "已開立 收據-20261208-003｜115年12月8日｜合計 1,860 元": the date as printed on the receipt
// (none: "不印日期"), so a day chosen by mistake is seen at once.
std::string issued_notice(std::string_view number, const std::optional<RocDate>& date,
                          const mpz_class& total);

// A stamp ticked on the receipt and what the seller profile gives it to show.
struct TickedStamps {
  bool owner_seal = false, seal_picture = false;
  std::string_view owner;  // 負責人
  bool exemption_stamp = false, stamp_picture = false;
  std::string_view shop_name;  // 商號名稱
};

// What the receipt goes without, for the notice's body: "" when the 免用統一發票章 is on it
// and a ticked seal shows; else "負責人章未蓋：賣方資料沒有負責人姓名" and/or
// "未蓋免用統一發票章" (not ticked; "：賣方資料沒有商號名稱" added when the profile has no name
// to draw it with), or "收據沒有商號名稱：請填寫賣方資料" (a stamp picture, but no name),
// joined by "；". A seal drawn from the owner's name has no name to draw when the profile has none.
std::string stamp_notes(const TickedStamps& stamps);

// "收據未開立：<reason>（已記錄於 error.log）": the reason's first line, at most 200 bytes
// (cut between characters, "…" added).
std::string not_issued_notice(std::string_view reason);

}  // namespace receiptora
