// Writing a shop's files so that a crash, a full disk or a second writer never leaves a half
// file under a real name and never overwrites one.
#pragma once

#include <filesystem>
#include <string_view>

namespace receiptora::store {

namespace fs = std::filesystem;

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

// Flushes a folder's entries (new names from renames) to disk. Failures are ignored: the
// files themselves are already on disk.
void sync_folder(const fs::path& folder);

}  // namespace receiptora::store
