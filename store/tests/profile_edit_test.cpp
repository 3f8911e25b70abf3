#include "receiptora/store/profile_edit.hpp"

#include <gtest/gtest.h>

#include "case_name.hpp"
#include "temp_folder.hpp"

namespace receiptora::store {
namespace {

ProfileValues shop() {
  ProfileValues values;
  values.seller.name = "林記\"茶行\"\\";
  values.seller.tax_id = "22099131";
  values.seller.owner = "林大明";
  values.auto_print = true;
  values.invoice_standard = 240000;
  return values;
}

struct EditCase {
  const char* name;
  std::string before;
  std::vector<std::string> kept;     // lines that stay as they were
  std::vector<std::string> written;  // lines the edit writes
  std::string absent;                // a text no longer there ("" for none)
};

class EditedProfile : public testing::TestWithParam<EditCase> {};

TEST_P(EditedProfile, SetsTheValuesAndKeepsTheRest) {
  const std::string after = edited_profile(GetParam().before, shop());
  for (const std::string& line : GetParam().kept) EXPECT_NE(after.find(line), std::string::npos) << line;
  for (const std::string& line : GetParam().written) EXPECT_NE(after.find(line), std::string::npos) << after;
  if (!GetParam().absent.empty()) {
    EXPECT_EQ(after.find(GetParam().absent), std::string::npos) << after;
  }
}

const EditCase kEdits[] = {
    {"template_comments_kept",
     profile_template(),
     {"# 商號名稱（店名）\n", "# 負責人姓名\n"},
     {"\"商號名稱\" = \"林記\\\"茶行\\\"\\\\\"\n", "\"自動列印\" = \"是\"\n",
      "\"使用統一發票標準\" = 240000\n"},
     "\"自動列印\" = \"否\""},
    {"missing_field_added",
     "# 我的店\n\"電話\" = \"02-1234\"\n",
     {"# 我的店\n"},
     {"\"統一編號\" = \"22099131\"\n"},
     "02-1234"},
    {"crlf_lines_stay_crlf", "# 店\r\n商號名稱 = \"舊\"\r\n", {"# 店\r\n"}, {"\"商號名稱\" = \"林記"}, "舊"},
    {"repeated_key_written_once",
     "\"負責人\" = \"甲\"\n\"負責人\" = \"乙\"\n",
     {},
     {"\"負責人\" = \"林大明\"\n\n"},
     "乙"},
    {"byte_order_mark_kept",
     "\xEF\xBB\xBF\"負責人\" = \"甲\"\n",
     {"\xEF\xBB\xBF\"負責人\" = \"林大明\""},
     {},
     "甲"},
};

INSTANTIATE_TEST_SUITE_P(Cases, EditedProfile, testing::ValuesIn(kEdits), CaseName());

TEST(SaveProfile, ReplacesTheFileAndReadsBackAsSaved) {
  TempFolder dir;
  write_text(dir.path / std::string(kProfileName), "# 我自己的註解\n\"商號名稱\" = \"舊名\"\n");
  save_profile(dir.path, shop());
  const std::string text = read_all(dir.path / std::string(kProfileName));
  EXPECT_EQ(text.rfind("# 我自己的註解\n", 0), 0u) << text;
  const ProfileRead read = read_profile(dir.path);
  EXPECT_TRUE(read.problems.empty()) << read.problems.front();
  EXPECT_EQ(read.seller.name, "林記\"茶行\"\\");
  EXPECT_EQ(read.seller.tax_id, "22099131");
  EXPECT_TRUE(read.auto_print);
  EXPECT_EQ(read.invoice_standard, 240000);
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path)) ++files;
  EXPECT_EQ(files, 1u);  // no temporary file left beside it
}

// Where a chosen picture ends up: the profile names it inside the output folder.
struct PictureCase {
  const char* name;
  const char* chosen;  // {out} the output folder, {away} a folder outside it
  const char* kept;    // the path the profile keeps
  bool copied;         // the chosen picture's bytes are at the kept path afterwards
};

