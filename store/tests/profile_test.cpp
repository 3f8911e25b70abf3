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
    testing::Values(ProblemCase{"Valid", "\xEF\xBB\xBF\"商號名稱\" = \"林記\"\n\"統一編號\" = \"22099131\"\n",
                                "", "林記", "22099131"},
                    ProblemCase{"BadToml", "\"商號名稱\" = \"林記\"\n\"統一編號\" = 22099131 x\n", "line 2",
                                "", ""},
                    ProblemCase{"ChecksumFails", "\"商號名稱\" = \"林記\"\n\"統一編號\" = \"12345678\"\n",
                                "checksum", "林記", ""},
                    ProblemCase{"NotText", "\"商號名稱\" = 42\n\"統一編號\" = \"22099131\"\n", "商號名稱", "",
                                "22099131"},
                    ProblemCase{"MissingImage", "\"商號名稱\" = \"林記\"\n\"負責人章圖檔\" = \"seal.png\"\n",
                                "seal.png", "林記", ""},
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
