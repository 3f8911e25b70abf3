#include <gtest/gtest.h>

#include <string>

#include "receiptora/captions.hpp"

namespace receiptora {
namespace {

TEST(BusyCaption, CyclesThroughThreeDots) {
  const std::pair<const char*, const char*> steps[] = {
      {"輸出單據", "輸出中."},  {"輸出中.", "輸出中.."}, {"輸出中..", "輸出中..."},
      {"輸出中...", "輸出中."}, {"", "輸出中."},         {"輸出中....", "輸出中."},
  };
  for (const auto& [now, next] : steps) EXPECT_EQ(next_busy_caption(now), next) << now;
}

TEST(DayKey, NoLeadingZerosAndTextsUnchanged) {
  EXPECT_EQ(day_key(2026, 12, 6), "2026-12-6");
  EXPECT_EQ(day_key(2027, 1, 5), "2027-1-5");
  EXPECT_EQ(day_key("2026", "07", "6"), "2026-07-6");
}

}  // namespace
}  // namespace receiptora
