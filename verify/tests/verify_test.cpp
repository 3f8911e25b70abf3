// Verifying issued receipts from their PDF, their picture and their code, against the book.
#include "receiptora/verify/verify.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>

#include "../../store/tests/case_name.hpp"
#include "../../store/tests/temp_folder.hpp"
#include "receiptora/issuing/issue.hpp"
#include "receiptora/store/signing.hpp"

namespace receiptora::verify {
namespace {

using store::TempFolder;

Receipt sample() {
  Receipt r;
  r.seller.name = "林記茶行";
  r.seller.tax_id = "22099131";
  r.buyer = "王小明";
  r.date = Date{2026, 12, 8};
  r.items = {{"茶葉", 3, 450, ""}, {"運費", 1, 80, "宅配"}};
  return r;
}

constexpr store::Day kDay{2026, 12, 8};
constexpr const char* kFirst = "收據-20261208-001";
constexpr const char* kGenuine =
    "真的：收據-20261208-001，115年12月8日，合計 1,430 元，林記茶行（22099131）開立";

// A folder with two issued receipts.
struct Shop {
  TempFolder folder;
  Shop() {
    issuing::issue_receipt(sample(), folder.path, kDay);
    issuing::issue_receipt(sample(), folder.path, kDay);
  }
  fs::path file(const std::string& name) const { return folder.path / "2026-12" / name; }
  std::string code(const std::string& number) const {
    return store::find_receipt(issuing::book_for(folder.path), number)->code;
  }
  void sql(const std::string& statement) const {
    ASSERT_EQ(sqlite3_exec(issuing::book_for(folder.path).db(), statement.c_str(), nullptr, nullptr, nullptr),
              SQLITE_OK);
  }
};

struct AnswerRow {
  const char* name;
  std::function<std::string(Shop&)> input;  // a file or a code's text
  bool genuine;
  const char* words;  // the answer begins with them
};

class Answers : public ::testing::TestWithParam<AnswerRow> {};

TEST_P(Answers, SayWhetherTheReceiptIsGenuineAndWhy) {
  Shop shop;
  const std::string input = GetParam().input(shop);
  const Answer answer = verify(input, choose_key(shop.folder.path, ""), shop.folder.path);
  EXPECT_EQ(answer.genuine, GetParam().genuine) << answer.text;
  EXPECT_TRUE(answer.text.starts_with(GetParam().words)) << answer.text;
  EXPECT_NE(answer.text.find("使用的金鑰：輸出資料夾的金鑰"), std::string::npos) << answer.text;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, Answers,
    ::testing::Values(
        AnswerRow{"Pdf", [](Shop& s) { return s.file(std::string(kFirst) + ".pdf").string(); }, true,
                  kGenuine},
        // The 150-dpi picture as saved: the code read at its printed size.
        AnswerRow{"Picture", [](Shop& s) { return s.file(std::string(kFirst) + ".png").string(); }, true,
                  kGenuine},
        AnswerRow{"CodeText", [](Shop& s) { return s.code(kFirst); }, true, kGenuine},
        AnswerRow{"EditedCode",
                  [](Shop& s) {
                    store::Code code = *store::parse_code(s.code(kFirst));
                    code.total = "2430";
                    return store::code_text(code);
                  },
                  false, "不符：簽章不符"},
        AnswerRow{"NotACode", [](Shop&) { return std::string("https://example.com/"); }, false,
                  "不符：這段文字不是"},
        AnswerRow{"PictureWithoutCode",
                  [](Shop& s) {
                    const fs::path blank = s.folder.path / "blank.png";
                    store::write_text(blank, "");
                    return std::system(("convert -size 300x200 xc:white '" + blank.string() + "'").c_str()) ==
                                   0
                               ? blank.string()
                               : std::string();
                  },
                  false, "不符：在"},
        AnswerRow{"NumberNotInTheBook",
                  [](Shop& s) {
                    const std::string code = s.code("收據-20261208-002");
                    s.sql("DELETE FROM receipts WHERE number = '收據-20261208-002'");
                    return code;
                  },
                  false, "不符：收據簿沒有 收據-20261208-002"},
        AnswerRow{"ContentChangedInTheBook",
                  [](Shop& s) {
                    s.sql("UPDATE receipts SET buyer = '王大明' WHERE number = '收據-20261208-001'");
                    return s.code(kFirst);
                  },
                  false, "不符：收據簿裡 收據-20261208-001 的內容與簽章不符"},
        AnswerRow{"Void",
                  [](Shop& s) {
                    issuing::void_receipt(s.folder.path, kFirst, "打錯");
                    return s.file(std::string(kFirst) + "-作廢.pdf").string();
                  },
                  false, "已作廢：收據-20261208-001"}),
    store::CaseName());

TEST(Answers, AnotherShopsKeyFindsTheSignatureWrong) {
  Shop shop, other;
  const Answer answer = verify(shop.file(std::string(kFirst) + ".pdf").string(),
                               choose_key(other.folder.path, ""), other.folder.path);
  EXPECT_FALSE(answer.genuine);
  EXPECT_TRUE(answer.text.starts_with("不符：簽章不符")) << answer.text;
}

struct KeyRow {
  const char* name;
  std::function<std::string(const Shop&)> argument;
  const char* words;  // of the key chosen, or of the refusal
};

class Keys : public ::testing::TestWithParam<KeyRow> {};

TEST_P(Keys, AreTheFoldersACardsOrAFingerprintsTheFolderHas) {
  Shop shop;
  try {
    const KeyChoice key = choose_key(shop.folder.path, GetParam().argument(shop));
    EXPECT_NE(key.where.find(GetParam().words), std::string::npos) << key.where;
    EXPECT_EQ(key.public_key, store::ShopKey::of_folder(shop.folder.path)->public_key());
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find(GetParam().words), std::string::npos) << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, Keys,
    ::testing::Values(KeyRow{"Folder", [](const Shop&) { return std::string(); }, "輸出資料夾的金鑰"},
                      KeyRow{"Fingerprint",
                             [](const Shop& s) {
                               std::string typed = store::ShopKey::of_folder(s.folder.path)->fingerprint();
                               for (char& c : typed) c = static_cast<char>(std::tolower(c));
                               return typed;
                             },
                             "指紋"},
                      KeyRow{"OtherFingerprint", [](const Shop&) { return std::string(32, 'A'); },
                             "不是 AAAA-"},
                      KeyRow{"Neither", [](const Shop&) { return std::string("林記"); }, "既不是檔案"}),
    store::CaseName());

}  // namespace
}  // namespace receiptora::verify
