#include "log_file.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace quillmarkers {
namespace {

namespace fs = std::filesystem;

class LogFile : public testing::Test {
 protected:
  void SetUp() override {
    std::string name = "companion_log_test_";
    name += testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = fs::temp_directory_path() / name;
    fs::remove_all(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static void write(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
  }

  fs::path dir_;
};

TEST_F(LogFile, CreatesFoldersAndAppends) {
  const fs::path log = dir_ / "a" / "b" / "error.log";
  ASSERT_TRUE(append_to_log(log, "one\n", 100, 3));
  ASSERT_TRUE(append_to_log(log, "two\n", 100, 3));
  EXPECT_EQ(read(log), "one\ntwo\n");
}

TEST_F(LogFile, RotatesOnlyWhenTheRecordWouldPassTheLimit) {
  const fs::path log = dir_ / "error.log";
  write(log, std::string(6, 'x'));
  ASSERT_TRUE(append_to_log(log, "1234", 10, 3));  // exactly at the limit: stays
  EXPECT_FALSE(fs::exists(rotated_name(log, 1)));
  ASSERT_TRUE(append_to_log(log, "5", 10, 3));  // one byte over: moves aside
  EXPECT_EQ(read(rotated_name(log, 1)), "xxxxxx1234");
  EXPECT_EQ(read(log), "5");
}

TEST_F(LogFile, KeepsOnlyTheNewestOldFiles) {
  const fs::path log = dir_ / "error.log";
  for (int n = 0; n < 6; ++n) ASSERT_TRUE(append_to_log(log, std::to_string(n) + "....", 5, 3));
  EXPECT_EQ(read(log), "5....");
  EXPECT_EQ(read(rotated_name(log, 1)), "4....");
  EXPECT_EQ(read(rotated_name(log, 2)), "3....");
  EXPECT_EQ(read(rotated_name(log, 3)), "2....");
  EXPECT_FALSE(fs::exists(rotated_name(log, 4)));
}

TEST_F(LogFile, OversizedRecordInAnEmptyLogIsWrittenWhole) {
  const fs::path log = dir_ / "error.log";
  ASSERT_TRUE(append_to_log(log, std::string(50, 'y'), 10, 3));
  EXPECT_EQ(read(log).size(), 50u);
  EXPECT_FALSE(fs::exists(rotated_name(log, 1)));
}

TEST_F(LogFile, UnwritablePlaceReportsFalse) {
  write(dir_ / "file", "not a folder");
  EXPECT_FALSE(append_to_log(dir_ / "file" / "error.log", "x", 100, 3));
  EXPECT_FALSE(append_to_log(dir_, "x", 100, 3));  // a folder where the file should be
}

TEST(LogTimestamp, IsoLocalTime) {
  const std::string stamp = local_iso_timestamp();
  ASSERT_EQ(stamp.size(), 19u);
  EXPECT_EQ(stamp[4], '-');
  EXPECT_EQ(stamp[7], '-');
  EXPECT_EQ(stamp[10], 'T');
  EXPECT_EQ(stamp[13], ':');
  EXPECT_EQ(stamp[16], ':');
}

}  // namespace
}  // namespace quillmarkers
