#include "receiptora/store/ledger.hpp"

#include <cerrno>
#include <system_error>
#include <utility>

#include "platform.hpp"

namespace receiptora::store {

namespace {

std::string field(std::string_view text, bool typed) {
  std::string out;
  if (typed && !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
    out.push_back('\'');
  out.append(text);
  if (out.find_first_of(",\"\r\n") == std::string::npos) return out;
  std::string quoted(1, '"');
  for (char c : out) {
    if (c == '"') quoted.push_back('"');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

[[noreturn]] void fail(int error, const fs::path& file) {
  throw std::system_error(error, std::generic_category(), "cannot add to the ledger " + file.string());
}

// Writes `bytes` at the end in one call; on a short or failed write the file is cut back to
// `size`, so no partial line stays behind.
void write_whole(const platform::File& out, std::string_view bytes, std::uint64_t size,
                 const fs::path& file) {
  if (platform::write_once(out, bytes)) return;
  const int error = errno;
  platform::truncate(out, size);
  fail(error, file);
}

}  // namespace

std::string ledger_header() {
  return "\xEF\xBB\xBF收據號碼,日期,買受人,買受人統一編號,品項數,總額,檔案,版本\r\n";
}

std::string ledger_line(const LedgerLine& line) {
  std::string text;
  for (const auto& [value, typed] : {std::pair<std::string_view, bool>{line.number, false},
                                     {line.date, false},
                                     {line.buyer, true},
                                     {line.buyer_tax_id, true}}) {
    text += field(value, typed);
    text += ',';
  }
  text += std::to_string(line.item_count);
  for (std::string_view value :
       {std::string_view(line.total), std::string_view(line.files), std::string_view(line.layout)}) {
    text += ',';
    text += field(value, false);
  }
  text += "\r\n";
  return text;
}

void append_ledger(const fs::path& file, const LedgerLine& line, std::chrono::milliseconds lock_limit) {
  append_ledger(file, std::vector<LedgerLine>{line}, lock_limit);
}

void append_ledger(const fs::path& file, const std::vector<LedgerLine>& lines,
                   std::chrono::milliseconds lock_limit) {
  std::string text;
  for (const LedgerLine& line : lines) text += ledger_line(line);
  platform::File out = platform::open_regular(file, platform::Access::AppendCreate, "the ledger");
  platform::lock_exclusive(out, file, lock_limit);
  std::uint64_t size = platform::size_of(out, file);
  if (size == 0) {
    text.insert(0, ledger_header());
  } else if (platform::last_byte(out, size, file) != '\n') {
    // A last line cut short (a crash, an editor that drops the final line break): ended
    // first, so the new line is never glued onto it.
    text.insert(0, "\r\n");
  }
  write_whole(out, text, size, file);
  platform::flush_data(out, file);
  out.close(file);  // also releases the lock
}

}  // namespace receiptora::store
