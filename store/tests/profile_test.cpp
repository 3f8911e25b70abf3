#include <gtest/gtest.h>

#include "receiptora/store/profile.hpp"
#include "temp_folder.hpp"

namespace receiptora::store {
namespace {

constexpr char kPng[] = "\x89PNG\r\n\x1a\n....";

TEST(Profile, CreatedOnFirstReadWithEveryFieldEmpty) {
  TempFolder dir;
  const ProfileRead first = read_profile(dir.path / "Receiptora");
  EXPECT_TRUE(first.problems.empty());
  EXPECT_EQ(read_all(dir.path / "Receiptora" / std::string(kProfileName)), profile_template());
  const ProfileRead again = read_profile(dir.path / "Receiptora");  // the template itself is valid
  EXPECT_TRUE(again.problems.empty()) << again.problems.front();
  EXPECT_EQ(again.seller.name, "");
}

struct ProblemCase {
  const char* name;
  const char* toml;
  const char* problem;  // part of the one problem reported
  const char* seller_name;
  const char* tax_id;
};

class ProfileProblems : public testing::TestWithParam<ProblemCase> {};

TEST_P(ProfileProblems, ReportedAndTheValidRestKept) {
  TempFolder dir;
  write_text(dir.path / "stamp.png", kPng);
  write_text(dir.path / std::string(kProfileName), GetParam().toml);
  const ProfileRead read = read_profile(dir.path);
  if (*GetParam().problem) {
    ASSERT_EQ(read.problems.size(), 1u);
    EXPECT_NE(read.problems[0].find(GetParam().problem), std::string::npos) << read.problems[0];
  } else {
    EXPECT_TRUE(read.problems.empty()) << read.problems.front();
  }
  EXPECT_EQ(read.seller.name, GetParam().seller_name);
  EXPECT_EQ(read.seller.tax_id, GetParam().tax_id);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileProblems,
    testing::Values(
        ProblemCase{"Valid", "\xEF\xBB\xBF\"商號名稱\" = \"林記\"\n\"統一編號\" = \"22099131\"\n", "", "林記",
                    "22099131"},
        ProblemCase{"BadTomlKeepsTheOtherLines", "\"商號名稱\" = \"林記\"\n\"統一編號\" = 22099131 x\n",
                    "第 2 行「統一編號」寫法有誤", "林記", ""},
        ProblemCase{"MissingQuote",
                    "# 商號\n\"商號名稱\" = \"林記\n\"統一編號\" = \"22099131\"\r\n\"負責人\" = \"王\"\n",
                    "第 2 行「商號名稱」", "", "22099131"},
        ProblemCase{"DuplicateKey", "\"商號名稱\" = \"林記\"\n\"商號名稱\" = \"陳記\"\n",
                    "第 2 行「商號名稱」重複", "林記", ""},
        ProblemCase{"ChecksumFails", "\"商號名稱\" = \"林記\"\n\"統一編號\" = \"12345678\"\n", "checksum",
                    "林記", ""},
        ProblemCase{"NotText", "\"商號名稱\" = 42\n\"統一編號\" = \"22099131\"\n", "商號名稱", "",
                    "22099131"},
        ProblemCase{"MissingImage", "\"商號名稱\" = \"林記\"\n\"負責人章圖檔\" = \"seal.png\"\n", "seal.png",
                    "林記", ""},
        ProblemCase{"UnknownKey", "\"店名\" = \"林記\"\n", "店名", "", ""}),
    [](const testing::TestParamInfo<ProblemCase>& case_info) { return std::string(case_info.param.name); });

TEST(Profile, RelativeStampImageTakenFromTheProfileFolder) {
  TempFolder dir;
  write_text(dir.path / "stamp.png", kPng);
  write_text(dir.path / std::string(kProfileName), "\"免用統一發票章圖檔\" = \"stamp.png\"\n");
  EXPECT_EQ(read_profile(dir.path).seller.exemption_stamp_image, (dir.path / "stamp.png").string());
}

}  // namespace
}  // namespace receiptora::store

namespace receiptora::store {
namespace {

struct SettingCase {
  const char* name;
  const char* toml;
  bool auto_print;
  long long invoice_standard;
  bool problem;
};

class ProfileSettings : public testing::TestWithParam<SettingCase> {};

TEST_P(ProfileSettings, ReadWithTheirDefaults) {
  TempFolder dir;
  write_text(dir.path / std::string(kProfileName), GetParam().toml);
  const ProfileRead read = read_profile(dir.path);
  EXPECT_EQ(read.auto_print, GetParam().auto_print);
  EXPECT_EQ(read.invoice_standard, GetParam().invoice_standard);
  EXPECT_EQ(read.problems.size(), GetParam().problem ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ProfileSettings,
    testing::Values(SettingCase{"absent", "", false, 200000, false},
                    SettingCase{"yes", "\"自動列印\" = \"是\"", true, 200000, false},
                    SettingCase{"no", "\"自動列印\" = \"否\"", false, 200000, false},
                    SettingCase{"boolean", "\"自動列印\" = true", true, 200000, false},
                    SettingCase{"other_word", "\"自動列印\" = \"好\"", false, 200000, true},
                    SettingCase{"standard", "\"使用統一發票標準\" = 240000", false, 240000, false},
                    SettingCase{"standard_text", "\"使用統一發票標準\" = \"150000\"", false, 150000, false},
                    SettingCase{"standard_zero", "\"使用統一發票標準\" = 0", false, 200000, true},
                    SettingCase{"standard_negative", "\"使用統一發票標準\" = -5", false, 200000, true},
                    SettingCase{"standard_words", "\"使用統一發票標準\" = \"二十萬\"", false, 200000, true},
                    SettingCase{"standard_float", "\"使用統一發票標準\" = 2.5e5", false, 200000, true}),
    [](const testing::TestParamInfo<SettingCase>& param) { return std::string(param.param.name); });

TEST(Profile, TemplateSettingsAreTheDefaults) {
  TempFolder dir;
  read_profile(dir.path);  // writes the template
  const ProfileRead read = read_profile(dir.path);
  EXPECT_FALSE(read.auto_print);
  EXPECT_EQ(read.invoice_standard, kDefaultInvoiceStandard);
}

}  // namespace
}  // namespace receiptora::store
