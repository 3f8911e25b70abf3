#include "receiptora/store/book_ledger.hpp"

#include <set>
#include <utility>

#include "book_sql.hpp"
#include "receiptora/store/file_error.hpp"
#include "receiptora/store/files.hpp"
#include "receiptora/store/ledger.hpp"

namespace receiptora::store {

namespace {

fs::path ledger_of(const Book& book) { return book.folder() / std::string(kLedgerName); }

std::vector<Record> unlisted(const Book& book, const std::vector<std::string>* numbers) {
  sql::Statement rows(book.db(), "SELECT " + sql::record_columns(book) +
                                     " FROM receipts WHERE ledger_written = 0 AND state != 'pending'" +
                                     (numbers ? " AND number = ?" : " ORDER BY day, seq"));
  std::vector<Record> out;
  if (!numbers) {
    while (rows.step()) out.push_back(sql::read_record(book.db(), rows));
    return out;
  }
  for (const std::string& number : *numbers) {
    rows.bind(1, number);
    if (rows.step()) out.push_back(sql::read_record(book.db(), rows));
    rows.reset();
  }
  return out;
}

void note_listed(const Book& book, const std::vector<std::string>& numbers) {
  sql::Statement update(book.db(), "UPDATE receipts SET ledger_written = 1 WHERE number = ?");
  for (const std::string& number : numbers) update.bind(1, number).run();
}

// Appends `lines`, notes `numbers` and commits; the transaction is the ledger's lock.
LedgerWrite append_and_note(const Book& book, sql::Transaction& transaction,
                            const std::vector<LedgerLine>& lines, const std::vector<std::string>& numbers) {
  LedgerWrite result;
  if (!lines.empty()) {
    try {
      append_ledger(ledger_of(book), lines);
    } catch (const std::exception& error) {
      result.problem = error.what();
      return result;  // rolled back: nothing noted, the lines are written by the next start
    }
    result.lines = lines.size();
  }
  try {
    note_listed(book, numbers);
    transaction.commit();
  } catch (const std::exception& error) {
    // The lines are out; the next start finds them in the file and notes them.
    result.problem = error.what();
  }
  return result;
}

}  // namespace

LedgerWrite write_ledger_lines(Book& book, const std::vector<std::string>& numbers) {
  if (numbers.empty()) return {};
  std::lock_guard lock(book.mutex());
  sql::Transaction transaction(book);
  std::vector<LedgerLine> lines;
  std::vector<std::string> listed;
  for (const Record& record : unlisted(book, &numbers)) {
    lines.push_back(ledger_line_of(record));
    listed.push_back(record.number);
  }
  if (listed.empty()) return {};
  return append_and_note(book, transaction, lines, listed);
}

LedgerWrite mark_issued_and_list(Book& book, const std::vector<IssuedFiles>& issued,
                                 const std::string& issued_at) {
  if (issued.empty()) return {};
  std::lock_guard lock(book.mutex());
  sql::Transaction transaction(book);
  sql::Statement update(book.db(), "UPDATE receipts SET state = 'issued', issued_at = ? WHERE number = ?");
  sql::FileRows file(book.db());
  std::vector<std::string> numbers;
  for (const IssuedFiles& receipt : issued) {
    update.bind(1, issued_at).bind(2, receipt.number).run();
    file.add(receipt.number, receipt.files);
    numbers.push_back(receipt.number);
  }
  std::vector<LedgerLine> lines;
  for (const Record& record : unlisted(book, &numbers)) lines.push_back(ledger_line_of(record));
  LedgerWrite result;
  try {
    append_ledger(ledger_of(book), lines);
    result.lines = lines.size();
    note_listed(book, numbers);
  } catch (const std::exception& error) {
    result.problem = error.what();  // issued all the same; the next start writes the lines
  }
  transaction.commit();
  return result;
}

LedgerWrite write_missing_ledger_lines(Book& book) {
  std::lock_guard lock(book.mutex());
  {  // most starts find nothing to write, and then take no lock (a locked book waits once, in the claim)
    sql::Statement any(book.db(),
                       "SELECT 1 FROM receipts WHERE ledger_written = 0 AND state != 'pending' LIMIT 1");
    if (!any.step()) return {};
  }
  sql::Transaction transaction(book);
  const std::vector<Record> missing = unlisted(book, nullptr);
  if (missing.empty()) return {};
  std::set<std::pair<std::string, std::string>> present;  // number, state
  for (const auto& row : read_ledger(ledger_of(book)))
    if (!row.empty())
      present.insert({row[0], row.size() > 8 ? row[8] : std::string(state_label(State::Issued))});
  std::vector<LedgerLine> lines;
  std::vector<std::string> listed;
  for (const Record& record : missing) {
    std::vector<Record> wanted;
    if (record.state == State::Void) {  // its 已開立 line first, then the 作廢 one
      Record original = record;
      original.state = State::Issued;
      wanted.push_back(std::move(original));
    }
    wanted.push_back(record);
    for (const Record& line : wanted)
      if (!present.count({line.number, std::string(state_label(line.state))}))
        lines.push_back(ledger_line_of(line));
    listed.push_back(record.number);
  }
  return append_and_note(book, transaction, lines, listed);
}

std::string ledger_text(const Book& book, std::vector<std::string>* listed, std::size_t* count) {
  std::string text = ledger_header();
  sql::Statement rows(book.db(), "SELECT " + sql::record_columns(book) +
                                     " FROM receipts WHERE state != 'pending' ORDER BY day, seq");
  while (rows.step()) {
    const Record record = sql::read_record(book.db(), rows);
    if (record.state == State::Void) {
      Record original = record;
      original.state = State::Issued;
      text += ledger_line(ledger_line_of(original));
      if (count) ++*count;
    }
    text += ledger_line(ledger_line_of(record));
    if (count) ++*count;
    if (listed) listed->push_back(record.number);
  }
  return text;
}

LedgerRebuild rebuild_ledger_file(Book& book) {
  std::lock_guard lock(book.mutex());
  sql::Transaction transaction(book);
  std::vector<std::string> listed;
  LedgerRebuild result;
  const std::string text = ledger_text(book, &listed, &result.lines);
  const fs::path file = ledger_of(book);
  result.was_older = ledger_is_older(file);
  const StagedFile staged = stage_file(file, text, true);
  std::error_code ec;
  fs::rename(staged.temp, staged.target, ec);  // replaces the old ledger in one step
  if (ec) {
    discard_file(staged);
    throw FileError(ec.value(), "收據清冊 " + file.string() + " 無法換成重建的內容");
  }
  sync_folder(book.folder());
  note_listed(book, listed);
  transaction.commit();
  return result;
}

}  // namespace receiptora::store
