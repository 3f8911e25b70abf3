#include <gtest/gtest.h>
#include <sys/stat.h>

#include "receiptora/store/profile.hpp"
#include "case_name.hpp"
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
        ProblemCase{"ChecksumFails", "\"商號名稱\" = \"林記\"\n\"統一編號\" = \"12345678\"\n", "檢查碼不符",
                    "林記", ""},
        ProblemCase{"NotText", "\"商號名稱\" = 42\n\"統一編號\" = \"22099131\"\n", "商號名稱", "",
                    "22099131"},
        ProblemCase{"MissingImage", "\"商號名稱\" = \"林記\"\n\"負責人章圖檔\" = \"seal.png\"\n", "seal.png",
                    "林記", ""},
        ProblemCase{"UnknownKey", "\"店名\" = \"林記\"\n", "店名", "", ""}),
    CaseName());

TEST(Profile, RelativeStampImageTakenFromTheProfileFolder) {
  TempFolder dir;
  write_text(dir.path / "stamp.png", kTinyPngBytes);
  write_text(dir.path / std::string(kProfileName), "\"免用統一發票章圖檔\" = \"stamp.png\"\n");
  EXPECT_EQ(read_profile(dir.path).seller.exemption_stamp_image, (dir.path / "stamp.png").string());
}

// A PNG header claiming width × height pixels, no picture data.
std::string png_header(unsigned width, unsigned height) {
  std::string bytes = "\x89PNG\r\n\x1a\n" + std::string("\0\0\0\x0dIHDR", 8);
  for (unsigned value : {width, height})
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>((value >> shift) & 0xFF));
  return bytes + std::string("\x08\x06\0\0\0\0\0\0\0", 9);
}

struct PictureCase {
  const char* name;
  const char* problem;  // empty: the picture is used
  void (*make)(const fs::path& picture);
};

class StampPicture : public testing::TestWithParam<PictureCase> {};

