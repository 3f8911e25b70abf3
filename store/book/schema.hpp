// The book's schema, internal to the store: the migrations that take a book from each
// version to the next (the suggestion counts' triggers among them). book.cpp runs them.
#pragma once

namespace receiptora::store::sql {

// Trigger steps the counts' migration uses more than once. An item counted once more (the
// upsert's ON CONFLICT clause): its last unit price is that of its latest receipt, by day and
// number of the day (as text, 收據-…-1000 would sort before 收據-…-999).
#define RECEIPTORA_LATER_RECEIPT                                            \
  "(SELECT day, seq FROM receipts WHERE number = excluded.last_number) >= " \
  "(SELECT day, seq FROM receipts WHERE number = item_uses.last_number)"
#define RECEIPTORA_ITEM_USED                                                                           \
  " ON CONFLICT(name) DO UPDATE SET uses = uses + 1, unit_price = CASE WHEN " RECEIPTORA_LATER_RECEIPT \
  " THEN excluded.unit_price ELSE unit_price END, last_day = max(last_day, excluded.last_day), "       \
  "last_number = CASE WHEN " RECEIPTORA_LATER_RECEIPT " THEN excluded.last_number ELSE last_number END;\n"
// The buyer and the items of the receipt NEW, issued now, counted.
#define RECEIPTORA_RECEIPT_USED                                                                              \
  "\n INSERT INTO buyer_uses(buyer, tax_id, uses, last_day) SELECT NEW.buyer, NEW.buyer_tax_id, 1, NEW.day " \
  "WHERE NEW.buyer <> '' ON CONFLICT(buyer, tax_id) DO UPDATE SET uses = uses + 1, "                         \
  "last_day = max(last_day, excluded.last_day);\n"                                                           \
  " INSERT INTO item_uses(name, uses, last_day, last_number, unit_price) SELECT name, 1, NEW.day, "          \
  "NEW.number, unit_price FROM items WHERE number = NEW.number AND name <> '' ORDER BY "                     \
  "line" RECEIPTORA_ITEM_USED

// Each entry takes the schema from its index to the next version. Append, never edit.
inline constexpr const char* kMigrations[] = {
    R"sql(
CREATE TABLE receipts(
  number TEXT PRIMARY KEY,
  day TEXT NOT NULL,
  seq INTEGER NOT NULL,
  state TEXT NOT NULL,
  buyer TEXT NOT NULL DEFAULT '',
  buyer_tax_id TEXT NOT NULL DEFAULT '',
  print_date INTEGER NOT NULL DEFAULT 1,
  exemption_stamp INTEGER NOT NULL DEFAULT 0,
  owner_seal INTEGER NOT NULL DEFAULT 0,
  layout TEXT NOT NULL DEFAULT 'general',
  created_at TEXT NOT NULL DEFAULT '',
  seller_name TEXT NOT NULL DEFAULT '',
  seller_tax_id TEXT NOT NULL DEFAULT '',
  seller_owner TEXT NOT NULL DEFAULT '',
  seller_address TEXT NOT NULL DEFAULT '',
  seller_phone TEXT NOT NULL DEFAULT '',
  seller_exemption_image TEXT NOT NULL DEFAULT '',
  seller_seal_image TEXT NOT NULL DEFAULT '',
  total TEXT NOT NULL DEFAULT '0',
  issued_at TEXT NOT NULL DEFAULT '',
  voided_at TEXT NOT NULL DEFAULT '',
  void_reason TEXT NOT NULL DEFAULT '',
  unfinished_reason TEXT NOT NULL DEFAULT '',
  batch_key TEXT,
  ledger_written INTEGER NOT NULL DEFAULT 0,
  owner TEXT NOT NULL DEFAULT '',
  UNIQUE(day, seq)
);
CREATE TABLE items(
  number TEXT NOT NULL,
  line INTEGER NOT NULL,
  name TEXT NOT NULL,
  quantity TEXT NOT NULL,
  unit_price TEXT NOT NULL,
  note TEXT NOT NULL DEFAULT '',
  PRIMARY KEY(number, line)
) WITHOUT ROWID;
CREATE TABLE files(
  number TEXT NOT NULL,
  name TEXT NOT NULL,
  sha256 TEXT NOT NULL,
  kind TEXT NOT NULL,
  UNIQUE(number, name)
);
CREATE TABLE settings(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;
CREATE INDEX receipts_by_day ON receipts(day, state, total);
CREATE INDEX receipts_pending ON receipts(state) WHERE state = 'pending';
CREATE INDEX receipts_unlisted ON receipts(ledger_written) WHERE ledger_written = 0;
CREATE INDEX receipts_by_batch_key ON receipts(batch_key) WHERE batch_key IS NOT NULL;
)sql",
    // The order's 收據 value kept with a batch receipt; a batch key belongs to one record only
    // (keys repeated by older versions' --again stay with the first record that has them).
    R"sql(
ALTER TABLE receipts ADD COLUMN order_label TEXT NOT NULL DEFAULT '';
UPDATE receipts SET batch_key = NULL WHERE batch_key IS NOT NULL AND rowid NOT IN
  (SELECT min(rowid) FROM receipts WHERE batch_key IS NOT NULL GROUP BY batch_key);
DROP INDEX receipts_by_batch_key;
CREATE UNIQUE INDEX receipts_by_batch_key ON receipts(batch_key) WHERE batch_key IS NOT NULL;
)sql",
    // The buyers and items of issued receipts, counted for the window's suggestions: how often,
    // how lately, and (for an item) the unit price it last had. Triggers keep the counts in the
    // transaction that changes a receipt, whichever code path that is (issuing, recovery, an
    // import, void); `hidden` is the operator's choice and outlives the counts. The migration
    // counts what the book already holds. A receipt's row is written before its items.
    R"sql(
CREATE TABLE buyer_uses(
  buyer TEXT NOT NULL,
  tax_id TEXT NOT NULL,
  uses INTEGER NOT NULL DEFAULT 0,
  last_day TEXT NOT NULL DEFAULT '',
  hidden INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY(buyer, tax_id)
) WITHOUT ROWID;
CREATE TABLE item_uses(
  name TEXT PRIMARY KEY,
  uses INTEGER NOT NULL DEFAULT 0,
  last_day TEXT NOT NULL DEFAULT '',
  last_number TEXT NOT NULL DEFAULT '',
  unit_price TEXT NOT NULL DEFAULT '',
  hidden INTEGER NOT NULL DEFAULT 0
) WITHOUT ROWID;
CREATE INDEX receipts_issued_by_buyer ON receipts(buyer, buyer_tax_id, day) WHERE state = 'issued';
CREATE INDEX items_by_name ON items(name, number);

INSERT INTO buyer_uses(buyer, tax_id, uses, last_day)
  SELECT buyer, buyer_tax_id, count(*), max(day) FROM receipts
  WHERE state = 'issued' AND buyer <> '' GROUP BY buyer, buyer_tax_id;
INSERT INTO item_uses(name, uses, last_day, last_number, unit_price)
  SELECT name, uses, day, number, unit_price FROM (
    SELECT i.name, count(*) AS uses, r.day, i.number, i.unit_price,
           max(i.number || ' ' || printf('%09d', i.line)) AS latest
    FROM items i JOIN receipts r ON r.number = i.number
    WHERE r.state = 'issued' AND i.name <> '' GROUP BY i.name);

CREATE TRIGGER receipt_issued_added AFTER INSERT ON receipts WHEN NEW.state = 'issued' BEGIN)sql" RECEIPTORA_RECEIPT_USED
    R"sql(END;
