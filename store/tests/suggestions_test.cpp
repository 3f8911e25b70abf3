#include "receiptora/store/suggestions.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <thread>

#include "case_name.hpp"
#include "older_book.hpp"
#include "receiptora/store/book.hpp"
#include "temp_folder.hpp"

namespace receiptora::store {
namespace {

// "name detail" of each suggestion, in order, joined by " | ".
std::string shown(const std::vector<Suggestion>& suggestions) {
  std::string out;
  for (const Suggestion& s : suggestions) out += (out.empty() ? "" : " | ") + s.name + " " + s.detail;
  return out;
}

// --- which match, in which order ---

struct RankRow {
  const char* name;
  std::vector<Suggestion> all;
  const char* typed;
  const char* expected;
};

class Ranking : public ::testing::TestWithParam<RankRow> {};

TEST_P(Ranking, MatchesByContentAndOrdersByUseAndRecency) {
  SuggestionList list;
  list.assign(GetParam().all);
  EXPECT_EQ(shown(list.match(GetParam().typed, "2026-12-08")), GetParam().expected);
}

const Suggestion kCafe{"好日子咖啡", "12345675", 3, "2026-12-01"};
const Suggestion kBakery{"日日麵包坊", "04595257", 5, "2026-12-01"};
const Suggestion kOld{"日光文具", "22099131", 40, "2025-06-01"};

INSTANTIATE_TEST_SUITE_P(
    Rows, Ranking,
    ::testing::Values(
        RankRow{"AnywhereInTheName", {kCafe, kBakery}, "咖啡", "好日子咖啡 12345675"},
        RankRow{
            "MoreUsesFirstWhenAsRecent", {kCafe, kBakery}, "日", "日日麵包坊 04595257 | 好日子咖啡 12345675"},
        // 40 uses 18 months ago weigh 40 / 2^6 ≈ 0.6 against 3 this week.
        RankRow{"RecentBeatsOftenLongAgo", {kOld, kCafe}, "日", "好日子咖啡 12345675 | 日光文具 22099131"},
        RankRow{"SameWeightLaterFirst",
                {{"乙茶", "", 1, "2026-12-08"}, {"甲茶", "", 1, "2026-12-08"}, {"丙茶", "", 1, "2026-12-07"}},
                "茶",
                "乙茶  | 甲茶  | 丙茶 "},
        RankRow{"LettersAnyCaseAndWidth",
                {{"ABC商行", "1", 1, "2026-12-01"}, {"xyz", "2", 1, "2026-12-01"}},
                "ａｂ",
                "ABC商行 1"},
        RankRow{"WhiteSpaceAroundIgnored", {kCafe}, "　咖啡 ", "好日子咖啡 12345675"},
        RankRow{"NothingTypedNothingShown", {kCafe}, "  ", ""}, RankRow{"NoMatch", {kCafe}, "麵包", ""},
        RankRow{"AtMostSix",
                {{"茶1", "", 7, "2026-12-08"},
                 {"茶2", "", 6, "2026-12-08"},
                 {"茶3", "", 5, "2026-12-08"},
                 {"茶4", "", 4, "2026-12-08"},
                 {"茶5", "", 3, "2026-12-08"},
                 {"茶6", "", 2, "2026-12-08"},
                 {"茶7", "", 1, "2026-12-08"}},
                "茶",
                "茶1  | 茶2  | 茶3  | 茶4  | 茶5  | 茶6 "}),
    CaseName{});

// --- the counts the book keeps ---

Record receipt(const std::string& date, const std::string& buyer, const std::string& tax_id,
               std::vector<BookItem> items) {
  Record r;
  r.date = date;
  r.buyer = buyer;
  r.buyer_tax_id = tax_id;
  r.items = std::move(items);
  return r;
}

std::string issue(Book& book, Record r) {
  const std::string number = claim_receipt(book, r).number;
  mark_issued(book, number, {}, now_iso());
  return number;
}

struct CountRow {
  const char* name;
  void (*fill)(Book& book);
  const char* buyers;  // suggested for "店"
  const char* items;   // suggested for "茶"
};

class Counts : public ::testing::TestWithParam<CountRow> {};

TEST_P(Counts, OnlyIssuedReceiptsAreSuggested) {
  TempFolder folder;
  {
    Book book(folder.path);
    GetParam().fill(book);
  }
  SuggestionBook suggestions(folder.path);
  EXPECT_EQ(shown(suggestions.suggest(SuggestionKind::Buyer, "店", "2026-12-08")), GetParam().buyers);
  EXPECT_EQ(shown(suggestions.suggest(SuggestionKind::Item, "茶", "2026-12-08")), GetParam().items);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Counts,
    ::testing::Values(
        CountRow{
            "IssuedWithTheLastPrice",
            [](Book& b) {
              issue(b, receipt("2026-12-01", "甲店", "12345675", {{"紅茶", "1", "30", ""}}));
              issue(b, receipt("2026-12-02", "甲店", "12345675", {{"紅茶", "2", "35", ""}}));
              issue(b, receipt("2026-12-03", "乙店", "", {{"綠茶", "1", "25", ""}, {"紅茶", "1", "40", ""}}));
            },
            "甲店 12345675 | 乙店 ", "紅茶 40 | 綠茶 25"},
        CountRow{"PendingAndUnfinishedNotCounted",
                 [](Book& b) {
                   Record pending = receipt("2026-12-01", "甲店", "", {{"紅茶", "1", "30", ""}});
                   claim_receipt(b, pending);
                   Record failed = receipt("2026-12-01", "乙店", "", {{"綠茶", "1", "30", ""}});
                   mark_unfinished(b, claim_receipt(b, failed).number, "字型");
                 },
                 "", ""},
        CountRow{"VoidTakesItOutAndTheEarlierPriceBack",
                 [](Book& b) {
                   issue(b, receipt("2026-12-01", "甲店", "", {{"紅茶", "1", "30", ""}}));
                   issue(b, receipt("2026-12-02", "甲店", "", {{"紅茶", "1", "30", ""}}));
                   const std::string wrong =
                       issue(b, receipt("2026-12-03", "乙店", "", {{"紅茶", "1", "300", ""}}));
                   mark_void(b, wrong, "打錯", now_iso(), {}, [] {});
                 },
                 "甲店 ", "紅茶 30"},
        CountRow{"ImportedIssuedCountedImportedVoidNot",
                 [](Book& b) {
                   Record kept = receipt("2026-11-30", "甲店", "1", {{"紅茶", "1", "30", ""}});
                   kept.number = "收據-20261130-001";
                   kept.state = State::Issued;
                   Record voided = receipt("2026-11-30", "乙店", "2", {{"綠茶", "1", "30", ""}});
                   voided.number = "收據-20261130-002";
                   voided.state = State::Void;
                   insert_records(b, {kept, voided});
                 },
                 "甲店 1", "紅茶 30"},
        CountRow{
            "TheThousandthReceiptOfADayIsLaterThanTheNineHundredNinetyNinth",
            [](Book& b) {
              std::vector<Record> day;
              for (const auto& [seq, price] : {std::pair{"999", "30"}, {"1000", "35"}, {"1001", "300"}}) {
                Record r = receipt("2026-11-30", "甲店", "", {{"紅茶", "1", price, ""}});
                r.number = std::string("收據-20261130-") + seq;
                r.state = State::Issued;
                day.push_back(r);
              }
              insert_records(b, day);
              mark_void(b, "收據-20261130-1001", "打錯", now_iso(), {}, [] {});
            },
            "甲店 ", "紅茶 35"},
        CountRow{"SameBuyerTwoTaxIdsAreTwoSuggestions",
                 [](Book& b) {
                   issue(b, receipt("2026-12-01", "甲店", "12345675", {}));
                   issue(b, receipt("2026-12-02", "甲店", "12345765", {}));
                   issue(b, receipt("2026-12-02", "甲店", "12345675", {}));
                 },
                 "甲店 12345675 | 甲店 12345765", ""},
        CountRow{"NamelessBuyerAndItemsLeftOut",
                 [](Book& b) {
                   issue(b, receipt("2026-12-01", "", "12345675", {{"", "1", "5", ""}}));
                 },
                 "", ""}),
    CaseName{});

TEST(SuggestionBook, AnOlderBookIsCountedWhenItIsMigrated) {
  TempFolder folder;
  {
    Book book(folder.path);
    issue(book, receipt("2026-12-01", "甲店", "1", {{"紅茶", "1", "30", ""}, {"紅茶", "1", "33", ""}}));
    const std::string voided = issue(book, receipt("2026-12-02", "乙店", "2", {{"綠茶", "1", "20", ""}}));
    mark_void(book, voided, "x", now_iso(), {}, [] {});
    ASSERT_EQ(sqlite3_exec(book.db(), kBackBeforeCounts, nullptr, nullptr, nullptr), SQLITE_OK);
  }
  SuggestionBook suggestions(folder.path);
  EXPECT_EQ(shown(suggestions.suggest(SuggestionKind::Buyer, "店", "2026-12-08")), "");  // not counted yet
  Book migrated(folder.path);
  EXPECT_EQ(shown(suggestions.suggest(SuggestionKind::Buyer, "店", "2026-12-08")), "甲店 1");
  const auto items = suggestions.suggest(SuggestionKind::Item, "茶", "2026-12-08");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].detail, "33");  // the receipt's last line
  EXPECT_EQ(items[0].uses, 2);
}

