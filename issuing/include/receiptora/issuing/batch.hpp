// Issuing many receipts at once (the batch command) on several threads. Each receipt takes
// its number only when its rendering starts, so a kill leaves at most one receipt per thread
// under way, and those are finished by the next start's recovery. The saving runs on the
// calling thread in the input's order, flushing whatever is ready with one syncfs per round.
#pragma once

#include <cstddef>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "receiptora/receipt.hpp"
#include "receiptora/store/numbering.hpp"

namespace receiptora::issuing {

struct BatchJob {
  Receipt receipt;  // the seller is filled in from the folder's profile
  std::filesystem::path root;
  store::Day day;
  std::string key;  // the order's batch key (opaque); empty: none
  // A stamp the input left unset: shown when the folder's seller profile can draw it.
  bool exemption_stamp_unset = false, owner_seal_unset = false;
  std::string order;  // the order's 收據 value, kept with the receipt
  std::string run;    // the run issuing it (its result table's stamp), kept with the receipt
  // Issued anew: also when its key is the book's already (then without the key), and also
  // when its order has a receipt of other content (not held).
  bool again = false;
};

struct BatchOutcome {
  std::string number;          // the number issued or taken (skipped: the earlier receipt's); empty when none
  std::exception_ptr failure;  // null: issued (or skipped)
  bool started = false;        // false: not reached (stopped first) or skipped
  bool skipped = false;        // its key is the book's already: issued before, or under way
  bool under_way = false;      // skipped because another run is issuing it right now (pending)
  bool void_before = false;    // skipped, and the earlier receipt is void
  // Not issued: its order (收據 value) has a receipt of other content, `number`, issued or
  // under way; issued when asked anew (again) or once that receipt is void.
  bool held = false;
};

struct BatchReport {
  std::vector<BatchOutcome> outcomes;  // one per job, in order
  // The seller profiles' problems, recovery's, ledger's; and a note naming the receipts
  // issued without the 免用統一發票章 (a shop may stamp them by hand: not a failure).
  std::vector<std::string> problems;
  // Ledger lines not written (the receipts are issued and in the book; the next start writes
  // the lines): a failure of the run, where the problems above are notes.
  std::vector<std::string> ledger_problems;
};

// Issues the jobs on `threads` threads. A job whose key its folder's book already holds
// (issued, void, or pending in another run at the same moment) is skipped: the key is
// claimed in the same transaction as the number, so two runs of one sheet issue each order
// once. A job whose order (its 收據 value) has a receipt of other content is held, in that
// same transaction. With `again` every job is issued as if asked anew (BatchJob::again). A book
// locked by another program stops the batch after the first claim that waited in vain. `poll(saved)` runs on
// the calling thread about every 100 ms with the number of receipts saved since the last call; when it
// returns false no new receipt starts, and those under way are finished and saved.
BatchReport issue_batch(std::vector<BatchJob>& jobs, int threads, bool again,
                        const std::function<bool(std::size_t)>& poll);

}  // namespace receiptora::issuing
