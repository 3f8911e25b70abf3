// A PDF's text as pdftotext reads it, for the tests that check a written PDF by its content.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

inline std::string pdf_text(const std::filesystem::path& pdf) {
  std::string out;
  FILE* pipe = popen(("pdftotext -raw '" + pdf.string() + "' -").c_str(), "r");
  char buffer[4096];
  for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  if (pipe) pclose(pipe);
  return out;
}