// Only a picture the renderer can draw reaches the receipt; any other is left off with a
// problem naming it, and the rest of the profile is kept.
TEST_P(StampPicture, UsedOnlyWhenDrawable) {
  TempFolder dir;
  GetParam().make(dir.path / "seal.png");
  write_text(dir.path / std::string(kProfileName),
             "\"商號名稱\" = \"林記\"\n\"負責人章圖檔\" = \"seal.png\"\n");
  const ProfileRead read = read_profile(dir.path);
  EXPECT_EQ(read.seller.name, "林記");
  if (*GetParam().problem) {
    EXPECT_EQ(read.seller.owner_seal_image, "");
    ASSERT_EQ(read.problems.size(), 1u);
    EXPECT_NE(read.problems[0].find(GetParam().problem), std::string::npos) << read.problems[0];
    EXPECT_NE(read.problems[0].find("seal.png"), std::string::npos) << read.problems[0];
  } else {
    EXPECT_EQ(read.seller.owner_seal_image, (dir.path / "seal.png").string());
    EXPECT_TRUE(read.problems.empty()) << read.problems.front();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StampPicture,
    testing::Values(PictureCase{"Png", "", [](const fs::path& p) { write_text(p, kTinyPngBytes); }},
                    PictureCase{"OnlyTheSignature", "不是 PNG",
                                [](const fs::path& p) { write_text(p, kPng); }},
                    PictureCase{"Truncated", "無法讀成 PNG",
                                [](const fs::path& p) { write_text(p, kTinyPngBytes.substr(0, 50)); }},
                    PictureCase{"NotPng", "不是 PNG",
                                [](const fs::path& p) { write_text(p, "GIF89a......................"); }},
                    PictureCase{"OverTwentyFiveMegapixels", "2500 萬像素",
                                [](const fs::path& p) { write_text(p, png_header(5001, 5000)); }},
                    PictureCase{"Fifo", "FIFO", [](const fs::path& p) { ::mkfifo(p.c_str(), 0644); }},
                    PictureCase{"SymbolicLink", "符號連結",
                                [](const fs::path& p) {
                                  write_text(p.parent_path() / "real.png", kTinyPngBytes);
                                  fs::create_symlink(p.parent_path() / "real.png", p);
                                }},
                    PictureCase{"Missing", "找不到", [](const fs::path&) {}}),
    CaseName());

TEST(Profile, DevicePictureNamedDirectlyIsRefused) {
  TempFolder dir;
  write_text(dir.path / std::string(kProfileName), "\"負責人章圖檔\" = \"/dev/zero\"\n");
  const ProfileRead read = read_profile(dir.path);
  EXPECT_EQ(read.seller.owner_seal_image, "");
  ASSERT_EQ(read.problems.size(), 1u);
  EXPECT_NE(read.problems[0].find("裝置"), std::string::npos) << read.problems[0];
}

struct FieldLengthCase {
  const char* name;
  size_t characters;
  bool kept;
};

class ProfileFieldLength : public testing::TestWithParam<FieldLengthCase> {};

TEST_P(ProfileFieldLength, LongFieldsLeftOff) {
  TempFolder dir;
  std::string address;
  for (size_t i = 0; i < GetParam().characters; ++i) address += "路";
  write_text(dir.path / std::string(kProfileName),
             "\"商號名稱\" = \"林記\"\n\"地址\" = \"" + address + "\"\n");
  const ProfileRead read = read_profile(dir.path);
  EXPECT_EQ(read.seller.name, "林記");
  EXPECT_EQ(read.seller.address, GetParam().kept ? address : "");
  EXPECT_EQ(read.problems.size(), GetParam().kept ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileFieldLength,
                         testing::Values(FieldLengthCase{"AtTheLimit", kFieldLimit, true},
                                         FieldLengthCase{"OverTheLimit", kFieldLimit + 1, false}),
                         CaseName());

class ProfileNotAFile : public testing::TestWithParam<NotAFileCase> {};

TEST_P(ProfileNotAFile, RefusedWithoutBlockingOrFollowing) {
  TempFolder dir, elsewhere;
  GetParam().make(dir.path / std::string(kProfileName), elsewhere.path / "profile.toml");
  const ProfileRead read = read_profile(dir.path);
  EXPECT_EQ(read.seller.name, "");
  ASSERT_EQ(read.problems.size(), 1u);
  EXPECT_NE(read.problems[0].find(GetParam().refusal), std::string::npos) << read.problems[0];
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileNotAFile, testing::ValuesIn(kNotAFile), CaseName());

// What Notepad writes on a Taiwanese Windows: "UTF-8" (with its mark), "Unicode" (UTF-16LE),
// "Unicode big endian" and "ANSI" (CP950); all read alike. Bytes that are none of these
// leave the profile unused with one message.
struct EncodingCase {
  const char* name;
  std::string_view bytes;
  const char* seller_name;
};

class ProfileEncoding : public testing::TestWithParam<EncodingCase> {};

TEST_P(ProfileEncoding, ReadAsUtf8) {
  TempFolder dir;
  write_text(dir.path / std::string(kProfileName), std::string(GetParam().bytes));
  const ProfileRead read = read_profile(dir.path);
  EXPECT_EQ(read.seller.name, GetParam().seller_name);
  EXPECT_EQ(read.problems.empty(), *GetParam().seller_name != '\0');
}

using namespace std::string_view_literals;
INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileEncoding,
    testing::Values(
        EncodingCase{"Utf8", "\"商號名稱\" = \"林記\"\n"sv, "林記"},
        EncodingCase{"Utf8WithMark", "\xEF\xBB\xBF\"商號名稱\" = \"林記\"\n"sv, "林記"},
        EncodingCase{"Utf16LittleEndian",
                     "\xFF\xFE\x22\x00\x46\x55\x5F\x86\x0D\x54\x31\x7A\x22\x00\x20\x00\x3D\x00\x20\x00\x22"
                     "\x00\x97\x67\x18\x8A\x22\x00\x0A\x00"sv,
                     "林記"},
        EncodingCase{"Utf16BigEndian",
                     "\xFE\xFF\x00\x22\x55\x46\x86\x5F\x54\x0D\x7A\x31\x00\x22\x00\x20\x00\x3D\x00\x20\x00"
                     "\x22\x67\x97\x8A\x18\x00\x22\x00\x0A"sv,
                     "林記"},
        EncodingCase{"Cp950",
                     "\x22\xB0\xD3\xB8\xB9\xA6\x57\xBA\xD9\x22\x20\x3D\x20\x22\xAA\x4C\xB0\x4F\x22\x0A"sv,
                     "林記"},
        EncodingCase{"NoneOfThem", "\"\x80\xFF\" = \"\xFF\"\n"sv, ""}),
    CaseName());

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