CREATE TRIGGER item_of_issued_added AFTER INSERT ON items
WHEN NEW.name <> '' AND (SELECT state FROM receipts WHERE number = NEW.number) = 'issued' BEGIN
  INSERT INTO item_uses(name, uses, last_day, last_number, unit_price)
    SELECT NEW.name, 1, day, NEW.number, NEW.unit_price FROM receipts WHERE number = NEW.number)sql" RECEIPTORA_ITEM_USED
    R"sql(END;
CREATE TRIGGER receipt_issued AFTER UPDATE OF state ON receipts
WHEN NEW.state = 'issued' AND OLD.state <> 'issued' BEGIN)sql" RECEIPTORA_RECEIPT_USED R"sql(END;
CREATE TRIGGER receipt_unissued AFTER UPDATE OF state ON receipts
WHEN OLD.state = 'issued' AND NEW.state <> 'issued' BEGIN
  UPDATE buyer_uses SET uses = uses - 1,
    last_day = CASE WHEN last_day <> OLD.day THEN last_day ELSE coalesce((SELECT max(day) FROM receipts
      WHERE buyer = OLD.buyer AND buyer_tax_id = OLD.buyer_tax_id AND state = 'issued'), '') END
  WHERE buyer = OLD.buyer AND tax_id = OLD.buyer_tax_id;
  UPDATE item_uses SET uses = uses - (SELECT count(*) FROM items WHERE number = OLD.number AND name = item_uses.name)
  WHERE name IN (SELECT name FROM items WHERE number = OLD.number);
  UPDATE item_uses SET (last_day, last_number, unit_price) = (
    SELECT r.day, r.number, i.unit_price FROM items i JOIN receipts r ON r.number = i.number
    WHERE i.name = item_uses.name AND r.state = 'issued' ORDER BY r.day DESC, r.seq DESC, i.line DESC LIMIT 1)
  WHERE last_number = OLD.number AND uses > 0 AND name IN (SELECT name FROM items WHERE number = OLD.number);
END;
)sql",
    // The batch run that issued a receipt (its result table's name stamp): what undoing a run
    // checks a result table against, and finds the run's receipts by when the table is gone.
    R"sql(
ALTER TABLE receipts ADD COLUMN run TEXT NOT NULL DEFAULT '';
CREATE INDEX receipts_by_run ON receipts(run) WHERE run <> '';
)sql",
    // Each receipt's signed code, its key's first fingerprint group and its place in the chain
    // of signatures (NULL until signed: the records of an older book are signed, in number
    // order, when the book first gets its key).
    R"sql(
ALTER TABLE receipts ADD COLUMN code TEXT NOT NULL DEFAULT '';
ALTER TABLE receipts ADD COLUMN key_id TEXT NOT NULL DEFAULT '';
ALTER TABLE receipts ADD COLUMN chain INTEGER;
CREATE UNIQUE INDEX receipts_by_chain ON receipts(chain) WHERE chain IS NOT NULL;
)sql",
    // A batch order's 收據 value found quickly: an order whose content changed since its
    // receipt was issued is held, which every claim of a batch asks the book.
    R"sql(
CREATE INDEX receipts_by_order ON receipts(order_label) WHERE order_label <> '';
)sql",
};
#undef RECEIPTORA_ITEM_USED
#undef RECEIPTORA_LATER_RECEIPT
#undef RECEIPTORA_RECEIPT_USED

}  // namespace receiptora::store::sql
