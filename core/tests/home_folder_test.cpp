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

}  // namespace
}  // namespace receiptora
