// The names of the files the store keeps in a shop's output folder.
#pragma once

#include <string_view>

namespace receiptora::store {

inline constexpr std::string_view kBookName = "收據簿.sqlite3";    // the receipt book
inline constexpr std::string_view kLedgerName = "收據清冊.csv";    // the ledger
inline constexpr std::string_view kProfileName = "賣方資料.toml";  // the seller profile

}  // namespace receiptora::store
