#include "receiptora/store/sales.hpp"

#include <mutex>

#include "book_sql.hpp"

namespace receiptora::store {

void for_each_issued(const Book& book, const std::string& first_day, const std::string& last_day,
                     const std::function<void(const SoldReceipt&)>& each) {
  std::lock_guard lock(book.mutex());
  sql::Statement rows(
      book.db(),
      "SELECT number, day, buyer, buyer_tax_id, total FROM receipts INDEXED BY receipts_by_day "
      "WHERE day BETWEEN ? AND ? AND state = 'issued'");
  rows.bind(1, first_day).bind(2, last_day);
  while (rows.step()) each({rows.view(0), rows.view(1), rows.view(2), rows.view(3), rows.view(4)});
}

void for_each_issued_item(const Book& book, const std::string& first_day, const std::string& last_day,
                          const std::function<void(const SoldItem&)>& each) {
  std::lock_guard lock(book.mutex());
  // The receipts by day, each joined to its lines by the items' key: a receipt's lines are read
  // together.
  sql::Statement rows(
      book.db(),
      "SELECT r.number, r.day, i.name, i.quantity, i.unit_price "
      "FROM receipts AS r INDEXED BY receipts_by_day CROSS JOIN items AS i ON i.number = r.number "
      "WHERE r.day BETWEEN ? AND ? AND r.state = 'issued'");
  rows.bind(1, first_day).bind(2, last_day);
  while (rows.step()) each({rows.view(0), rows.view(1), rows.view(2), rows.view(3), rows.view(4)});
}

}  // namespace receiptora::store
