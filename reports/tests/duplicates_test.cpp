// A second receipt with the same content within ten minutes is found; anything that tells
// the two apart (content, time, state) is not a duplicate.
#include "receiptora/reports/duplicates.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "../../core/tests/case_label.hpp"
#include "../../store/tests/temp_folder.hpp"

namespace receiptora::reports {
namespace {

using namespace std::chrono_literals;

const auto kNow = *parse_iso_time("2026-12-07T14:10:00+08:00");

store::Record record(const std::string& number, const std::string& issued_at) {
  store::Record r;
  r.number = number;
  r.date = "2026-12-07";
  r.state = store::State::Issued;
  r.buyer = "林記茶行";
  r.buyer_tax_id = "22099131";
  r.items = {{"凍頂烏龍茶", "2", "350", ""}, {"手工蛋糕", "3", "90", ""}};
  r.issued_at = issued_at;
  return r;
}

struct EarlierCase {
  std::string label;
  std::function<void(store::Record&)> change;  // made to the earlier receipt
  bool duplicate;
};

class Earlier : public testing::TestWithParam<EarlierCase> {};

TEST_P(Earlier, IsADuplicateOnlyWhenTheSameAndRecent) {
  store::TempFolder folder;
  store::Book book(folder.path);
  store::Record first = record("收據-20261207-001", "2026-12-07T14:05:00+08:00");
  GetParam().change(first);
  ASSERT_TRUE(store::insert_record(book, first));
  ASSERT_TRUE(store::insert_record(book, record("收據-20261207-002", "2026-12-07T14:09:58+08:00")));
  const auto found = same_content_as(book, "收據-20261207-002", kNow);
  EXPECT_EQ(found, GetParam().duplicate ? std::optional<std::string>("收據-20261207-001") : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Earlier,
    testing::Values(
        EarlierCase{"same", [](store::Record&) {}, true},
        EarlierCase{"in_another_zone",
                    [](store::Record& r) { r.issued_at = std::string("2026-12-07T06:01:00Z"); }, true},
        EarlierCase{"eleven_minutes_ago",
                    [](store::Record& r) { r.issued_at = std::string("2026-12-07T13:59:00+08:00"); }, false},
        EarlierCase{"other_buyer", [](store::Record& r) { r.buyer = std::string("陳小姐"); }, false},
        EarlierCase{"other_tax_id", [](store::Record& r) { r.buyer_tax_id.clear(); }, false},
        EarlierCase{"other_quantity", [](store::Record& r) { r.items[1].quantity = std::string("4"); },
                    false},
        EarlierCase{"other_note", [](store::Record& r) { r.items[0].note = std::string("禮盒"); }, false},
        EarlierCase{"one_item_less", [](store::Record& r) { r.items.pop_back(); }, false},
        EarlierCase{"void", [](store::Record& r) { r.state = store::State::Void; }, false},
        EarlierCase{"unfinished", [](store::Record& r) { r.state = store::State::Unfinished; }, false}),
    CaseLabel{});

TEST(Duplicates, TheLatestOfSeveralAndNoneForAnUnknownNumber) {
  store::TempFolder folder;
  store::Book book(folder.path);
  for (const char* number : {"收據-20261207-001", "收據-20261207-002", "收據-20261207-003"})
    ASSERT_TRUE(store::insert_record(book, record(number, "2026-12-07T14:08:00+08:00")));
  EXPECT_EQ(same_content_as(book, "收據-20261207-003", kNow), "收據-20261207-002");
  EXPECT_EQ(same_content_as(book, "收據-20261207-009", kNow), std::nullopt);
  // The 1000th receipt of a day comes after the 999th.
  for (const char* number : {"收據-20261207-999", "收據-20261207-1000", "收據-20261207-1001"})
    ASSERT_TRUE(store::insert_record(book, record(number, "2026-12-07T14:08:00+08:00")));
  EXPECT_EQ(same_content_as(book, "收據-20261207-1001", kNow), "收據-20261207-1000");
}

TEST(IsoTime, ZonesAndRefusals) {
  EXPECT_EQ(parse_iso_time("2026-12-07T14:10:00+08:00"), parse_iso_time("2026-12-07T06:10:00Z"));
  EXPECT_EQ(parse_iso_time("2026-12-07T06:10:00.250Z"), parse_iso_time("2026-12-07T06:10:00Z"));
  EXPECT_EQ(*parse_iso_time("2026-12-07T00:00:00-01:30") - *parse_iso_time("2026-12-07T00:00:00Z"), 90min);
  for (const char* bad : {"", "2026-12-07", "2026-02-30T00:00:00Z", "2026-12-07T14:10:00"})
    EXPECT_EQ(parse_iso_time(bad), std::nullopt) << bad;
}

}  // namespace
}  // namespace receiptora::reports