TEST(SuggestionBook, HiddenStaysHiddenThroughNewUsesUntilShownAgain) {
  TempFolder folder;
  Book book(folder.path);
  issue(book, receipt("2026-12-01", "甲店", "1", {{"紅茶", "1", "30", ""}}));
  SuggestionBook suggestions(folder.path);
  suggestions.set_hidden(SuggestionKind::Buyer, "甲店", "1", true);
  suggestions.set_hidden(SuggestionKind::Item, "紅茶", "", true);
  issue(book, receipt("2026-12-02", "甲店", "1", {{"紅茶", "1", "31", ""}}));
  EXPECT_EQ(shown(suggestions.suggest(SuggestionKind::Buyer, "店", "2026-12-08")), "");
  EXPECT_EQ(shown(suggestions.suggest(SuggestionKind::Item, "茶", "2026-12-08")), "");
  EXPECT_EQ(shown(suggestions.hidden(SuggestionKind::Buyer)), "甲店 1");
  EXPECT_EQ(shown(suggestions.hidden(SuggestionKind::Item)), "紅茶 31");
  EXPECT_EQ(list_receipts(book, "", "甲店").size(), 2u);  // the receipts stay
  suggestions.set_hidden(SuggestionKind::Item, "紅茶", "", false);
  EXPECT_EQ(shown(suggestions.suggest(SuggestionKind::Item, "茶", "2026-12-08")), "紅茶 31");
  EXPECT_EQ(shown(suggestions.hidden(SuggestionKind::Item)), "");
}

