// The 常客 and 品項 tallies over a book: what counts (issued receipts of the period), how buyers
// and items are grouped, exact sums of any length, and sorting by each column.
#include "receiptora/reports/regulars.hpp"

#include <gtest/gtest.h>

#include <tuple>

#include "../../core/tests/case_label.hpp"
#include "../../store/tests/temp_folder.hpp"

namespace receiptora::reports {
namespace {

using store::State;
constexpr const char* k30Digits = "123456789012345678901234567890";

struct Sale {
  const char* day;
  State state;
  const char* buyer;
  const char* tax_id;
  std::vector<store::BookItem> items;
};

// A book of `sales`, numbered per day; each total is the sum of its lines, as issuing stores it.
class Shop {
 public:
  explicit Shop(const std::vector<Sale>& sales) : book_(folder_.path) {
    std::map<std::string, int> per_day;
    std::vector<store::Record> records;
    for (const Sale& sale : sales) {
      store::Record r;
      const std::string day = sale.day;
      r.date = day;
      char number[40];
      std::snprintf(number, sizeof number, "收據-%s%s%s-%03d", day.substr(0, 4).c_str(),
                    day.substr(5, 2).c_str(), day.substr(8, 2).c_str(), ++per_day[day]);
      r.number = number;
      r.state = sale.state;
      r.buyer = sale.buyer;
      r.buyer_tax_id = sale.tax_id;
      r.items = sale.items;
      mpz_class total = 0;
      for (const auto& item : sale.items) total += mpz_class(item.quantity) * mpz_class(item.unit_price);
      r.total = total.get_str();
      records.push_back(std::move(r));
    }
    store::insert_records(book_, records);
  }
  const store::Book& book() const { return book_; }