class KeptPicture : public testing::TestWithParam<PictureCase> {};

TEST_P(KeptPicture, InsideTheOutputFolder) {
  TempFolder dir;
  const fs::path out = dir.path / "out", away = dir.path / "away";
  fs::create_directories(out / "印章");
  fs::create_directories(away);
  write_text(away / "負責人章.png", kTinyPngBytes);
  write_text(out / "印章" / "taken.png", "another picture");
  write_text(out / "印章" / "same.png", kTinyPngBytes);
  write_text(away / "taken.png", kTinyPngBytes);
  write_text(away / "same.png", kTinyPngBytes);
  const auto placed = [&](std::string path) {
    for (const auto& [mark, folder] : {std::pair{"{out}", out}, {"{away}", away}})
      if (path.starts_with(mark)) path = folder.string() + path.substr(std::string(mark).size());
    return path;
  };
  EXPECT_EQ(kept_picture(out, placed(GetParam().chosen)), placed(GetParam().kept));
  if (GetParam().copied) EXPECT_EQ(read_all(out / GetParam().kept), kTinyPngBytes);
}

const PictureCase kPictures[] = {
    {"OutsideIsCopiedIn", "{away}/負責人章.png", "印章/負責人章.png", true},
    {"InsideByItsRelativePath", "{out}/印章/same.png", "印章/same.png", false},
    {"RelativeAsItIs", "印章/x.png", "印章/x.png", false},
    {"MissingAsItIs", "{away}/gone.png", "{away}/gone.png", false},
    {"ANameTakenByAnotherPictureIsNotReplaced", "{away}/taken.png", "印章/taken-2.png", true},
    {"TheSamePictureIsNotCopiedTwice", "{away}/same.png", "印章/same.png", true},
};

INSTANTIATE_TEST_SUITE_P(Cases, KeptPicture, testing::ValuesIn(kPictures), CaseName());

TEST(SaveProfile, AChosenPictureIsKeptInTheOutputFolder) {
  TempFolder dir;
  fs::create_directories(dir.path / "away");
  write_text(dir.path / "away" / "章.png", kTinyPngBytes);
  ProfileValues values = shop();
  values.seller.owner_seal_image = (dir.path / "away" / "章.png").string();
  save_profile(dir.path / "out", values);
  EXPECT_NE(read_all(dir.path / "out" / std::string(kProfileName)).find("\"負責人章圖檔\" = \"印章/章.png\""),
            std::string::npos);
  EXPECT_EQ(read_all(dir.path / "out" / "印章" / "章.png"), kTinyPngBytes);
}

TEST(KeepProfilePictures, CopiesAnOlderProfilesPicturesInOnceWithANote) {
  TempFolder dir;
  const fs::path out = dir.path / "out", away = dir.path / "away";
  fs::create_directories(away);
  fs::create_directories(out);
  write_text(away / "章.png", kTinyPngBytes);
  write_text(out / std::string(kProfileName), "# 我的註解\n\"商號名稱\" = \"林記\"\n\"負責人章圖檔\" = \"" +
                                                  (away / "章.png").string() + "\"\n");
  const std::vector<std::string> notes = keep_profile_pictures(out);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("印章/章.png"), std::string::npos) << notes[0];
  fs::remove_all(away);  // the old picture folder gone: the profile still draws the stamp
  EXPECT_EQ(read_all(out / std::string(kProfileName)),
            "# 我的註解\n\"商號名稱\" = \"林記\"\n\"負責人章圖檔\" = \"印章/章.png\"\n");
  const ProfileRead read = read_profile(out);
  EXPECT_TRUE(read.problems.empty()) << read.problems.front();
  EXPECT_EQ(read.seller.owner_seal_image, (out / "印章" / "章.png").string());
  EXPECT_TRUE(keep_profile_pictures(out).empty());
}

}  // namespace
}  // namespace receiptora::store
