#include "receiptora/notices.hpp"

#include <gtest/gtest.h>

#include <string>

#include "case_label.hpp"

namespace receiptora {
namespace {

struct IssuedCase {
  const char* label;
  const char* number;
  std::optional<RocDate> date;
  long total;
  const char* notice;
};

class IssuedNotice : public testing::TestWithParam<IssuedCase> {};

TEST_P(IssuedNotice, NamesNumberPrintedDateAndTotal) {
  const IssuedCase& c = GetParam();
  EXPECT_EQ(issued_notice(c.number, c.date, c.total), c.notice);
}

const IssuedCase kIssued[] = {
    {"dated", "收據-20261208-003", RocDate{115, 12, 8}, 1860,
     "已開立 收據-20261208-003｜115年12月8日｜合計 1,860 元"},
    {"no_date_printed", "收據-20261208-004", std::nullopt, 90,
     "已開立 收據-20261208-004｜不印日期｜合計 90 元"},
    {"negative_total", "收據-20260101-001", RocDate{115, 1, 1}, -1500,
     "已開立 收據-20260101-001｜115年1月1日｜合計 -1,500 元"},
};

INSTANTIATE_TEST_SUITE_P(Cases, IssuedNotice, testing::ValuesIn(kIssued), CaseLabel{});

std::string repeat(const char* text, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) result += text;
  return result;
}

struct NotIssuedCase {
  const char* label;
  std::string reason;
  std::string notice;
};

class NotIssuedNotice : public testing::TestWithParam<NotIssuedCase> {};

TEST_P(NotIssuedNotice, SaysWhyAndWhereItIsLogged) {
  EXPECT_EQ(not_issued_notice(GetParam().reason), GetParam().notice);
}

const NotIssuedCase kNotIssued[] = {
    {"reason", "磁碟已滿", "收據未開立：磁碟已滿（已記錄於 error.log）"},
    {"first_line_only", "disk full\ntraceback…", "收據未開立：disk full（已記錄於 error.log）"},
    // 67 three-byte characters fill 201 bytes: the cut falls inside the 67th, which is dropped.
    {"long_reason_cut_between_characters", repeat("錯", 67),
     "收據未開立：" + repeat("錯", 66) + "…（已記錄於 error.log）"},
};

INSTANTIATE_TEST_SUITE_P(Cases, NotIssuedNotice, testing::ValuesIn(kNotIssued), CaseLabel{});

struct StampCase {
  const char* label;
  TickedStamps stamps;
  const char* notes;
};

class StampNotes : public testing::TestWithParam<StampCase> {};

TEST_P(StampNotes, SayWhatTheReceiptGoesWithout) {
  EXPECT_EQ(stamp_notes(GetParam().stamps), GetParam().notes);
}

const StampCase kStamps[] = {
    {"all_shown", {true, false, "王大明", true, false, "喵喵文具行"}, ""},
    {"stamp_not_ticked", {false, false, "", false, false, "喵喵文具行"}, "未蓋免用統一發票章"},
    {"seal_without_owner",
     {true, false, "", true, false, "喵喵文具行"},
     "負責人章未蓋：賣方資料沒有負責人姓名"},
    {"seal_owner_of_spaces",
     {true, false, " \u3000", true, false, "喵喵文具行"},
     "負責人章未蓋：賣方資料沒有負責人姓名"},
    {"seal_picture_needs_no_owner", {true, true, "", true, false, "喵喵文具行"}, ""},
    {"stamp_without_shop_name",
     {false, false, "", true, false, ""},
     "未蓋免用統一發票章：賣方資料沒有商號名稱"},
    {"stamp_picture_without_shop_name",
     {false, false, "", true, true, ""},
     "收據沒有商號名稱：請填寫賣方資料"},
    {"both_missing",
     {true, false, "", true, false, ""},
     "負責人章未蓋：賣方資料沒有負責人姓名；未蓋免用統一發票章：賣方資料沒有商號名稱"},
};

INSTANTIATE_TEST_SUITE_P(Cases, StampNotes, testing::ValuesIn(kStamps), CaseLabel{});

}  // namespace
}  // namespace receiptora
