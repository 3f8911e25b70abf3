// A backup of an output folder: DEST/收據備份-YYYYMMDD-HHMMSS/, itself a complete output
// folder (the book through SQLite's online backup, the month folders, the ledger, the
// profile and its stamp pictures, the other files the shop keeps there), so `list --output`
// reads it and restoring is copying it back. Written under a hidden temporary name, flushed,
// verified (the copy's integrity check, every file of its records against its SHA-256) and
// only then given its name.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "receiptora/store/book.hpp"

namespace receiptora::store {

namespace fs = std::filesystem;

inline constexpr std::string_view kBackupPrefix = "收據備份-";
// The book setting that holds when the last backup was made (ISO 8601 with the zone).
inline constexpr std::string_view kLastBackupSetting = "last_backup";

struct BackupReport {
  fs::path folder;           // DEST/收據備份-…
  std::size_t receipts = 0;  // records in the copied book
  std::size_t files = 0;     // files copied besides the book
  std::size_t checked = 0;   // record files whose SHA-256 was checked in the copy
  std::size_t left_out = 0;  // receipt files issued after the book was copied (not in the backup)
};

// A backup that failed; the partial copy is removed. what() names the file at fault, in Chinese.
class BackupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Backs up `book`'s folder into a new folder under `dest` (made when missing) and notes the
// time in the book (last_backup): the book as of one transaction, the files its records name
// and the ledger written from it, so the copy audits sound even when taken while receipts
// are issued. Half-made backups a killed process left in `dest` are removed first; a `dest`
// inside the output folder is refused. Throws BackupError.
BackupReport back_up(Book& book, const fs::path& dest);

// When the book's folder was last backed up (ISO 8601), if ever.
std::optional<std::string> last_backup(const Book& book);

}  // namespace receiptora::store