 private:
  store::TempFolder folder_;
  store::Book book_;
};

const std::vector<Sale> kSales = {
    {"2026-12-01",
     State::Issued,
     "林記茶行",
     "04595257",
     {{"烏龍茶", "2", "450", ""}, {"運費", "1", "80", ""}}},
    {"2026-12-09",
     State::Issued,
     "林記茶行",
     "04595257",
     {{"烏龍茶", "1", "450", ""}, {"（以下空白）", "0", "0", ""}}},
    {"2026-12-10", State::Void, "林記茶行", "04595257", {{"烏龍茶", "100", "450", ""}}},
    {"2026-12-11", State::Unfinished, "林記茶行", "04595257", {{"烏龍茶", "100", "450", ""}}},
    {"2026-12-11", State::Pending, "林記茶行", "04595257", {{"烏龍茶", "100", "450", ""}}},
    {"2026-11-20", State::Issued, "林記茶行", "04595257", {{"烏龍茶", "3", "400", ""}}},
    {"2026-12-03", State::Issued, "王先生 ", "", {{"蛋黃酥禮盒", "1", "480", ""}}},
    {"2026-12-05",
     State::Issued,
     "\u3000王先生",
     "",
     {{"蛋黃酥禮盒", "2", "480", ""}, {" 蛋黃酥禮盒", "1", "480", ""}}},
    {"2026-12-06",
     State::Issued,
     "王先生",
     "22099131",
     {{"折扣", "1", "-100", ""}, {"蛋黃酥禮盒", "1", "500", ""}}},
    {"2026-12-07", State::Issued, "", "", {{"", "1", "30", ""}}},
    {"2026-12-08", State::Issued, "大戶", "", {{"金條", k30Digits, "10", ""}}},
    {"2025-12-08", State::Issued, "林記茶行", "04595257", {{"烏龍茶", "9", "450", ""}}},
};

using BuyerRow = std::tuple<std::string, std::string, std::int64_t, std::string, std::string>;
std::vector<BuyerRow> rows_of(const std::vector<BuyerTally>& tallies) {
  std::vector<BuyerRow> rows;
  for (const auto& t : tallies) rows.emplace_back(t.buyer, t.buyer_tax_id, t.receipts, t.total, t.last_day);
  return rows;
}
using ItemRow = std::tuple<std::string, std::string, std::string, std::int64_t, std::string, std::string>;
std::vector<ItemRow> rows_of(const std::vector<ItemTally>& tallies) {
  std::vector<ItemRow> rows;
  for (const auto& t : tallies)
    rows.emplace_back(t.name, t.quantity, t.amount, t.receipts, t.last_unit_price, t.last_day);
  return rows;
}

TEST(BuyerTallies, IssuedReceiptsOfTheMonthGroupedByBuyerAndTaxIdLargestFirst) {
  const Shop shop(kSales);
  EXPECT_EQ(rows_of(buyer_tallies(shop.book(), {2026, 12})),
            (std::vector<BuyerRow>{
                {"大戶", "", 1, "1234567890123456789012345678900", "2026-12-08"},
                {"王先生", "", 2, "1920", "2026-12-05"},            // white space at the ends
                {"林記茶行", "04595257", 2, "1430", "2026-12-09"},  // void, unfinished, pending left out
                {"王先生", "22099131", 1, "400", "2026-12-06"},     // another 統一編號, another buyer
                {"", "", 1, "30", "2026-12-07"},
            }));
}

TEST(BuyerTallies, AYearTakesEveryMonthOfItAndNoOther) {
  const Shop shop(kSales);
  const auto year = buyer_tallies(shop.book(), {2026, 0});
  ASSERT_EQ(year.size(), 5u);
  EXPECT_EQ(rows_of({year[1]}), (std::vector<BuyerRow>{{"林記茶行", "04595257", 3, "2630", "2026-12-09"}}));
  EXPECT_EQ(rows_of(buyer_tallies(shop.book(), {2025, 0})),
            (std::vector<BuyerRow>{{"林記茶行", "04595257", 1, "4050", "2025-12-08"}}));
  EXPECT_TRUE(buyer_tallies(shop.book(), {2026, 10}).empty());
}

TEST(ItemTallies, QuantitiesAndAmountsOfIssuedLinesWithoutTextLines) {
  const Shop shop(kSales);
  EXPECT_EQ(rows_of(item_tallies(shop.book(), {2026, 12})),
            (std::vector<ItemRow>{
                {"金條", k30Digits, "1234567890123456789012345678900", 1, "10", "2026-12-08"},
                {"蛋黃酥禮盒", "5", "2420", 3, "500", "2026-12-06"},  // twice on one receipt: one receipt
                {"烏龍茶", "3", "1350", 2, "450", "2026-12-09"},
                {"運費", "1", "80", 1, "80", "2026-12-01"},
                {"折扣", "1", "-100", 1, "-100", "2026-12-06"},
                {"", "1", "30", 1, "30", "2026-12-07"},  // a line without a name: last
            }));
}

struct SortCase {
  std::string label;
  BuyerColumn column;
  bool descending;
  std::vector<std::string> buyers;
};

class BuyerSort : public testing::TestWithParam<SortCase> {};
TEST_P(BuyerSort, ByColumnWithNameOrderForTies) {
  std::vector<BuyerTally> rows = {
      {"乙", "22099131", 3, "900", "2026-12-02"},
      {"甲", "04595257", 1, "1000", "2026-12-09"},
      {"丙", "", 3, "-5", "2026-12-01"},
      {"丁", "", 2, "1234567890123456789", "2026-12-02"},
      {"", "", 9, "99999999999999999999", "2026-12-31"},  // receipts without a buyer: always last
      {"", "12345675", 1, "1", "2026-11-30"},             // a 統一編號 alone names a buyer
  };
  sort_tallies(rows, GetParam().column, GetParam().descending);
  std::vector<std::string> buyers;
  for (const auto& row : rows) buyers.push_back(row.buyer.empty() ? row.buyer_tax_id : row.buyer);
  ASSERT_EQ(buyers.back(), "");
  buyers.pop_back();
  EXPECT_EQ(buyers, GetParam().buyers);
}
INSTANTIATE_TEST_SUITE_P(
    Columns, BuyerSort,
    testing::Values(
        SortCase{"buyer", BuyerColumn::Buyer, false, {"12345675", "丁", "丙", "乙", "甲"}},
        SortCase{"tax_id_descending", BuyerColumn::TaxId, true, {"乙", "12345675", "甲", "丁", "丙"}},
        SortCase{"receipts_ties_by_name", BuyerColumn::Receipts, true, {"丙", "乙", "丁", "12345675", "甲"}},
        SortCase{"total_by_value", BuyerColumn::Total, false, {"丙", "12345675", "乙", "甲", "丁"}},
        SortCase{"total_descending", BuyerColumn::Total, true, {"丁", "甲", "乙", "12345675", "丙"}},
        SortCase{"last_day", BuyerColumn::LastDay, false, {"12345675", "丙", "丁", "乙", "甲"}}),
    CaseLabel{});

TEST(ItemSort, AmountsAndPricesByValue) {
  std::vector<ItemTally> rows = {
      {"甲", "10", "900", 1, "90", "2026-12-01"},
      {"乙", "9", "10000", 2, "-1", "2026-12-02"},
      {"丙", "-2", "-50", 3, "25", "2026-12-03"},
      {"", "999", "99999", 9, "999", "2026-12-31"},
  };
  auto names = [&] {
    std::string out;
    for (const auto& row : rows) out += row.name.empty() ? "–" : row.name;
    return out;
  };
  sort_tallies(rows, ItemColumn::Quantity, true);
  EXPECT_EQ(names(), "甲乙丙–");
  sort_tallies(rows, ItemColumn::Amount, false);
  EXPECT_EQ(names(), "丙甲乙–");
  sort_tallies(rows, ItemColumn::LastUnitPrice, false);
  EXPECT_EQ(names(), "乙丙甲–");
  sort_tallies(rows, ItemColumn::Receipts, true);
  EXPECT_EQ(names(), "丙乙甲–");
  sort_tallies(rows, ItemColumn::Name, false);
  EXPECT_EQ(names(), "丙乙甲–");  // code point order
}

TEST(TallyMatches, BuyerOrTaxIdAndItemName) {
  const BuyerTally buyer{"林記茶行", "04595257", 1, "700", "2026-12-07"};
  for (const char* found : {"", "林記", "0459"}) EXPECT_TRUE(matches(buyer, found)) << found;
  for (const char* missed : {"陳", "700", "2026"}) EXPECT_FALSE(matches(buyer, missed)) << missed;
  const ItemTally item{"蛋黃酥禮盒", "3", "1440", 2, "480", "2026-12-07"};
  EXPECT_TRUE(matches(item, "禮盒"));
  EXPECT_FALSE(matches(item, "480"));
}

TEST(Captions, PeriodsAndNamelessRows) {
  EXPECT_EQ(period_caption({2026, 12}), "115年12月");
  EXPECT_EQ(period_caption({2026, 0}), "115年");
  EXPECT_EQ(buyer_caption({}), "（未填買受人）");
  EXPECT_EQ(item_caption({}), "（未填品名）");
  EXPECT_EQ(buyer_caption({"林記茶行", "", 1, "0", ""}), "林記茶行");
}

}  // namespace
}  // namespace receiptora::reports
