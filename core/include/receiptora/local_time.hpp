// The local calendar time now, on every platform, and ISO 8601 time stamps of it.
#pragma once

#include <ctime>
#include <string>

namespace receiptora {

inline std::tm local_now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  return local;
}

// A calendar time as "2026-12-07T20:04:05" (no zone).
inline std::string iso_timestamp(const std::tm& time) {
  char text[32];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &time);
  return std::string(text, n);
}

// The local time now as "2026-12-07T20:04:05".
inline std::string local_iso_timestamp() { return iso_timestamp(local_now()); }

}  // namespace receiptora
