// The watch sees what other connections commit, once each, and not its own connection's.
#include "receiptora/reports/book_watch.hpp"

#include <gtest/gtest.h>

#include "../../store/tests/temp_folder.hpp"

namespace receiptora::reports {
namespace {

store::Record issued(const std::string& number) {
  store::Record r;
  r.number = number;
  r.date = "2026-12-07";
  r.state = store::State::Issued;
  return r;
}

TEST(BookWatch, SeesOtherConnectionsCommitsOnce) {
  store::TempFolder folder;
  store::Book window(folder.path), worker(folder.path);
  BookWatch watch(window);
  EXPECT_FALSE(watch.changed());
  ASSERT_TRUE(store::insert_record(worker, issued("收據-20261207-001")));
  EXPECT_TRUE(watch.changed());
  EXPECT_FALSE(watch.changed());
  ASSERT_TRUE(store::insert_record(window, issued("收據-20261207-002")));  // its own connection
  EXPECT_FALSE(watch.changed());
  ASSERT_TRUE(store::insert_record(worker, issued("收據-20261207-003")));
  EXPECT_TRUE(watch.changed());
}

}  // namespace
}  // namespace receiptora::reports
