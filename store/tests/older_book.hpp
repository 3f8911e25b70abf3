// SQL that takes a current book back to the schema before the suggestion counts, the runs and the signatures
// (version 2), for the tests of older books.
#pragma once

namespace receiptora::store {

inline constexpr char kBackBeforeCounts[] =
    "DROP INDEX receipts_by_order; "
    "DROP INDEX receipts_by_chain; ALTER TABLE receipts DROP COLUMN code; ALTER TABLE receipts DROP COLUMN "
    "key_id; "
    "ALTER TABLE receipts DROP COLUMN chain; DROP INDEX receipts_by_run; ALTER TABLE receipts DROP COLUMN "
    "run; DROP TABLE buyer_uses; DROP TABLE "
    "item_uses; DROP INDEX receipts_issued_by_buyer; DROP INDEX "
    "items_by_name; "
    "DROP TRIGGER receipt_issued_added; DROP TRIGGER item_of_issued_added; DROP TRIGGER receipt_issued; "
    "DROP TRIGGER receipt_unissued; PRAGMA user_version=2;";

}  // namespace receiptora::store
