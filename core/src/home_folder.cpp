#include "receiptora/home_folder.hpp"

#include <cerrno>
#include <cstdlib>
#include <vector>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace receiptora {

namespace {

#ifdef _WIN32
std::filesystem::path account_home() {
  const wchar_t* profile = _wgetenv(L"USERPROFILE");
  return profile && *profile ? std::filesystem::path(profile) : std::filesystem::path();
}
#else
std::filesystem::path account_home() {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  int error;
  while ((error = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE)
    buffer.resize(buffer.size() * 2);
  if (error == 0 && found && found->pw_dir && *found->pw_dir) return found->pw_dir;
  return {};
}
#endif

}  // namespace

std::filesystem::path home_folder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  std::filesystem::path account = account_home();
  return account.empty() ? std::filesystem::path("/") : account;
}

std::string output_folder() {
#ifdef _WIN32
  return "C:/quillmarkers/Receiptora/";
#else
  std::string folder = home_folder().string();
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  return folder + "/quillmarkers/Receiptora/";
#endif
}

}  // namespace receiptora