TEST(SuggestionBook, ALargeBookChangingAnswersFromTheCountsReadUntilTheNewOnesAreReady) {
  TempFolder folder;
  Book book(folder.path);
  {
    std::vector<Record> many;  // more buyers than are read on the keystroke's thread
    for (size_t i = 0; i <= kReadAsideRows; ++i) {
      many.push_back(receipt("2026-12-01", "客戶" + std::to_string(i), "", {}));
      many.back().number = "收據-20261201-" + std::to_string(i + 1);
      many.back().state = State::Issued;
    }
    insert_records(book, many);
  }
  SuggestionBook suggestions(folder.path);
  EXPECT_EQ(shown(suggestions.suggest(SuggestionKind::Buyer, "甲店", "2026-12-08")), "");  // read at once
  issue(book, receipt("2026-12-02", "甲店", "1", {}));
  EXPECT_EQ(shown(suggestions.suggest(SuggestionKind::Buyer, "甲店", "2026-12-08")), "")
      << "the keystroke does not wait for the counts read anew";
  std::string seen;
  for (int tries = 0; tries < 500 && seen.empty(); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    seen = shown(suggestions.suggest(SuggestionKind::Buyer, "甲店", "2026-12-08"));
  }
  EXPECT_EQ(seen, "甲店 1");
  suggestions.set_hidden(SuggestionKind::Buyer, "甲店", "1", true);
  EXPECT_EQ(shown(suggestions.suggest(SuggestionKind::Buyer, "甲店", "2026-12-08")), "")
      << "hiding takes effect at once";
}

TEST(SuggestionBook, NoBookSuggestsNothingAndCreatesNothing) {
  TempFolder folder;
  SuggestionBook suggestions(folder.path);
  EXPECT_TRUE(suggestions.suggest(SuggestionKind::Buyer, "店", "2026-12-08").empty());
  EXPECT_TRUE(suggestions.hidden(SuggestionKind::Item).empty());
  EXPECT_TRUE(fs::is_empty(folder.path));
}

TEST(SuggestionBook, ABookThatCannotBeReadIsAnErrorInChineseAndTriedAgainLater) {
  TempFolder folder;
  write_text(folder.path / std::string(kBookName), std::string(4096, 'x'));
  SuggestionBook suggestions(folder.path);
  try {
    suggestions.suggest(SuggestionKind::Buyer, "店", "2026-12-08");
    FAIL() << "read a book that is no database";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("讀不到常用的買受人與品項"), std::string::npos) << error.what();
  }
  fs::remove(folder.path / std::string(kBookName));
  {
    Book book(folder.path);
    issue(book, receipt("2026-12-01", "甲店", "1", {}));
  }
  EXPECT_EQ(shown(suggestions.suggest(SuggestionKind::Buyer, "店", "2026-12-08")), "甲店 1");
}

}  // namespace
}  // namespace receiptora::store
