// The book's refusals and failures that are no failure of the disk.
#pragma once

#include <stdexcept>
#include <string>

namespace receiptora::store {

// A failure the operator can act on: an unknown number, a receipt already void, a book of
// a newer version. Failures of the database itself are std::system_error or BookError.
class BookError : public std::runtime_error {
 public:
  // Corrupt: SQLite cannot read the file (malformed, not a database), or a record in it cannot
  // be read (a state or total no build writes); ReadOnly: a write asked of a book opened for
  // reading.
  enum class Kind { Unknown, AlreadyVoid, NotIssued, Version, Database, Corrupt, ReadOnly };
  BookError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

}  // namespace receiptora::store
