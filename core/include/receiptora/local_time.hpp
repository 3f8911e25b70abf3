// The local calendar time now, on every platform.
#pragma once

#include <ctime>

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

}  // namespace receiptora
