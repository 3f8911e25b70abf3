#include "receiptora/store/book.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <functional>
#include <set>
#include <thread>

#include "older_book.hpp"
#include "temp_folder.hpp"

namespace receiptora::store {
namespace {

Record sample(const std::string& date, const std::string& buyer = "甲", const std::string& price = "100") {
  Record r;
  r.date = date;
  r.buyer = buyer;
  r.buyer_tax_id = "22099131";
  r.items = {{"茶", "2", price, ""}};
  r.total = mpz_class(mpz_class(price) * 2).get_str();
  return r;
}

std::string issue(Book& book, Record r, const std::string& key = "") {
  r.batch_key = key;
  const std::string number = claim_receipt(book, r).number;
  mark_issued(book, number, {{r.date.substr(0, 7) + "/" + number + ".pdf", "ab", "original"}}, now_iso());
  return number;
}

// --- record <-> receipt ---

struct RoundTripRow {
  const char* name;
  Receipt receipt;
};

Receipt receipt_with(auto change) {
  Receipt r;
  r.number = "收據-20261207-001";
  r.buyer = "王小明";
  r.buyer_tax_id = "22099131";
  r.date = Date{2026, 12, 7};
  r.items = {{"茶葉", 3, 450, ""}, {"運費", 1, 80, "宅配"}};
  r.seller = {"好茶行", "12345675", "林", "台北市", "02-1234", "/x/stamp.png", ""};
  r.created_at = "2026-12-07T10:00:00+08:00";
  change(r);
  return r;
}

class RoundTrip : public ::testing::TestWithParam<RoundTripRow> {};

TEST_P(RoundTrip, TheRecordGivesBackTheSameReceiptThroughTheBook) {
  TempFolder folder;
  const Receipt& receipt = GetParam().receipt;
  Record record = record_from_receipt(receipt, {2026, 12, 7});
  record.state = State::Issued;
  {
    Book book(folder.path);
    ASSERT_TRUE(insert_record(book, record));
  }
  Book book(folder.path);
  const auto stored = find_receipt(book, receipt.number);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->date, "2026-12-07");
  const Receipt back = receipt_from_record(*stored);
  EXPECT_EQ(back.number, receipt.number);
  EXPECT_EQ(back.buyer, receipt.buyer);
  EXPECT_EQ(back.buyer_tax_id, receipt.buyer_tax_id);
  EXPECT_EQ(back.date.has_value(), receipt.date.has_value());
  ASSERT_EQ(back.items.size(), receipt.items.size());
  for (size_t i = 0; i < back.items.size(); ++i) {
    EXPECT_EQ(back.items[i].name, receipt.items[i].name);
    EXPECT_EQ(back.items[i].quantity, receipt.items[i].quantity);
    EXPECT_EQ(back.items[i].unit_price, receipt.items[i].unit_price);
    EXPECT_EQ(back.items[i].note, receipt.items[i].note);
  }
  EXPECT_EQ(back.seller.name, receipt.seller.name);
  EXPECT_EQ(back.seller.exemption_stamp_image, receipt.seller.exemption_stamp_image);
  EXPECT_EQ(back.exemption_stamp, receipt.exemption_stamp);
  EXPECT_EQ(back.owner_seal, receipt.owner_seal);
  EXPECT_EQ(back.layout, receipt.layout);
  EXPECT_EQ(back.created_at, receipt.created_at);
  EXPECT_FALSE(back.mark);
}

INSTANTIATE_TEST_SUITE_P(
    Receipts, RoundTrip,
    ::testing::Values(RoundTripRow{"General", receipt_with([](Receipt&) {})},
                      RoundTripRow{"CatWithStampsAndNoDate", receipt_with([](Receipt& r) {
                                     r.layout = Template::Cat;
                                     r.date.reset();
                                     r.exemption_stamp = r.owner_seal = true;
                                   })},
                      RoundTripRow{"AmountsOfAnyLength", receipt_with([](Receipt& r) {
                                     r.items = {{"大", mpz_class(std::string(500, '9')),
                                                 mpz_class("-123456789012345678901234"), ""}};
                                   })},
                      RoundTripRow{"NoItems", receipt_with([](Receipt& r) { r.items.clear(); })}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(RecordFromReceipt, TotalIsTheExactSumOfTheLines) {
  const Record r =
      record_from_receipt(receipt_with([](Receipt& x) {
                            x.items = {{"a", mpz_class("100000000000000000000"), 3, ""}, {"b", 2, -5, ""}};
                          }),
                          {2026, 12, 7});
  EXPECT_EQ(r.total, "299999999999999999990");
}

// --- numbering ---

TEST(ClaimReceipt, NumbersCountPerDayAndContinueAfterReopening) {
  TempFolder folder;
  {
    Book book(folder.path);
    EXPECT_EQ(issue(book, sample("2026-12-07")), "收據-20261207-001");
    EXPECT_EQ(issue(book, sample("2026-12-07")), "收據-20261207-002");
    EXPECT_EQ(issue(book, sample("2026-12-08")), "收據-20261208-001");
    Record unfinished = sample("2026-12-07");
    claim_receipt(book, unfinished);
    mark_unfinished(book, unfinished.number, "renderer failed");
  }
  Book book(folder.path);
  EXPECT_EQ(issue(book, sample("2026-12-07")), "收據-20261207-004");  // the unfinished 003 is never reused
  EXPECT_EQ(find_receipt(book, "收據-20261207-003")->state, State::Unfinished);
  EXPECT_EQ(find_receipt(book, "收據-20261207-003")->unfinished_reason, "renderer failed");
}

TEST(ClaimReceipt, ThreadsAndSecondConnectionsNeverShareANumber) {
  TempFolder folder;
  Book first(folder.path);
  Book second(folder.path);  // as a second process would
  std::vector<std::string> numbers[4];
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      Book& book = t % 2 ? second : first;
      for (int i = 0; i < 25; ++i) {
        Record r = sample("2026-12-07");
        numbers[t].push_back(claim_receipt(book, r).number);
      }
    });
  for (auto& thread : threads) thread.join();
  std::set<std::string> all;
  for (const auto& list : numbers) all.insert(list.begin(), list.end());
  EXPECT_EQ(all.size(), 100u);
  EXPECT_EQ(*all.rbegin(), "收據-20261207-100");
}

TEST(ClaimReceipt, ANewRecordIsPendingUntilMarkedIssued) {
  TempFolder folder;
  Book book(folder.path);
  Record r = sample("2026-12-07");
  const std::string number = claim_receipt(book, r).number;
  ASSERT_EQ(records_in_state(book, State::Pending).size(), 1u);
  mark_issued(book, number, {{"2026-12/" + number + ".pdf", "ff", "original"}}, "2026-12-07T10:00:00+08:00");
  EXPECT_TRUE(records_in_state(book, State::Pending).empty());
  const auto found = find_receipt(book, number);
  EXPECT_EQ(found->state, State::Issued);
  EXPECT_EQ(found->issued_at, "2026-12-07T10:00:00+08:00");
  ASSERT_EQ(found->files.size(), 1u);
  EXPECT_EQ(found->files[0].sha256, "ff");
  EXPECT_EQ(records_without_ledger_line(book).size(), 1u);
  mark_ledger_written(book, {number});
  EXPECT_TRUE(records_without_ledger_line(book).empty());
}

// --- void ---

struct VoidRow {
  const char* name;
  State before;  // Pending also stands for "no such number" when `exists` is false
  bool exists;
  std::optional<BookError::Kind> error;
};

class Void : public ::testing::TestWithParam<VoidRow> {};

TEST_P(Void, OnlyAnIssuedReceiptCanBeVoided) {
  TempFolder folder;
  Book book(folder.path);
  std::string number = "收據-20261207-009";
  if (GetParam().exists) {
    Record r = sample("2026-12-07");
    number = claim_receipt(book, r).number;
    if (GetParam().before == State::Issued || GetParam().before == State::Void)
      mark_issued(book, number, {}, "t");
    if (GetParam().before == State::Void) mark_void(book, number, "first", "t", {}, [] {});
    if (GetParam().before == State::Unfinished) mark_unfinished(book, number, "x");
  }
  try {
    bool placed = false;
    mark_void(book, number, "打錯金額", "2026-12-08T09:00:00+08:00", {{"2026-12/copy.pdf", "aa", "void"}},
              [&] { placed = true; });
    EXPECT_TRUE(placed);
    EXPECT_FALSE(GetParam().error) << "voided a receipt that should be refused";
    const auto found = find_receipt(book, number);
    EXPECT_EQ(found->state, State::Void);
    EXPECT_EQ(found->void_reason, "打錯金額");
    EXPECT_EQ(found->files.back().kind, "void");
  } catch (const BookError& error) {
    ASSERT_TRUE(GetParam().error) << error.what();
    EXPECT_EQ(error.kind(), *GetParam().error);
    EXPECT_NE(std::string(error.what()).find(number), std::string::npos) << "the message names the number";
  }
}

INSTANTIATE_TEST_SUITE_P(
    States, Void,
    ::testing::Values(VoidRow{"Issued", State::Issued, true, std::nullopt},
                      VoidRow{"AlreadyVoid", State::Void, true, BookError::Kind::AlreadyVoid},
                      VoidRow{"Unknown", State::Pending, false, BookError::Kind::Unknown},
                      VoidRow{"Pending", State::Pending, true, BookError::Kind::NotIssued},
                      VoidRow{"Unfinished", State::Unfinished, true, BookError::Kind::NotIssued}),
    [](const auto& row) { return std::string(row.param.name); });

// --- list, summary, monthly totals ---

class Queries : public ::testing::Test {
 protected:
  void SetUp() override {
    book_ = std::make_unique<Book>(folder_.path);
    issue(*book_, sample("2026-11-30", "乙", "5"));                   // 收據-20261130-001  10
    issue(*book_, sample("2026-12-01", "王小明", "100"));             // 收據-20261201-001  200
    issue(*book_, sample("2026-12-01", "陳", std::string(30, '9')));  // 收據-20261201-002
    voided_ = issue(*book_, sample("2026-12-15", "王大明", "7"));     // 收據-20261215-001  void
    mark_void(*book_, voided_, "錯", "t", {}, [] {});
    issue(*book_, sample("2027-01-02", "丁", "1"));  // 收據-20270102-001  2
  }
  TempFolder folder_;
  std::unique_ptr<Book> book_;
  std::string voided_;
};

struct ListRowCase {
  const char* name;
  const char* month;
  const char* search;
  std::vector<std::string> numbers;
};

class List : public Queries, public ::testing::WithParamInterface<ListRowCase> {};

TEST_P(List, RowsOfTheMonthMatchingTheSearchInNumberOrder) {
  std::vector<std::string> numbers;
  for (const ListRow& row : list_receipts(*book_, GetParam().month, GetParam().search))
    numbers.push_back(row.number);
  EXPECT_EQ(numbers, GetParam().numbers);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, List,
    ::testing::Values(
        ListRowCase{"Month", "2026-12", "", {"收據-20261201-001", "收據-20261201-002", "收據-20261215-001"}},
        ListRowCase{"All",
                    "",
                    "",
                    {"收據-20261130-001", "收據-20261201-001", "收據-20261201-002", "收據-20261215-001",
                     "收據-20270102-001"}},
        ListRowCase{"BuyerPart", "2026-12", "明", {"收據-20261201-001", "收據-20261215-001"}},
        ListRowCase{"TaxIdInAllMonths",
                    "",
                    "2209",
                    {"收據-20261130-001", "收據-20261201-001", "收據-20261201-002", "收據-20261215-001",
                     "收據-20270102-001"}},
        ListRowCase{"NumberPart", "", "20270102", {"收據-20270102-001"}},
        ListRowCase{"EmptyMonth", "2026-10", "", {}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(Queries, ListRowCarriesStateTotalAndFiles) {
  const auto rows = list_receipts(*book_, "2026-12", "");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1].total, "1" + std::string(29, '9') + "8");
  EXPECT_EQ(rows[1].date, "2026-12-01");
  EXPECT_EQ(rows[2].state, State::Void);
  EXPECT_EQ(rows[0].files, std::vector<std::string>{"2026-12/收據-20261201-001.pdf"});
}

TEST_F(Queries, SummaryCountsIssuedAndVoidAndTotalsIssuedPerDay) {
  const Summary s = summarize(*book_, "2026-10-01", "2026-12-31");
  EXPECT_EQ(s.receipts, 3);
  EXPECT_EQ(s.voided, 1);
  const mpz_class big = mpz_class(std::string(30, '9')) * 2;
  EXPECT_EQ(s.total, mpz_class(big + 210).get_str());
  ASSERT_EQ(s.days.size(), 2u);
  EXPECT_EQ(s.days[0].date, "2026-11-30");
  EXPECT_EQ(s.days[0].total, "10");
  EXPECT_EQ(s.days[1].receipts, 2);
  EXPECT_EQ(s.days[1].total, mpz_class(big + 200).get_str());
}

// A record whose state or total cannot be read is a damaged record: every query that meets it
// says which, instead of counting its total as 0 or reading its state as pending.
struct DamagedCase {
  const char* label;
  const char* change;  // SQL run on the book, on 收據-20261201-001
  std::function<void(const Book&)> query;
};

class DamagedRecord : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedRecord, IsNamedNotCountedAsZeroOrPending) {
  TempFolder folder;
  const std::string number = [&] {
    Book book(folder.path);
    return issue(book, sample("2026-12-01"));
  }();
  ASSERT_EQ(number, "收據-20261201-001");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((folder.path / std::string(kBookName)).c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, GetParam().change, nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  const Book book(folder.path);
  try {
    GetParam().query(book);
    FAIL() << "the damaged record was read as sound";
  } catch (const BookError& error) {
    EXPECT_EQ(error.kind(), BookError::Kind::Corrupt);
    EXPECT_NE(std::string(error.what()).find(number), std::string::npos) << error.what();
  }
}

constexpr const char* kBadTotal = "UPDATE receipts SET total = '1,200' WHERE number = '收據-20261201-001'";
constexpr const char* kBadState = "UPDATE receipts SET state = 'issued?' WHERE number = '收據-20261201-001'";

INSTANTIATE_TEST_SUITE_P(
    Queries, DamagedRecord,
    ::testing::Values(
        DamagedCase{"TotalInSummary", kBadTotal,
                    [](const Book& b) { summarize(b, "2026-12-01", "2026-12-31"); }},
        DamagedCase{"TotalInMonthlyTotals", kBadTotal,
                    [](const Book& b) { monthly_totals(b, "2026-12", 1); }},
        DamagedCase{"StateInSummary", kBadState,
                    [](const Book& b) { summarize(b, "2026-12-01", "2026-12-31"); }},
        DamagedCase{"StateInList", kBadState, [](const Book& b) { list_receipts(b, "2026-12", ""); }},
        DamagedCase{"StateOfARecord", kBadState, [](const Book& b) { find_receipt(b, "收據-20261201-001"); }},
        DamagedCase{"StateInAVoid", kBadState,
                    [](const Book& b) {
                      mark_void(const_cast<Book&>(b), "收據-20261201-001", "錯", now_iso(), {}, [] {});
                    }}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(Queries, MonthlyTotalsListEveryMonthAcrossTheYear) {
  const auto months = monthly_totals(*book_, "2026-11", 3);
  ASSERT_EQ(months.size(), 3u);
  EXPECT_EQ(months[0].month, "2026-11");
  EXPECT_EQ(months[0].total, "10");
  EXPECT_EQ(months[1].receipts, 2);  // the void one left out
  EXPECT_EQ(months[2].month, "2027-01");
  EXPECT_EQ(months[2].total, "2");
  EXPECT_EQ(monthly_totals(*book_, "2025-01", 1)[0].total, "0");
}

// --- batch keys ---

struct KeyRow {
  const char* name;
  std::optional<State> holder;  // the state of the record already holding the key; none: no record
  bool claimed_before;
};

class BatchKey : public ::testing::TestWithParam<KeyRow> {};

TEST_P(BatchKey, AKeyTheBookHoldsTakesNoNumberUnlessItsOrderWasNeverMade) {
  TempFolder folder;
  Book book(folder.path);
  std::string earlier;
  if (const auto holder = GetParam().holder) {
    Record r = sample("2026-12-07");
    r.batch_key = "order-1";
    earlier = claim_receipt(book, r).number;
    if (*holder == State::Issued || *holder == State::Void) mark_issued(book, earlier, {}, "t");
    if (*holder == State::Void) mark_void(book, earlier, "x", "t", {}, [] {});
    if (*holder == State::Unfinished) mark_unfinished(book, earlier, "renderer failed");
  }
  Record r = sample("2026-12-08");
  r.batch_key = "order-1";
  r.order_label = "A-17";
  const Claim claim = claim_receipt(book, r);
  EXPECT_EQ(claim.claimed_before, GetParam().claimed_before);
  if (GetParam().claimed_before) {
    EXPECT_EQ(claim.number, earlier);
    EXPECT_EQ(claim.state, *GetParam().holder);
    EXPECT_EQ(claimed_batch_keys(book, {"order-1", "other"}),
              (std::vector<KeyHolder>{{"order-1", earlier, *GetParam().holder}}));
  } else {
    EXPECT_EQ(claim.number, "收據-20261208-001");
    EXPECT_EQ(find_receipt(book, claim.number)->batch_key, "order-1");
    EXPECT_EQ(find_receipt(book, claim.number)->order_label, "A-17");
  }
}

INSTANTIATE_TEST_SUITE_P(Holders, BatchKey,
                         ::testing::Values(KeyRow{"None", std::nullopt, false},
                                           KeyRow{"Issued", State::Issued, true},
                                           KeyRow{"Void", State::Void, true},
                                           KeyRow{"PendingInAnotherRun", State::Pending, true},
                                           KeyRow{"Unfinished", State::Unfinished, false}),
                         [](const auto& row) { return std::string(row.param.name); });

// An order (its 收據 value) issued before under another key, that is with other content.
struct HeldRow {
  const char* name;
  std::optional<State> earlier;  // the state of the earlier receipt, under key "old"; none: no receipt
  const char* earlier_label;     // its order
  const char* label;             // the claim's order
  const char* key;               // the claim's key
  bool hold_changed;
  bool held;
};

class ChangedOrder : public ::testing::TestWithParam<HeldRow> {};

TEST_P(ChangedOrder, IsHeldWhileItsEarlierReceiptStandsUnlessAskedAnew) {
  TempFolder folder;
  Book book(folder.path);
  std::string earlier;
  if (const auto state = GetParam().earlier) {
    Record r = sample("2026-12-07");
    r.batch_key = "old";
    r.order_label = GetParam().earlier_label;
    earlier = claim_receipt(book, r).number;
    if (*state == State::Issued || *state == State::Void) mark_issued(book, earlier, {}, "t");
    if (*state == State::Void) mark_void(book, earlier, "x", "t", {}, [] {});
    if (*state == State::Unfinished) mark_unfinished(book, earlier, "renderer failed");
  }
  Record r = sample("2026-12-08", "乙");
  r.batch_key = GetParam().key;
  r.order_label = GetParam().label;
  const Claim claim = claim_receipt(book, r, GetParam().hold_changed);
  EXPECT_EQ(claim.held, GetParam().held);
  if (GetParam().held) {
    EXPECT_EQ(claim.number, earlier);
    EXPECT_EQ(claim.state, *GetParam().earlier);
    EXPECT_EQ(all_records(book).size(), 1u) << "a held order takes no number";
  } else if (!claim.claimed_before) {
    EXPECT_EQ(claim.number, "收據-20261208-001");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Orders, ChangedOrder,
    ::testing::Values(HeldRow{"IssuedBefore", State::Issued, "A-17", "A-17", "new", true, true},
                      HeldRow{"UnderWayInAnotherRun", State::Pending, "A-17", "A-17", "new", true, true},
                      HeldRow{"VoidBefore", State::Void, "A-17", "A-17", "new", true, false},
                      HeldRow{"NeverMade", State::Unfinished, "A-17", "A-17", "new", true, false},
                      HeldRow{"SameContentIsTheKeysAffair", State::Issued, "A-17", "A-17", "old", true,
                              false},
                      HeldRow{"AnotherOrder", State::Issued, "A-17", "A-18", "new", true, false},
                      HeldRow{"NoOrderValue", State::Issued, "", "", "new", true, false},
                      HeldRow{"AskedAnew", State::Issued, "A-17", "A-17", "new", false, false},
                      HeldRow{"FirstTime", std::nullopt, "", "A-17", "new", true, false}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(BatchKeyRace, TwoConnectionsClaimingTheSameKeysTakeOneNumberPerKey) {
  TempFolder folder;
  Book first(folder.path);
  Book second(folder.path);  // as a second run of the same sheet would
  std::vector<std::thread> threads;
  std::atomic<int> new_numbers{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) {
        Record r = sample("2026-12-07");
        r.batch_key = "order-" + std::to_string(i);
        if (!claim_receipt(t % 2 ? second : first, r).claimed_before) ++new_numbers;
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(new_numbers, 20);
  EXPECT_EQ(all_records(first).size(), 20u);
}

TEST_F(Queries, ListSearchesTheOrderAndCarriesIt) {
  Record r = sample("2026-12-03", "某人");
  r.order_label = "訂單-0042";
  const std::string number = issue(*book_, r);
  const auto rows = list_receipts(*book_, "2026-12", "0042");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].number, number);
  EXPECT_EQ(rows[0].order_label, "訂單-0042");
}

// --- copies recorded with their files ---

TEST(Copies, AFailingPlacementRecordsNothingAndAVoidReceiptTakesNoReprint) {
  TempFolder folder;
  Book book(folder.path);
  const std::string number = issue(book, sample("2026-12-07"));
  EXPECT_THROW(mark_void(book, number, "x", "t", {{"2026-12/v.pdf", "aa", "void"}},
                         [] { throw std::runtime_error("rename failed"); }),
               std::runtime_error);
  EXPECT_EQ(find_receipt(book, number)->state, State::Issued);
  EXPECT_EQ(find_receipt(book, number)->files.size(), 1u);
  mark_void(book, number, "x", "t", {}, [] {});
  bool placed = false;
  try {
    add_reprint(book, number, {{"2026-12/r.pdf", "bb", "reprint"}}, [&] { placed = true; });
    FAIL() << "reprinted a void receipt";
  } catch (const BookError& error) {
    EXPECT_EQ(error.kind(), BookError::Kind::AlreadyVoid);
  }
  EXPECT_FALSE(placed);
}

// --- the file ---

TEST(BookFile, ABookOfANewerVersionIsRefusedAndLeftAlone) {
  TempFolder folder;
  { Book book(folder.path); }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((folder.path / std::string(kBookName)).c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  try {
    Book book(folder.path);
    FAIL() << "opened a newer book";
  } catch (const BookError& error) {
    EXPECT_EQ(error.kind(), BookError::Kind::Version);
  }
}

TEST(BookFile, OpensInWalModeAtTheCurrentVersion) {
  TempFolder folder;
  Book book(folder.path);
  EXPECT_EQ(book.version(), kBookVersion);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(book.db(), "PRAGMA journal_mode", -1, &stmt, nullptr);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "wal");
  sqlite3_finalize(stmt);
  set_book_setting(book, "imported", "yes");
  EXPECT_EQ(book_setting(book, "imported"), "yes");
  EXPECT_FALSE(book_setting(book, "other"));
}

TEST(ReadingBook, NoBookYetCreatesNothingAndAReaderNeverWrites) {
  TempFolder folder;
  const fs::path missing = folder.path / "not-made";
  EXPECT_EQ(open_book_for_reading(missing), nullptr);
  EXPECT_EQ(open_book_for_reading(folder.path), nullptr);
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_TRUE(fs::is_empty(folder.path));
  {
    Book writer(folder.path);
    issue(writer, sample("2026-12-07"));
  }
  const auto reader = open_book_for_reading(folder.path);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(list_receipts(*reader, "", "").size(), 1u);
  Record r = sample("2026-12-07");
  try {
    claim_receipt(*reader, r);
    FAIL() << "a book opened for reading took a number";
  } catch (const BookError& error) {
    EXPECT_EQ(error.kind(), BookError::Kind::ReadOnly);
  }
}

TEST(ReadingBook, AnOlderSchemaIsReadAsItIsAndMigratedByTheFirstWriter) {
  TempFolder folder;
  { Book book(folder.path); }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((folder.path / std::string(kBookName)).c_str(), &db), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(db,
                   (std::string(kBackBeforeCounts) +
                    "DROP INDEX receipts_by_batch_key; ALTER TABLE receipts DROP COLUMN order_label; "
                    "CREATE INDEX receipts_by_batch_key ON receipts(batch_key) WHERE batch_key IS NOT NULL; "
                    "INSERT INTO receipts(number, day, seq, state, batch_key) VALUES "
                    "('收據-20261207-001', '2026-12-07', 1, 'issued', 'k'), "
                    "('收據-20261207-002', '2026-12-07', 2, 'issued', 'k'); PRAGMA user_version=1")
                       .c_str(),
                   nullptr, nullptr, nullptr),
      SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);
  {
    const auto reader = open_book_for_reading(folder.path);
    EXPECT_EQ(reader->version(), 1);
    EXPECT_EQ(list_receipts(*reader, "", "").size(), 2u);
    EXPECT_EQ(find_receipt(*reader, "收據-20261207-002")->order_label, "");
  }
  Book writer(folder.path);
  EXPECT_EQ(writer.version(), kBookVersion);
  EXPECT_EQ(find_receipt(writer, "收據-20261207-001")->batch_key, "k");
  EXPECT_EQ(find_receipt(writer, "收據-20261207-002")->batch_key, "");  // a key belongs to one record
}

struct UnusableRow {
  const char* name;
  void (*make)(const fs::path& book);
  const char* words;
};

class UnusableBook : public ::testing::TestWithParam<UnusableRow> {};

TEST_P(UnusableBook, IsRefusedForWritingInChineseNamingTheFile) {
  TempFolder folder;
  const fs::path book = folder.path / std::string(kBookName);
  GetParam().make(book);
  try {
    Book opened(folder.path);
    FAIL() << "opened the book for writing";
  } catch (const std::system_error& error) {
    const std::string what = error.what();
    EXPECT_NE(what.find(book.string()), std::string::npos) << what;
    EXPECT_NE(what.find(GetParam().words), std::string::npos) << what;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, UnusableBook,
    ::testing::Values(UnusableRow{"Folder", [](const fs::path& b) { fs::create_directory(b); }, "是資料夾"},
                      UnusableRow{"SymbolicLink",
                                  [](const fs::path& b) {
                                    fs::create_directory(b.parent_path() / "else");
                                    { Book elsewhere(b.parent_path() / "else"); }
                                    fs::create_symlink(b.parent_path() / "else" / std::string(kBookName), b);
                                  },
                                  "符號連結"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(Sha256, KnownDigest) {
  EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(NowIso, HasSecondsAndAZoneWithAColon) {
  const std::string now = now_iso();
  ASSERT_EQ(now.size(), 25u) << now;
  EXPECT_EQ(now[10], 'T');
  EXPECT_EQ(now[22], ':');
}

TEST(LedgerLineOf, StateInWordsAndFilesJoined) {
  Record r = sample("2026-12-07");
  r.number = "收據-20261207-001";
  r.state = State::Void;
  r.files = {{"2026-12/a.pdf", "", "original"}, {"2026-12/a.png", "", "original"}};
  const LedgerLine line = ledger_line_of(r);
  EXPECT_EQ(line.state, "作廢");
  EXPECT_EQ(line.files, "2026-12/a.pdf; 2026-12/a.png");
  EXPECT_EQ(line.total, "-200");  // the 作廢 line takes the amount back
}

}  // namespace
}  // namespace receiptora::store
