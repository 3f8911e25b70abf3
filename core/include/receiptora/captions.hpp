// Small texts of the window: the output button's busy cycle, the calendar's day key and the
// colour that marks the chosen day.
#pragma once

#include <string>
#include <string_view>

namespace receiptora {

// The caption that follows `current` while the worker is busy:
// 輸出中. → 輸出中.. → 輸出中... → 輸出中., and anything else → 輸出中.
std::string next_busy_caption(std::string_view current);

// The chosen day's button colour in the calendar: the window's blue.
inline constexpr const char* kChosenDayColour = "#3B8ED0";

// "2026-12-6": year, month and day joined by "-", integers without leading zeros.
std::string day_key(long year, long month, long day);
// Parts that are already texts are used unchanged.
std::string day_key(std::string_view year, std::string_view month, std::string_view day);

}  // namespace receiptora
