// A receipt issued twice by mistake: the same buyer, buyer's 統一編號, items and date as a
// receipt issued from the same book a few minutes before (a second press of 輸出單據).
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "receiptora/store/book.hpp"

namespace receiptora::reports {

inline constexpr std::chrono::minutes kDuplicateWindow{10};

// The latest other issued receipt of the book whose content equals receipt `number`'s and
// that was issued at most kDuplicateWindow before `now`; nullopt when there is none.
std::optional<std::string> same_content_as(const store::Book& book, const std::string& number,
                                           std::chrono::system_clock::time_point now);

// An ISO 8601 time with its zone ("2026-12-07T14:03:00+08:00", "…Z") as a point in time.
std::optional<std::chrono::system_clock::time_point> parse_iso_time(const std::string& text);

}  // namespace receiptora::reports
