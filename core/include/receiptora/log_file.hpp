// The error log on disk: where it lives by default, and appending with size-based rotation.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "receiptora/local_time.hpp"  // local_iso_timestamp(): the log's time stamps

namespace receiptora {

inline constexpr std::uintmax_t kLogLimit = 1024 * 1024;  // bytes per file
inline constexpr int kLogKeep = 3;                        // old files: .1 .2 .3

// Windows: C:/quillmarkers/error.log. Elsewhere: $XDG_DATA_HOME (when absolute) or
// .local/share in home_folder(), then quillmarkers/Receiptora/error.log.
std::filesystem::path default_log_path();

// "error.log" -> "error.log.<n>"
std::filesystem::path rotated_name(const std::filesystem::path& log, int n);

// Appends `record` to `log`, creating its folder. When the existing file is not empty and
// the record would take it past `limit`, the old files move up one place first (the oldest
// beyond `keep` is removed) and the record starts a fresh file. Returns false, without
// throwing, when the file cannot be written.
bool append_to_log(const std::filesystem::path& log, std::string_view record,
                   std::uintmax_t limit = kLogLimit, int keep = kLogKeep);

}  // namespace receiptora
