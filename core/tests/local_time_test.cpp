#include <gtest/gtest.h>

#include <string>

#include "case_label.hpp"
#include "receiptora/local_time.hpp"

namespace receiptora {
namespace {

struct Case {
  const char* label;
  int year, month, day, hour, minute, second;
  std::string text;
};

class IsoTimestamp : public testing::TestWithParam<Case> {};

TEST_P(IsoTimestamp, ZeroPaddedWithoutZone) {
  const Case& c = GetParam();
  std::tm time{};
  time.tm_year = c.year - 1900;
  time.tm_mon = c.month - 1;
  time.tm_mday = c.day;
  time.tm_hour = c.hour;
  time.tm_min = c.minute;
  time.tm_sec = c.second;
  EXPECT_EQ(iso_timestamp(time), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IsoTimestamp,
    testing::Values(Case{"evening", 2026, 12, 7, 20, 4, 5, "2026-12-07T20:04:05"},
                    Case{"first_second_of_1912", 1912, 1, 1, 0, 0, 0, "1912-01-01T00:00:00"},
                    Case{"leap_day_last_second", 2028, 2, 29, 23, 59, 59, "2028-02-29T23:59:59"}),
    CaseLabel());

TEST(LocalIsoTimestamp, IsTheLocalTimeNowInTheSameForm) {
  const std::string text = local_iso_timestamp();
  ASSERT_EQ(text.size(), 19u);
  EXPECT_EQ(text[4], '-');
  EXPECT_EQ(text[10], 'T');
}

}  // namespace
}  // namespace receiptora
