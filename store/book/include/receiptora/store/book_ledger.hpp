// The ledger's one writer. Every write of 收據清冊.csv happens inside one write transaction of
// the book: that transaction is the lock all writers of the ledger take (issuing, void,
// recovery, the rebuild, in any process and thread), and the records are noted as listed in
// the same transaction that writes their lines. So the ledger holds each record's lines
// exactly once whatever runs at the same time; a kill between the write and the commit
// leaves lines that recovery finds in the file and only notes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "receiptora/store/book.hpp"

namespace receiptora::store {

struct LedgerWrite {
  std::size_t lines = 0;  // lines appended
  std::string problem;    // empty, or why the lines are not (all) out; the book still says so
};

// Appends the lines of those of `numbers` whose line is not out yet (issued, void or
// unfinished records; a void record's line is its 作廢 line).
LedgerWrite write_ledger_lines(Book& book, const std::vector<std::string>& numbers);

// The journal's last step for receipts whose files are in place: marks them issued with
// their files and the time, and appends their ledger lines, all in one transaction (one
// flush of the book). Throws when the book cannot record them; a ledger that cannot be
// written is no failure but reported in `problem` (the records stay marked unlisted).
struct IssuedFiles {
  std::string number;
  std::vector<BookFile> files;
};
LedgerWrite mark_issued_and_list(Book& book, const std::vector<IssuedFiles>& issued,
                                 const std::string& issued_at);

// Recovery: every record without its lines gets them, except lines the ledger already holds
// (written before a kill kept the book from noting them); a void record whose 已開立 line is
// missing gets it before its 作廢 line.
LedgerWrite write_missing_ledger_lines(Book& book);

// The ledger as the book's records make it, header first (the caller holds the book's lock or
// owns the book alone); the numbers listed and the lines counted when asked.
std::string ledger_text(const Book& book, std::vector<std::string>* listed = nullptr,
                        std::size_t* count = nullptr);

// Writes the ledger again from the book, replacing the old one in one rename. Throws
// std::system_error or BookError.
struct LedgerRebuild {
  std::size_t lines = 0;
  bool was_older = false;  // the old ledger's 作廢 lines kept their amount positive (ledger_is_older)
};
LedgerRebuild rebuild_ledger_file(Book& book);

}  // namespace receiptora::store
