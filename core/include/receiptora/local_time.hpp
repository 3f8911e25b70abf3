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

// A calendar time's zone as "+08:00" ("Z" when the system gives none).
inline std::string iso_zone(const std::tm& time) {
  char text[8];
  const std::string zone(text, std::strftime(text, sizeof text, "%z", &time));
  return zone.size() == 5 ? zone.substr(0, 3) + ":" + zone.substr(3) : "Z";
}

// The local time now with its zone, as "2026-12-07T20:04:05+08:00".
inline std::string local_iso_timestamp_with_zone() {
  const std::tm now = local_now();
  return iso_timestamp(now) + iso_zone(now);
}

}  // namespace receiptora
