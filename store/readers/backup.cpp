#include "receiptora/store/backup.hpp"

#include <sqlite3.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <system_error>
#include <thread>

#include "book_sql.hpp"
#include "platform.hpp"
#include "receiptora/local_time.hpp"
#include "receiptora/store/book_ledger.hpp"
#include "receiptora/store/file_error.hpp"
#include "receiptora/store/files.hpp"
#include "receiptora/store/ledger.hpp"
#include "receiptora/store/profile.hpp"
#include "receiptora/store/profile_edit.hpp"

namespace receiptora::store {

namespace {

constexpr const char* kLockName = ".備份中";

using sql::Statement;

// The book's pages, copied while the book stays usable: SQLite's online backup, all at once
// under the book's lock (another process writing waits on its busy timeout, not on us).
void copy_book(Book& book, const fs::path& target) {
  const sql::Connection copy = sql::open(target.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  {
    std::lock_guard lock(book.mutex());
    sqlite3_backup* backup = sqlite3_backup_init(copy.get(), "main", book.db(), "main");
    if (!backup) sql::fail(copy.get());
    int step;
    for (int tries = 0; (step = sqlite3_backup_step(backup, -1)) == SQLITE_BUSY || step == SQLITE_LOCKED;
         ++tries) {
      if (tries == 200) break;  // 10 s
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (sqlite3_backup_finish(backup) != SQLITE_OK || step != SQLITE_DONE) sql::fail(copy.get());
  }
  // A receipt being issued at that moment is finished after it, outside this copy: the copy
  // keeps its number as not made, so a folder restored from it never issues the number again,
  // and its ledger (written from the copy) lists every record.
  sql::exec(copy.get(),
            "UPDATE receipts SET state = 'unfinished', owner = '', unfinished_reason = "
            "'備份時正在開立，完成於備份之後（不在這份備份裡）' WHERE state = 'pending';"
            "UPDATE receipts SET ledger_written = 1 WHERE ledger_written = 0");
  // One self-contained file: a rollback journal instead of a -wal beside it.
  sql::exec(copy.get(), "PRAGMA journal_mode=DELETE");
}

bool is_book_file(const std::string& name) {
  const std::string book(kBookName);
  return name.rfind(book, 0) == 0;  // the book, its -wal, -shm and -journal
}

// A regular file copied, never replacing one.
void copy_regular(const fs::path& from, const fs::path& to, std::size_t& files) {
  std::error_code ec;
  fs::copy_file(from, to, fs::copy_options::none, ec);
  if (ec) throw BackupError("無法複製 " + from.string() + "：" + FileError::reason(ec.value()));
  ++files;
}

// The files of the copied book's records with where each lives (a void receipt's originals in
// the month's .原本 folder): number, name, sha256, kind, state.
constexpr const char* kStoredFiles =
    "SELECT files.number, files.name, files.sha256, files.kind, receipts.state FROM files "
    "JOIN receipts ON receipts.number = files.number ORDER BY files.number";
std::string stored(sqlite3* db, const Statement& row) {
  return stored_name(sql::row_state(db, row.view(0), row.view(4)), BookFile{row.text(1), "", row.text(3)});
}

// The files the copied book names (relative to the folder, where each lives), each only once.
std::set<std::string> named_files(const fs::path& book_copy) {
  std::set<std::string> named;
  const sql::Connection copy = sql::open(book_copy.string(), SQLITE_OPEN_READONLY);
  Statement rows(copy.get(), kStoredFiles);
  while (rows.step()) named.insert(stored(copy.get(), rows));
  return named;
}

// What the folder holds as of the copied book: every file its records name, and beside them
// what is no receipt (the profile and its 印章 folder, exports, result tables, other files the
// shop keeps in a month folder). A receipt file no record of the copy names was issued after it and is left
// out (counted), so the backup is the folder of one moment; the ledger is written from the
// copy. Hidden files (temporaries of a save under way) and symbolic links are left out.
void copy_files(const fs::path& root, const fs::path& target, const std::set<std::string>& named,
                BackupReport& report) {
  static const std::regex month(R"(\d{4}-\d{2})");
  static const std::regex receipt_file(R"(收據-\d{8}-\d{3,}(-[^./]+)*\.(pdf|png))");
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(root, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name[0] == '.' || is_book_file(name) || name == kLedgerName) continue;
    const fs::file_status status = entry.symlink_status();
    if (fs::is_regular_file(status)) {
      copy_regular(entry.path(), target / name, report.files);
    } else if (fs::is_directory(status) && name == kStampFolder) {  // the profile's stamp pictures
      fs::create_directory(target / name);
      for (const fs::directory_entry& file : fs::directory_iterator(entry.path()))
        if (file.path().filename().string()[0] != '.' && fs::is_regular_file(file.symlink_status()))
          copy_regular(file.path(), target / name / file.path().filename(), report.files);
    } else if (fs::is_directory(status) && std::regex_match(name, month)) {
      fs::create_directory(target / name);
      for (const fs::directory_entry& file : fs::directory_iterator(entry.path())) {
        const std::string file_name = file.path().filename().string();
        if (file_name.empty() || file_name[0] == '.' || !fs::is_regular_file(file.symlink_status())) continue;
        if (!std::regex_match(file_name, receipt_file))
          copy_regular(file.path(), target / name / file_name, report.files);
        else if (!named.count(name + "/" + file_name))
          ++report.left_out;
      }
    }
  }
  if (ec) throw BackupError("無法讀取資料夾 " + root.string() + "：" + FileError::reason(ec.value()));
  for (const std::string& name : named) {
    const fs::path relative(name);
    if (relative.is_absolute() || name.find("..") != std::string::npos) continue;  // never outside
    fs::create_directories((target / relative).parent_path());
    // One missing or not a regular file is named by the verification that follows.
    if (fs::is_regular_file(fs::symlink_status(root / relative, ec)))
      copy_regular(root / relative, target / relative, report.files);
  }
}

// The copy's ledger, from the copy's book: the lines of exactly the receipts it holds.
void write_ledger_of_copy(const fs::path& target) {
  const Book copy(target, Book::Access::Read);
  std::string text;
  {
    std::lock_guard lock(copy.mutex());
    text = ledger_text(copy);
  }
  commit_file(stage_file(target / std::string(kLedgerName), text, true));
}

// Backups into `dest` that a killed process left half made (nobody holds their lock any more):
// removed, so they neither fill the disk nor stand in a later backup's way.
void remove_abandoned(const fs::path& dest) {
  const std::string prefix = "." + std::string(kBackupPrefix);
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(dest, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) != 0 || !name.ends_with(".partial") ||
        !fs::is_directory(entry.symlink_status()))
      continue;
    const fs::path lock = entry.path() / kLockName;
    if (platform::locked_by_another(lock)) continue;
    // One just made whose lock is not taken yet is a backup starting now.
    if (!fs::exists(lock, ec) && platform::age_in_seconds(entry.path()) < 60) continue;
    fs::remove_all(entry.path(), ec);
  }
}

// Whether `inner` is `outer` or lies inside it (links resolved).
bool within(const fs::path& inner, const fs::path& outer) {
  std::error_code ec;
  const fs::path a = fs::weakly_canonical(inner, ec), b = fs::weakly_canonical(outer, ec);
  const auto [end, unused] = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
  return end == b.end();
}

// Stamp pictures the profile names outside the folder: copied into the backup's 印章 folder,
// and the backup's profile names them there, so the backup restored on another computer
// stamps its receipts (those inside the folder came with it).
void copy_pictures(const fs::path& target, std::size_t& files) {
  const auto count = [&] {
    std::size_t n = 0;
    std::error_code ec;
    for (fs::directory_iterator it(target / kStampFolder, ec), end; !ec && it != end; it.increment(ec)) ++n;
    return n;
  };
  const std::size_t before = count();
  (void)keep_profile_pictures(target);  // a picture that is gone stays named: check reports it
  files += count() - before;
}

// The copy checked as a whole: SQLite's integrity check and every record file's SHA-256.
void verify(const fs::path& folder, BackupReport& report) {
  const sql::Connection copy = sql::open((folder / std::string(kBookName)).string(), SQLITE_OPEN_READONLY);
  std::string integrity;
  for (Statement check(copy.get(), "PRAGMA integrity_check"); check.step();) integrity += check.text(0);
  if (integrity != "ok") throw BackupError("備份的收據簿未通過完整性檢查：" + integrity);
  Statement count(copy.get(), "SELECT count(*) FROM receipts");
  if (count.step()) report.receipts = count.integer(0);
  Statement rows(copy.get(), kStoredFiles);
  while (rows.step()) {
    const std::string number = rows.text(0), name = stored(copy.get(), rows), sha256 = rows.text(2);
    std::string actual;
    try {
      actual = sha256_of_file(folder / name);
    } catch (const std::exception&) {
      throw BackupError(number + " 的檔案 " + name + " 不在備份裡");
    }
    if (actual != sha256) throw BackupError(number + " 的檔案 " + name + " 在備份裡與收據簿記錄的不同");
    ++report.checked;
  }
}

std::string stamp_now() {
  const std::tm local = local_now();
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

}  // namespace

BackupReport back_up(Book& book, const fs::path& dest) {
  const fs::path root = book.folder();
  if (within(dest, root))
    throw BackupError("備份不能放在輸出資料夾 " + root.string() +
                      " 裡面（磁碟壞了會一起不見）：請選另一個資料夾，最好是隨身碟或外接硬碟");
  std::error_code ec;
  fs::create_directories(dest, ec);
  if (ec || !fs::is_directory(dest)) throw BackupError("無法建立備份資料夾 " + dest.string());
  remove_abandoned(dest);
  std::string name = std::string(kBackupPrefix) + stamp_now();
  auto taken = [&](const std::string& candidate) {
    return fs::exists(fs::symlink_status(dest / candidate)) ||
           fs::exists(fs::symlink_status(dest / ("." + candidate + ".partial")));
  };
  for (int n = 2; taken(name); ++n) name = std::string(kBackupPrefix) + stamp_now() + "-" + std::to_string(n);
  const fs::path partial = dest / ("." + name + ".partial");
  BackupReport report;
  try {
    if (!fs::create_directory(partial, ec) || ec) throw BackupError("無法建立備份資料夾 " + partial.string());
    // Held while the copy is made: a later backup removes the partial copy only once it is free.
    const platform::File lock =
        platform::open_regular(partial / kLockName, platform::Access::AppendCreate, "備份鎖定檔");
    platform::lock_exclusive(lock, partial / kLockName, std::chrono::milliseconds(0));
    copy_book(book, partial / std::string(kBookName));
    copy_files(root, partial, named_files(partial / std::string(kBookName)), report);
    write_ledger_of_copy(partial);
    copy_pictures(partial, report.files);
    sync_file_system(partial);
    verify(partial, report);
    fs::remove(partial / kLockName);
    fs::rename(partial, dest / name);
    sync_folder(dest);
  } catch (const BackupError&) {
    fs::remove_all(partial, ec);
    throw;
  } catch (const std::exception& error) {
    fs::remove_all(partial, ec);
    throw BackupError(std::string("備份失敗：") + error.what());
  }
  report.folder = dest / name;
  set_book_setting(book, std::string(kLastBackupSetting), now_iso());
  return report;
}

std::optional<std::string> last_backup(const Book& book) {
  return book_setting(book, std::string(kLastBackupSetting));
}

}  // namespace receiptora::store
