// The book's reads: records by number, state, run or all; file names; batch keys held;
// settings; the month's list, the summary of a span of days and the monthly totals.
#include <gmpxx.h>
#include <sqlite3.h>

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "book_sql.hpp"
#include "receiptora/store/book.hpp"

namespace receiptora::store {

using sql::Statement;

namespace {

std::vector<Record> select_records(const Book& book, const std::string& where,
                                   const std::string& bound = {}) {
  std::lock_guard lock(book.mutex());
  Statement rows(book.db(),
                 "SELECT " + sql::record_columns(book) + " FROM receipts " + where + " ORDER BY day, seq");
  if (!bound.empty()) rows.bind(1, bound);
  std::vector<Record> out;
  while (rows.step()) out.push_back(sql::read_record(book.db(), rows));
  return out;
}

}  // namespace

std::optional<Record> find_receipt(const Book& book, const std::string& number) {
  auto found = select_records(book, "WHERE number = ?", number);
  if (found.empty()) return std::nullopt;
  return std::move(found.front());
}

std::vector<Record> records_in_state(const Book& book, State state) {
  return select_records(book, "WHERE state = ?", std::string(state_name(state)));
}

std::vector<Record> records_without_ledger_line(const Book& book) {
  return select_records(book, "WHERE ledger_written = 0 AND state != 'pending'");
}

std::vector<std::string> record_numbers(const Book& book) {
  std::lock_guard lock(book.mutex());
  Statement rows(book.db(), "SELECT number FROM receipts");
  std::vector<std::string> out;
  while (rows.step()) out.push_back(rows.text(0));
  return out;
}

std::vector<Record> all_records(const Book& book) { return select_records(book, ""); }

std::vector<Record> records_of_run(const Book& book, const std::string& run) {
  if (book.version() < 4 || run.empty()) return {};
  return select_records(book, "WHERE run = ?", run);
}

std::vector<std::string> recorded_file_names(const Book& book) {
  std::lock_guard lock(book.mutex());
  Statement rows(book.db(), "SELECT name FROM files");
  std::vector<std::string> out;
  while (rows.step()) out.push_back(rows.text(0));
  return out;
}

std::vector<KeyHolder> claimed_batch_keys(const Book& book, const std::vector<std::string>& keys) {
  std::lock_guard lock(book.mutex());
  Statement query(book.db(),
                  "SELECT number, state FROM receipts WHERE batch_key = ? AND state != 'unfinished'");
  std::vector<KeyHolder> out;
  for (const std::string& key : keys) {
    query.bind(1, key);
    if (query.step())
      out.push_back({key, query.text(0), sql::row_state(book.db(), query.view(0), query.view(1))});
    query.reset();
  }
  return out;
}

std::optional<std::string> book_setting(const Book& book, const std::string& key) {
  std::lock_guard lock(book.mutex());
  Statement query(book.db(), "SELECT value FROM settings WHERE key = ?");
  query.bind(1, key);
  if (!query.step()) return std::nullopt;
  return query.text(0);
}

std::vector<ListRow> list_receipts(const Book& book, const std::string& month, const std::string& search) {
  const std::string order = book.version() >= 2 ? "order_label" : "''";
  std::string sql =
      "SELECT number, day, buyer, buyer_tax_id, total, state, " + order + " FROM receipts WHERE 1";
  const int month_at = month.empty() ? 0 : 1;
  const int search_at = search.empty() ? 0 : month_at ? 3 : 1;
  if (month_at) sql += " AND day BETWEEN ?1 AND ?2";
  if (search_at) {
    const std::string p = "?" + std::to_string(search_at);
    sql += " AND (instr(number, " + p + ") OR instr(buyer, " + p + ") OR instr(buyer_tax_id, " + p +
           ") OR instr(" + order + ", " + p + "))";
  }
  sql += " ORDER BY day, seq";
  std::lock_guard lock(book.mutex());
  Statement rows(book.db(), sql);
  if (month_at) rows.bind(month_at, month + "-00").bind(month_at + 1, month + "-99");
  if (search_at) rows.bind(search_at, search);
  std::vector<ListRow> out;
  std::unordered_map<std::string, size_t> at;
  while (rows.step()) {
    at.emplace(rows.text(0), out.size());
    out.push_back({rows.text(0),
                   rows.text(1),
                   rows.text(2),
                   rows.text(3),
                   rows.text(4),
                   sql::row_state(book.db(), rows.view(0), rows.view(5)),
                   {},
                   rows.text(6)});
  }
  if (out.empty()) return out;
  // The files of the month's numbers ("收據-YYYYMM…") in one range scan, in the order added.
  std::string files_sql = "SELECT number, name FROM files";
  if (month_at) files_sql += " WHERE number BETWEEN ?1 AND ?2";
  Statement files(book.db(), files_sql + " ORDER BY rowid");
  if (month_at) {
    const std::string digits = month.substr(0, 4) + month.substr(month.size() >= 7 ? 5 : 4);
    files.bind(1, "收據-" + digits).bind(2, "收據-" + digits + "\xff");
  }
  while (files.step()) {
    const auto found = at.find(files.text(0));
    if (found != at.end()) out[found->second].files.push_back(files.text(1));
  }
  return out;
}

namespace {

// The days [first, last] a sum reads, through the index of days that holds no number: the
// number of a receipt whose `column` holds `value` is looked up only when a row cannot be read.
struct SummedDays {
  const Book& book;
  std::string first, last;

