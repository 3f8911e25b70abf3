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

// "收據未開立：<reason>（已記錄於 error.log）": the reason's first line, at most 200 bytes
// (cut between characters, "…" added).
std::string not_issued_notice(std::string_view reason);

}  // namespace receiptora
