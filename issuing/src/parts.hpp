// What the parts of issuing share: the journal (journal.cpp), recovery (recovery.cpp), the
// import of an older output folder (import.cpp) and the copies (copies.cpp).
#pragma once

#include <exception>
#include <filesystem>
#include <string>

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
// its -wal) does not know. No number of theirs is issued again. Returns how many.
std::size_t import_folder(store::Book& book, bool first_time);

}  // namespace receiptora::issuing::parts
