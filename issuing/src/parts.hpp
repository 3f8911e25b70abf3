// What the parts of issuing share: the journal (journal.cpp), recovery (recovery.cpp), the
// import of an older output folder (import.cpp) and the copies (copies.cpp).
#pragma once

#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "receiptora/issuing/issue.hpp"
#include "receiptora/store/book.hpp"

namespace receiptora::issuing::parts {

// The name tail of page `page` (from 1) of a receipt's pictures: "" for the first,
// "-第2頁" and on for the others.
inline std::string page_tail(size_t page) { return page <= 1 ? "" : "-第" + std::to_string(page) + "頁"; }

namespace fs = std::filesystem;

inline std::string month_of(const store::Record& record) { return record.date.substr(0, 7); }

// The name of a receipt's file (and of its copies: "-作廢", "-補印-2") relative to the root.
inline std::string file_name(const store::Record& record, const std::string& suffix, const char* extension) {
  return month_of(record) + "/" + record.number + suffix + extension;
}

// errno of a std::system_error, else 0.
int error_code(const std::exception& error);

// The month folder of a record, made when missing; refused when it (or the root's entry
// for it) is a symbolic link, so no receipt is ever written into another folder.
fs::path real_month_folder(const fs::path& root, const store::Record& record);

// Imports into the book every receipt the output folder holds that the book has no record
// of: the first time, an output folder made before the book (ledger lines, files, .claimed
// markers); at every start, files a stale book (a restored copy, a folder copied without
// its -wal) does not know, with their copies (a 作廢 copy makes the receipt void), also the
// copies of known receipts the book does not name, and numbers of the ledger's newest lines the
// book lacks. No number of theirs is issued again. Returns how many records were added; what
// the shop owner should know goes to `notes`.
std::size_t import_folder(store::Book& book, bool first_time, std::vector<std::string>& notes);

}  // namespace receiptora::issuing::parts
