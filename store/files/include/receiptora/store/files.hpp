// Writing a shop's files so that a crash, a full disk or a second writer never leaves a half
// file under a real name and never overwrites one.
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

namespace receiptora::store {

namespace fs = std::filesystem;

// Throws std::invalid_argument when a folder or file name holds a control character (NUL,
// a line break, ESC ...): such a name cannot be what the operator meant, and a NUL would
// silently cut the name short in every system call.
void check_path_text(const fs::path& path);

// Writes `bytes` to a temporary file in `target`'s folder, flushes it to disk and renames it
// to `target`, but only if no file of that name exists yet. Throws std::system_error naming
// the file when anything fails (an existing target fails with EEXIST); the temporary file
// is removed then.
void write_new_file(const fs::path& target, std::string_view bytes);

// A complete file under a temporary name beside its target, waiting to be renamed.
struct StagedFile {
  fs::path temp;
  fs::path target;
};

// The two halves of write_new_file, for callers that flush many files at once
// (sync_file_system) before renaming them. stage_file flushes the file itself when `flush`.
StagedFile stage_file(const fs::path& target, std::string_view bytes, bool flush);
// Renames without replacing; on failure the temporary file is removed and std::system_error
// thrown (EEXIST when the target exists).
void commit_file(const StagedFile& staged);
void discard_file(const StagedFile& staged) noexcept;

// Flushes everything written so far on the file system that holds `path` (syncfs), one call
// for any number of staged files.
void sync_file_system(const fs::path& path);
// Flushes the file systems that hold the staged files, once each: files in folders on
// different disks (a month folder mounted elsewhere) are each flushed on their own.
void sync_staged_files(const std::vector<StagedFile>& staged);

// Flushes a folder's entries (new names from renames) to disk. Failures are ignored: the
// files themselves are already on disk.
void sync_folder(const fs::path& folder);

// Removes the temporary files a killed writer left in an output folder: the staging files of
// receipts in its month folders (.收據-YYYYMMDD-NNN.pdf.XXXXXX) and the ledger's and profile's
// (.收據清冊.csv.XXXXXX, .賣方資料.toml.XXXXXX). Only names of exactly that form, not modified for
// `older_than_seconds` and not locked by a live writer, are removed; symbolic links are
// left alone. The hour by default is far longer than any live writer keeps a staged file
// waiting for its rename (the lock covers only the writing). Call it when a program that
// writes into `root` starts. Returns what it removed.
std::vector<fs::path> remove_stale_temporaries(const fs::path& root, double older_than_seconds = 3600);

}  // namespace receiptora::store
