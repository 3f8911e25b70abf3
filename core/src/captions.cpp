#include "receiptora/captions.hpp"

namespace receiptora {

std::string next_busy_caption(std::string_view current) {
  if (current == "輸出中.") return "輸出中..";
  if (current == "輸出中..") return "輸出中...";
  return "輸出中.";
}

std::string day_key(long year, long month, long day) {
  return day_key(std::to_string(year), std::to_string(month), std::to_string(day));
}

std::string day_key(std::string_view year, std::string_view month, std::string_view day) {
  std::string key;
  key.reserve(year.size() + month.size() + day.size() + 2);
  key.append(year).append("-").append(month).append("-").append(day);
  return key;
}

}  // namespace receiptora