  std::string number_where(const char* column, std::string_view value) const {
    Statement number(book.db(), std::string("SELECT number FROM receipts WHERE day BETWEEN ? AND ? AND ") +
                                    column + " = ? ORDER BY day, seq LIMIT 1");
    number.bind(1, first).bind(2, last).bind(3, value);
    return number.step() ? number.text(0) : "（" + first + " 至 " + last + "）";
  }
  State state(std::string_view name) const {
    if (const std::optional<State> known = state_from_name(name)) return *known;
    return sql::row_state(book.db(), number_where("state", name), name);
  }
  // Into `amount`, reused from row to row (no allocation per receipt).
  void total(std::string_view text, mpz_class& amount) const {
    if (!text.empty() && amount.set_str(std::string(text), 10) == 0) return;
    amount = sql::row_total(book.db(), number_where("total", text), text);
  }
};

}  // namespace

Summary summarize(const Book& book, const std::string& first_day, const std::string& last_day) {
  std::lock_guard lock(book.mutex());
  // Every state of the days read, so a state no build knows is seen; the index holds the rows.
  Statement rows(book.db(),
                 "SELECT day, state, total FROM receipts INDEXED BY receipts_by_day WHERE day BETWEEN ? AND "
                 "? ORDER BY day");
  rows.bind(1, first_day).bind(2, last_day);
  const SummedDays days{book, first_day, last_day};
  Summary summary;
  mpz_class total = 0, day_total = 0, amount;
  DayTotal* day = nullptr;
  while (rows.step()) {
    const State state = days.state(rows.view(1));
    if (state == State::Void) ++summary.voided;
    if (state != State::Issued) continue;
    std::string date = rows.text(0);
    if (!day || day->date != date) {
      if (day) day->total = day_total.get_str();
      summary.days.push_back({std::move(date), 0, "0"});
      day = &summary.days.back();
      day_total = 0;
    }
    days.total(rows.view(2), amount);
    ++day->receipts;
    ++summary.receipts;
    day_total += amount;
    total += amount;
  }
  if (day) day->total = day_total.get_str();
  summary.total = total.get_str();
  return summary;
}

std::vector<MonthTotal> monthly_totals(const Book& book, const std::string& first_month, int count) {
  int year, month;
  if (first_month.size() != 7 || std::sscanf(first_month.c_str(), "%4d-%2d", &year, &month) != 2 ||
      month < 1 || month > 12)
    throw std::invalid_argument("月份不是 YYYY-MM：" + first_month);
  std::vector<MonthTotal> out;
  mpz_class amount;
  std::lock_guard lock(book.mutex());
  // The issued receipts alone (a state no build writes is found by the summary and the list).
  Statement rows(book.db(),
                 "SELECT total FROM receipts INDEXED BY receipts_by_day WHERE day BETWEEN ? AND ? AND "
                 "state = 'issued'");
  for (int i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%04d-%02d", year, month);
    rows.bind(1, std::string(name) + "-00").bind(2, std::string(name) + "-99");
    MonthTotal entry{name, 0, "0"};
    const SummedDays days{book, std::string(name) + "-00", std::string(name) + "-99"};
    mpz_class total = 0;
    while (rows.step()) {
      days.total(rows.view(0), amount);
      total += amount;
      ++entry.receipts;
    }
    rows.reset();
    entry.total = total.get_str();
    out.push_back(std::move(entry));
    if (++month > 12) month = 1, ++year;
  }
  return out;
}

}  // namespace receiptora::store
