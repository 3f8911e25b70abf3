#include <gtest/gtest.h>

#include "receiptora/home_folder.hpp"
#include "scoped_env.hpp"

namespace receiptora {
namespace {

TEST(HomeFolder, HomeElseThePasswordDatabase) {
  const std::pair<const char*, std::string> cases[] = {
      {"/home/operator", "/home/operator"},
      {"", account_home()},
      {nullptr, account_home()},
  };
  for (const auto& [home, expected] : cases) {
    ScopedEnv env("HOME", home);
    EXPECT_EQ(home_folder(), expected) << (home ? home : "(unset)");
  }
}

#ifndef _WIN32
TEST(OutputFolder, HomeWithOneSlashBetweenAndAfter) {
  const std::pair<const char*, std::string> cases[] = {
      {"/home/operator", "/home/operator/quillmarkers/Receiptora/"},
      {"/home/operator/", "/home/operator/quillmarkers/Receiptora/"},
      {"/home/operator//", "/home/operator/quillmarkers/Receiptora/"},
      {"/", "/quillmarkers/Receiptora/"},
      {"/home/王小明", "/home/王小明/quillmarkers/Receiptora/"},
  };
  for (const auto& [home, expected] : cases) {
    ScopedEnv env("HOME", home);
    EXPECT_EQ(output_folder(), expected) << home;
  }
}
#endif

}  // namespace
}  // namespace receiptora
