// Buyers and items from the book, suggested while the operator types: which ones match what
// was typed, in which order, and which the operator hid. The book keeps the counts (its tables
// buyer_uses and item_uses, kept by triggers as receipts are issued and voided); this reads
// them into memory once per change of the book and answers each keystroke from there.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace receiptora::store {

enum class SuggestionKind { Buyer, Item };

struct Suggestion {
  std::string name;    // the buyer or the item's name
  std::string detail;  // the buyer's 統一編號 or the item's last unit price (decimal digits)
  std::int64_t uses = 0;
  std::string last_day;  // ISO date of the last issued receipt that used it
};

// Text as matching compares it: full-width ASCII (Ａ，１) as ASCII, ASCII letters lower-case,
// the ideographic space as a space; everything else unchanged.
std::string fold_for_matching(std::string_view text);

// How much a suggestion weighs: every use counts, halved for each 90 days since the last one.
double suggestion_weight(const Suggestion& suggestion, std::string_view today);

// The suggestions to show, best first: those whose name contains `typed` (folded, without the
// white space around it), at most `limit`, by weight, then the latest, then by name. Nothing
// for an empty text.
class SuggestionList {
 public:
  void assign(std::vector<Suggestion> all);
  std::vector<Suggestion> match(std::string_view typed, std::string_view today, size_t limit = 6);
  // Weighs and orders the suggestions as of `today` now rather than at the next match.
  void weigh(std::string_view today);
  size_t size() const { return all_.size(); }

 private:
  std::vector<Suggestion> all_;
  std::vector<std::string> folded_;
  std::vector<double> weights_;  // for weighed_on_
  std::vector<size_t> order_;    // indices, best first, as of weighed_on_
  std::string weighed_on_;
};

// The suggestions of a folder's book. Opens nothing until asked, creates nothing, and reads the
// counts again only when the book changed (SQLite's data_version), so a keystroke costs a
// search in memory. Counts of more than kReadAsideRows rows are read again on a thread of their
// own (a connection of its own): while a batch writes the book, each keystroke answers from the
// counts already read and takes the new ones once they are ready, instead of reading them all
// at every change. A folder without a book, or a book from before the counts, suggests
// nothing. Failures to read are std::runtime_error in Chinese. One calling thread at a time.
class SuggestionBook {
 public:
  explicit SuggestionBook(std::filesystem::path folder);
  ~SuggestionBook();
  SuggestionBook(const SuggestionBook&) = delete;
  SuggestionBook& operator=(const SuggestionBook&) = delete;

  std::vector<Suggestion> suggest(SuggestionKind kind, std::string_view typed, std::string_view today,
                                  size_t limit = 6);
  // Hides a suggestion from now on (the receipts stay as they are), or shows it again.
  void set_hidden(SuggestionKind kind, const std::string& name, const std::string& detail, bool hidden);
  // The hidden ones, by name.
  std::vector<Suggestion> hidden(SuggestionKind kind);

  const std::filesystem::path& folder() const { return folder_; }

 private:
  bool open();
  void refresh();
  // Closes the connection (the next call opens the book again) and throws `why` in Chinese.
  [[noreturn]] void fail(const std::string& why);
  void take_read_aside();
  std::filesystem::path folder_;
  sqlite3* db_ = nullptr;
  std::int64_t data_version_ = -1;
  bool counted_ = false;  // the book has the counts' tables
  SuggestionList lists_[2];
  std::string today_;  // of the last keystroke: the counts read aside are weighed as of it
  struct ReadAside;    // the counts being read on their own thread
  std::unique_ptr<ReadAside> aside_;
  std::chrono::steady_clock::time_point next_read_{};  // no reading aside begins before
};

// Rows (buyers and items together) up to which the counts are read on the keystroke's own
// thread: a few milliseconds, and the list shows what the book holds at once.
inline constexpr std::size_t kReadAsideRows = 2000;

}  // namespace receiptora::store
