// The shop's key, each receipt's signed code and the chain the book walks.
#include "receiptora/store/signing.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <functional>

#include "case_name.hpp"
#include "older_book.hpp"
#include "receiptora/store/audit.hpp"
#include "temp_folder.hpp"

namespace receiptora::store {
namespace {

Record sample(const std::string& date, const std::string& price = "450") {
  Record r;
  r.date = date;
  r.buyer = "王小明";
  r.buyer_tax_id = "22099131";
  r.seller.name = "林記茶行";
  r.seller.tax_id = "22099131";
  r.items = {{"茶葉", "3", price, ""}, {"運費", "1", "80", "宅配"}};
  r.total = mpz_class(mpz_class(price) * 3 + 80).get_str();
  return r;
}

void sql(const Book& book, const std::string& statement) {
  ASSERT_EQ(sqlite3_exec(book.db(), statement.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(book.db());
}

TEST(Code, ItsTextReadsBackAndVerifies) {
  const auto key = ShopKey::generate();
  Record record = sample("2026-12-08");
  record.number = "收據-20261208-003";
  const Code code = sign_record(*key, record, "");
  const std::string text = code_text(code);
  EXPECT_EQ(text.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ.-"), std::string::npos) << text;
  const auto read = parse_code(text);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->number, "收據-20261208-003");
  EXPECT_EQ(read->date(), "2026-12-08");
  EXPECT_EQ(read->total, "1430");
  EXPECT_EQ(read->items, 2u);
  EXPECT_EQ(read->seller, "22099131");
  EXPECT_TRUE(code_signed_by(*read, key->public_key()));
  EXPECT_FALSE(code_signed_by(*read, ShopKey::generate()->public_key()));
  EXPECT_EQ(read->content, content_hash(record));
  EXPECT_EQ(read->previous, std::string(kHashBytes, '\0'));
}

// A code whose text was edited no longer verifies, whichever field changed.
struct EditRow {
  const char* name;
  std::function<void(Code&)> edit;
};

class EditedCode : public ::testing::TestWithParam<EditRow> {};

TEST_P(EditedCode, FailsItsSignature) {
  const auto key = ShopKey::generate();
  Record record = sample("2026-12-08");
  record.number = "收據-20261208-003";
  Code code = *parse_code(code_text(sign_record(*key, record, "")));
  GetParam().edit(code);
  const auto read = parse_code(code_text(code));
  ASSERT_TRUE(read);
  EXPECT_FALSE(code_signed_by(*read, key->public_key()));
}

INSTANTIATE_TEST_SUITE_P(Fields, EditedCode,
                         ::testing::Values(EditRow{"Total", [](Code& c) { c.total = "11430"; }},
                                           EditRow{"Number", [](Code& c) { c.number = "收據-20261208-004"; }},
                                           EditRow{"Day", [](Code& c) { c.number = "收據-20261209-003"; }},
                                           EditRow{"Seller", [](Code& c) { c.seller = "12345675"; }},
                                           EditRow{"Items", [](Code& c) { c.items = 3; }},
                                           EditRow{"Content", [](Code& c) { c.content[0] ^= 1; }},
                                           EditRow{"Previous", [](Code& c) { c.previous[15] ^= 1; }}),
                         CaseName());

// Everything the receipt says is in its content hash.
struct ContentRow {
  const char* name;
  std::function<void(Record&)> edit;
};

class ContentHash : public ::testing::TestWithParam<ContentRow> {};

TEST_P(ContentHash, ChangesWithEveryFieldOfTheReceipt) {
  Record record = sample("2026-12-08");
  const std::string before = content_hash(record);
  GetParam().edit(record);
  EXPECT_NE(content_hash(record), before);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ContentHash,
    ::testing::Values(ContentRow{"Buyer", [](Record& r) { r.buyer = "王小民"; }},
                      ContentRow{"BuyerTaxId", [](Record& r) { r.buyer_tax_id = "22099132"; }},
                      ContentRow{"SellerName", [](Record& r) { r.seller.name = "林記"; }},
                      ContentRow{"ItemName", [](Record& r) { r.items[0].name = "茶"; }},
                      ContentRow{"Quantity", [](Record& r) { r.items[0].quantity = "4"; }},
                      ContentRow{"UnitPrice", [](Record& r) { r.items[1].unit_price = "90"; }},
                      ContentRow{"Note", [](Record& r) { r.items[1].note = ""; }},
                      ContentRow{"NameAcrossFields",
                                 [](Record& r) {
                                   r.items[0] = {"茶葉3", "", "450", ""};
                                 }},
                      ContentRow{"Date", [](Record& r) { r.date = "2026-12-09"; }},
                      ContentRow{"Template", [](Record& r) { r.layout = Template::Cat; }},
                      ContentRow{"Stamp", [](Record& r) { r.exemption_stamp = true; }}),
    CaseName());

// --- the key file ---

TEST(KeyFile, MadeOnFirstUseForItsOwnerOnlyAndTheSameAfterwards) {
  TempFolder folder;
  const auto made = ShopKey::of_folder(folder.path);
  struct stat info {};
  ASSERT_EQ(::stat((folder.path / std::string(kKeyName)).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(ShopKey::of_folder(folder.path)->public_key(), made->public_key());
  EXPECT_EQ(made->fingerprint().size(), 39u);  // 8 groups of 4, 7 dashes
  EXPECT_EQ(normal_fingerprint(" " + made->fingerprint().substr(0, 9) + made->fingerprint().substr(10)),
            made->fingerprint());
}

struct UnusableKeyRow {
  const char* name;
  void (*make)(const fs::path& folder);
  const char* words;
};

class UnusableKey : public ::testing::TestWithParam<UnusableKeyRow> {};

TEST_P(UnusableKey, IsRefusedInChinese) {
  TempFolder folder;
  GetParam().make(folder.path);
  try {
    ShopKey::of_folder(folder.path);
    FAIL() << "used the key";
  } catch (const KeyError& error) {
    EXPECT_NE(std::string(error.what()).find(GetParam().words), std::string::npos) << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, UnusableKey,
    ::testing::Values(UnusableKeyRow{"ReadableByOthers",
                                     [](const fs::path& f) {
                                       ShopKey::of_folder(f);
                                       fs::permissions(f / std::string(kKeyName), fs::perms::others_read,
                                                       fs::perm_options::add);
                                     },
                                     "其他使用者也能讀取"},
                      UnusableKeyRow{"SymbolicLink",
                                     [](const fs::path& f) {
                                       fs::create_directory(f / "other");
                                       ShopKey::of_folder(f / "other");
                                       fs::create_symlink(f / "other" / std::string(kKeyName),
                                                          f / std::string(kKeyName));
                                     },
                                     "符號連結"},
                      UnusableKeyRow{"NotAKey",
                                     [](const fs::path& f) {
                                       write_text(f / std::string(kKeyName), "not a key");
                                       fs::permissions(f / std::string(kKeyName),
                                                       fs::perms::owner_read | fs::perms::owner_write);
                                     },
                                     "不是 Ed25519 私鑰"}),
    CaseName());

// --- the chain in the book ---

std::string claim(Book& book, Record record) { return claim_receipt(book, record).number; }

TEST(Chain, EachReceiptLinksToTheOneSignedBeforeIt) {
  TempFolder folder;
  Book book(folder.path);
  attach_key(book, ShopKey::of_folder(folder.path));
  const std::string first = claim(book, sample("2026-12-08"));
  claim(book, sample("2026-12-07"));  // an earlier day, signed later: the chain follows signing
  claim(book, sample("2026-12-08", "500"));
  const auto report = verify_chain(book);
  EXPECT_TRUE(report.whole()) << report.broken_at << report.problem;
  EXPECT_EQ(report.links, 3u);
  const auto a = find_receipt(book, first);
  const auto b = find_receipt(book, "收據-20261207-001");
  EXPECT_EQ(parse_code(b->code)->previous, chain_link(parse_code(a->code)->signature));
  EXPECT_EQ(b->key_id, book.signer()->fingerprint().substr(0, 4));
  EXPECT_EQ(fingerprint_of(book_public_key(book)), book.signer()->fingerprint());
}

struct TamperRow {
  const char* name;
  std::function<void(Book&)> tamper;
  const char* broken_at;
  const char* words;
};

class TamperedBook : public ::testing::TestWithParam<TamperRow> {};

TEST_P(TamperedBook, BreaksTheChainAtTheFirstReceiptConcerned) {
  TempFolder folder;
  Book book(folder.path);
  attach_key(book, ShopKey::of_folder(folder.path));
  for (int i = 0; i < 4; ++i) claim(book, sample("2026-12-08"));
  GetParam().tamper(book);
  const auto report = verify_chain(book);
  EXPECT_EQ(report.broken_at, GetParam().broken_at);
  EXPECT_NE(report.problem.find(GetParam().words), std::string::npos) << report.problem;
}

// Signs receipt `number` again with a key of someone else, linked as the original was.
void resign_with_another_key(Book& book, const std::string& number) {
  Record record = *find_receipt(book, number);
  Code code = *parse_code(record.code);
  code.signature = ShopKey::generate()->sign(signed_part(code));
  sql(book, "UPDATE receipts SET code = '" + code_text(code) + "' WHERE number = '" + number + "'");
}

INSTANTIATE_TEST_SUITE_P(
    Edits, TamperedBook,
    ::testing::Values(
        TamperRow{"RemovedRecord",
                  [](Book& b) { sql(b, "DELETE FROM receipts WHERE number = '收據-20261208-002'"); },
                  "收據-20261208-003", "斷開"},
        TamperRow{
            "ChangedTotal",
            [](Book& b) { sql(b, "UPDATE receipts SET total = '1' WHERE number = '收據-20261208-002'"); },
            "收據-20261208-002", "內容與簽章不符"},
        TamperRow{"ChangedItem",
                  [](Book& b) {
                    sql(b,
                        "UPDATE items SET unit_price = '45' WHERE number = '收據-20261208-003' AND line = 0");
                  },
                  "收據-20261208-003", "內容與簽章不符"},
        TamperRow{"ResignedWithAnotherKey", [](Book& b) { resign_with_another_key(b, "收據-20261208-002"); },
                  "收據-20261208-002", "簽章不符"},
        TamperRow{"ReorderedChain",
                  [](Book& b) {
                    sql(b,
                        "UPDATE receipts SET chain = -chain WHERE number IN ('收據-20261208-002', "
                        "'收據-20261208-003'); UPDATE receipts SET chain = 5 + chain WHERE chain < 0");
                  },
                  "收據-20261208-003", "斷開"}),
    CaseName());

TEST(Chain, AnOlderBooksReceiptsAreSignedInNumberOrderWhenItGetsItsKey) {
  TempFolder folder;
  {
    Book book(folder.path);
    claim(book, sample("2026-12-08"));
    claim(book, sample("2026-12-07"));
    sql(book, kBackBeforeCounts);
  }
  Book book(folder.path);  // migrated
  EXPECT_EQ(verify_chain(book).unsigned_records, 2u);
  attach_key(book, ShopKey::of_folder(folder.path));
  EXPECT_EQ(find_receipt(book, "收據-20261207-001")->chain, 1);
  EXPECT_EQ(find_receipt(book, "收據-20261208-001")->chain, 2);
  EXPECT_NE(chain_batch_note(book).find("收據-20261207-001 至 收據-20261208-001 共 2 張"), std::string::npos);
  claim(book, sample("2026-12-09"));
  const auto report = verify_chain(book);
  EXPECT_TRUE(report.whole()) << report.problem;
  EXPECT_EQ(report.links, 3u);
  EXPECT_EQ(report.unsigned_records, 0u);
}

TEST(Chain, ALostKeyIsNotMadeAgainAndAnotherKeyIsRefused) {
  TempFolder folder;
  {
    Book book(folder.path);
    attach_key(book, ShopKey::of_folder(folder.path));
  }
  fs::remove(folder.path / std::string(kKeyName));
  EXPECT_THROW(ShopKey::of_folder(folder.path, false), KeyError);  // lost: not made again
  EXPECT_FALSE(fs::exists(folder.path / std::string(kKeyName)));
  Book book(folder.path);
  EXPECT_THROW(attach_key(book, ShopKey::of_folder(folder.path)), KeyError);
  EXPECT_EQ(book.signer(), nullptr);
}

TEST(Check, NamesTheReceiptWhereTheChainBreaksAndAMissingKey) {
  TempFolder folder;
  Book book(folder.path);
  attach_key(book, ShopKey::of_folder(folder.path));
  for (int i = 0; i < 3; ++i) claim(book, sample("2026-12-08"));
  sql(book, "UPDATE receipts SET total = '1' WHERE number = '收據-20261208-002'");
  fs::remove(folder.path / std::string(kKeyName));
  const AuditReport report = audit_folder(book, 1);
  EXPECT_FALSE(report.chain_whole);
  EXPECT_EQ(report.chain_links, 1u);
  auto has_fault = [&](const std::string& number, const std::string& file, const std::string& words) {
    for (const Fault& fault : report.faults)
      if (fault.number == number && fault.file == file && fault.problem.find(words) != std::string::npos)
        return true;
    return false;
  };
  EXPECT_TRUE(has_fault("收據-20261208-002", "", "驗證鏈在此斷開"));
  EXPECT_TRUE(has_fault("", std::string(kKeyName), "簽章金鑰不在輸出資料夾"));
}

}  // namespace
}  // namespace receiptora::store
