// Names each case of a parameterised suite after its `name` member, and the files that are
// not regular files which the store refuses to open (shared by the ledger and profile tables).
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "temp_folder.hpp"

namespace receiptora::store {

struct CaseName {
  template <class Case>
  std::string operator()(const testing::TestParamInfo<Case>& param) const {
    return param.param.name;
  }
};

// Something that is not a regular file, made at `at`; `elsewhere` is where a link points.
struct NotAFileCase {
  const char* name;
  const char* refusal;  // part of the message that refuses it
  void (*make)(const std::filesystem::path& at, const std::filesystem::path& elsewhere);
};

inline const NotAFileCase kNotAFile[] = {
    {"SymbolicLink", "符號連結",
     [](const std::filesystem::path& at, const std::filesystem::path& elsewhere) {
       write_text(elsewhere, "\"商號名稱\" = \"林記\"\n");  // a profile, were it followed
       std::filesystem::create_symlink(elsewhere, at);
     }},
    {"DanglingLink", "符號連結",
     [](const std::filesystem::path& at, const std::filesystem::path& elsewhere) {
       std::filesystem::create_symlink(elsewhere, at);
     }},
    {"Fifo", "FIFO",
     [](const std::filesystem::path& at, const std::filesystem::path&) { ::mkfifo(at.c_str(), 0644); }},
    {"Folder", "資料夾",
     [](const std::filesystem::path& at, const std::filesystem::path&) {
       std::filesystem::create_directory(at);
     }},
};

}  // namespace receiptora::store
