// Whether the book changed since the last look: another process or another connection of
// this one issued, voided or reprinted (SQLite's PRAGMA data_version, one cheap query).
#pragma once

#include <cstdint>

#include "receiptora/store/book.hpp"

namespace receiptora::reports {

class BookWatch {
 public:
  explicit BookWatch(const store::Book& book);
  // True when a commit of another connection reached the book since the last call (or since
  // the watch was made). The watch's own connection's commits are not seen.
  bool changed();

 private:
  std::int64_t version() const;
  const store::Book& book_;
  std::int64_t last_;
};

}  // namespace receiptora::reports
