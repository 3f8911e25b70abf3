// A case table shared with the Python tests: core/tests/cases/<name>.json, an array of cases,
// read by the GoogleTest here and by pytest, so both layers check a rule against the same rows.
#pragma once

#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

namespace receiptora {

inline nlohmann::json case_table(const std::string& name) {
  std::ifstream file(std::string(RECEIPTORA_CASE_TABLES) + "/" + name + ".json");
  if (!file) throw std::runtime_error("no case table " + name);
  return nlohmann::json::parse(file);
}

}  // namespace receiptora
