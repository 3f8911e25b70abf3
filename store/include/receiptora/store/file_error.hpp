// A failure of the file system in the shop owner's words: a std::system_error carrying the
// errno (callers and Python still see ENOSPC, EACCES, EEXIST …) whose message is ours alone,
// in Chinese, naming the file, with the reason in Chinese instead of the C library's English.
#pragma once

#include <string>
#include <system_error>

namespace receiptora::store {

class FileError : public std::system_error {
 public:
  // `message` says what failed; the reason follows in brackets unless it says that too.
  FileError(int error, const std::string& message, bool with_reason = true)
      : std::system_error(error, std::generic_category()),
        message_(with_reason ? message + "（" + reason(error) + "）" : message) {}
  const char* what() const noexcept override { return message_.c_str(); }

  // The errno in words: 磁碟已滿, 沒有權限 …
  static std::string reason(int error);

 private:
  std::string message_;
};

}  // namespace receiptora::store
