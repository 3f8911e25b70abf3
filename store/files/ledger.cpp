#include "receiptora/store/ledger.hpp"

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <utility>

#include "platform.hpp"
#include "receiptora/spreadsheet_cells.hpp"

namespace receiptora::store {

namespace {

// How a cell's text is written.
enum class Cell {
  Plain,   // our own text: written as it is
  Typed,   // typed by someone: a formula start is disarmed, a text of digits kept as text
  Date,    // kept as text, not turned into the spreadsheet's date format
  Amount,  // a number, unless it has more digits than a spreadsheet keeps exactly
};

bool all_digits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string csv_quoted(std::string_view text) {
  std::string out(1, '"');
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string field(std::string_view text, Cell kind) {
  const std::string_view digits = text.substr(!text.empty() && text.front() == '-' ? 1 : 0);
  const bool keep_as_text = (kind == Cell::Typed && all_digits(text)) ||
                            (kind == Cell::Date && !text.empty()) ||
                            (kind == Cell::Amount && all_digits(digits) && digits.size() > kExactDigits);
  if (keep_as_text) {  // the cell ="04595257" shows 04595257
    std::string formula(1, '=');
    formula += csv_quoted(text);
    return csv_quoted(formula);
  }
  std::string out = kind == Cell::Typed ? disarmed_cell(text) : std::string(text);
  if (out.find_first_of(",\"\r\n") == std::string::npos) return out;
  return csv_quoted(out);
}

[[noreturn]] void fail(int error, const fs::path& file) {
  throw std::system_error(error, std::generic_category(), "無法寫入收據清冊 " + file.string());
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

std::vector<std::string> csv_fields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

}  // namespace

namespace {

// The ledger's text from `from` bytes before its end (0: the whole file); empty when there is
// no ledger file or it cannot be read.
std::string ledger_bytes(const fs::path& file, std::uint64_t from_end) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return {};
  std::FILE* f = std::fopen(file.c_str(), "rb");
  std::string out;
  if (!f) return out;
  if (from_end > 0 && std::fseek(f, -static_cast<long>(from_end), SEEK_END) != 0) std::rewind(f);
  const bool cut = from_end > 0 && std::ftell(f) > 0;
  try {
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out.append(buffer, n);
  } catch (...) {
    std::fclose(f);
    return {};
  }
  std::fclose(f);
  if (cut) out.erase(0, out.find('\n') == std::string::npos ? out.size() : out.find('\n') + 1);
  return out;
}

std::vector<std::vector<std::string>> ledger_rows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::string line;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == '\n' || c == '\r')) {
      if (!line.empty()) rows.push_back(csv_fields(line));
      line.clear();
      continue;
    }
    line += c;
  }
  if (!line.empty()) rows.push_back(csv_fields(line));
  for (auto& row : rows)
    for (auto& cell : row) cell = ledger_cell_text(cell);  // ="0459…" cells as their text
  return rows;
}

}  // namespace

std::vector<std::vector<std::string>> read_ledger(const fs::path& file) {
  return ledger_rows(ledger_bytes(file, 0));
}

std::vector<std::vector<std::string>> read_ledger_tail(const fs::path& file, std::uint64_t bytes) {
  return ledger_rows(ledger_bytes(file, bytes));
}

bool ledger_is_older(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return false;
  std::FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) return false;
  char buffer[512];  // the header line is shorter
  const std::string head(buffer, std::fread(buffer, 1, sizeof buffer, f));
  std::fclose(f);
  const size_t end = head.find_first_of("\r\n");
  if (head.empty() || end == std::string::npos) return false;
  return head.substr(0, end).find("作廢原因") == std::string::npos;
}

std::string ledger_header() {
  return "\xEF\xBB\xBF收據號碼,日期,買受人,買受人統一編號,品項數,總額,檔案,版本,狀態,作廢原因\r\n";
}

std::string ledger_line(const LedgerLine& line) {
  std::string text;
  for (const auto& [value, kind] : {std::pair<std::string_view, Cell>{line.number, Cell::Plain},
                                    {line.date, Cell::Date},
                                    {line.buyer, Cell::Typed},
                                    {line.buyer_tax_id, Cell::Typed}}) {
    text += field(value, kind);
    text += ',';
  }
  text += std::to_string(line.item_count);
  for (const auto& [value, kind] : {std::pair<std::string_view, Cell>{line.total, Cell::Amount},
                                    {line.files, Cell::Plain},
                                    {line.layout, Cell::Plain}}) {
    text += ',';
    text += field(value, kind);
  }
  if (!line.state.empty()) {
    text += ',';
    text += field(line.state, Cell::Plain);
    text += ',';
    text += field(line.reason, Cell::Typed);
  }
  text += "\r\n";
  return text;
}

std::vector<std::string> ledger_cells(const LedgerLine& line) {
  std::string text = ledger_line(line);
  text.resize(text.size() - 2);  // CRLF
  std::vector<std::string> cells = csv_fields(text);
  for (auto& cell : cells) cell = ledger_cell_text(cell);
  return cells;
}

std::string ledger_cell_text(std::string_view cell) {
  if (cell.size() >= 3 && cell.substr(0, 2) == "=\"" && cell.back() == '"') {
    std::string text;
    const std::string_view inner = cell.substr(2, cell.size() - 3);
    for (size_t i = 0; i < inner.size(); ++i) {
      text.push_back(inner[i]);
      if (inner[i] == '"' && i + 1 < inner.size() && inner[i + 1] == '"') ++i;
    }
    return text;
  }
  return std::string(cell);
}

void append_ledger(const fs::path& file, const LedgerLine& line, std::chrono::milliseconds lock_limit) {
  append_ledger(file, std::vector<LedgerLine>{line}, lock_limit);
}

void append_ledger(const fs::path& file, const std::vector<LedgerLine>& lines,
                   std::chrono::milliseconds lock_limit) {
  std::string text;
  for (const LedgerLine& line : lines) text += ledger_line(line);
  platform::File out = platform::open_regular(file, platform::Access::AppendCreate, "收據清冊");
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
