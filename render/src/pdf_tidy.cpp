#include "pdf_tidy.hpp"

#include <cctype>
#include <set>
#include <string_view>

namespace receiptora::render::detail {

namespace {

// `   /CreationDate (20261207140300+08'00)`: the indentation gives room for "D:" and the
// closing apostrophe of the zone.
void fix_date(std::string& pdf, std::string_view key) {
  const std::string indented = "\n   " + std::string(key) + " (";
  const size_t at = pdf.find(indented);
  if (at == std::string::npos) return;
  const size_t value = at + indented.size();
  const size_t close = pdf.find(')', value);
  if (close == std::string::npos || value + 14 > close ||
      !std::isdigit(static_cast<unsigned char>(pdf[value])))
    return;
  std::string date = pdf.substr(value, close - value);
  std::string fixed = "D:" + date;
  if (date.size() == 20 && date[17] == '\'') fixed += '\'';  // +08'00 → +08'00'
  const size_t spare = 3;                                    // the indentation
  if (fixed.size() - date.size() > spare) return;
  std::string line = std::string(key) + " (" + fixed + ")";
  line.insert(0, spare - (fixed.size() - date.size()), ' ');
  pdf.replace(at + 1, line.size(), line);
}

// `/XObject << /x8 8 0 R /x11 11 0 R /x11 11 0 R >>`: a name given again is blanked out.
void drop_repeated_names(std::string& pdf) {
  constexpr std::string_view kOpen = "/XObject << ";
  for (size_t at = pdf.find(kOpen); at != std::string::npos; at = pdf.find(kOpen, at + 1)) {
    const size_t end = pdf.find(">>", at + kOpen.size());
    if (end == std::string::npos) return;
    std::set<std::string> seen;
    for (size_t entry = pdf.find('/', at + kOpen.size()); entry != std::string::npos && entry < end;) {
      const size_t next = pdf.find('/', entry + 1);
      const size_t stop = next == std::string::npos || next > end ? end : next;
      const std::string name = pdf.substr(entry, pdf.find(' ', entry) - entry);
      if (!seen.insert(name).second) pdf.replace(entry, stop - entry, stop - entry, ' ');
      entry = next;
    }
  }
}

}  // namespace

void tidy_pdf(std::string& pdf) {
  fix_date(pdf, "/CreationDate");
  fix_date(pdf, "/ModDate");
  drop_repeated_names(pdf);
}

}  // namespace receiptora::render::detail
