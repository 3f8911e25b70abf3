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

// Flushes a folder's entries (new names from renames) to disk. Failures are ignored: the
// files themselves are already on disk.
void sync_folder(const fs::path& folder);

}  // namespace receiptora::store
