// A failure of the file system in the shop owner's words: a std::system_error carrying the
// errno (callers and Python still see ENOSPC, EACCES, EEXIST …) whose message is ours alone,
// in Chinese, naming the file, with the reason in Chinese instead of the C library's English.
#pragma once

#include <cerrno>
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

// Inline: the SQLite readers that link no more than SQLite (suggestions) report with it too.
inline std::string FileError::reason(int error) {
  switch (error) {
    case ENOSPC:
      return "磁碟已滿";
    case EACCES:
    case EPERM:
      return "沒有權限";
    case EROFS:
      return "磁碟唯讀";
    case ENOENT:
      return "找不到";
    case EEXIST:
      return "已經存在";
    case EIO:
      return "磁碟讀寫錯誤";
    case ELOOP:
      return "符號連結";
    case ENOTDIR:
      return "不是資料夾";
    case EISDIR:
      return "是資料夾";
    case EWOULDBLOCK:
      return "被其他程式鎖住";
    case EBUSY:
      return "使用中";
    case EFBIG:
      return "檔案太大";
    case EINVAL:
      return "不能使用";
    case ENAMETOOLONG:
      return "名稱太長";
    case EDQUOT:
      return "超過磁碟配額";
    default:
      return "錯誤碼 " + std::to_string(error);
  }
}

}  // namespace receiptora::store
