// Issuing many receipts at once, built from the journal's steps: claim and stage on several
// threads, commit on the calling thread. One BatchRun is one call of issue_batch; its parts, in
// the order they run:
//   open_books       each folder's book (recovered) and seller profile, once
//   skip_known_keys  jobs whose key the book holds already: skipped, or issued anew without it
//   work             a thread's loop: each job claimed in the sheet's order, then staged
//   save_ready       on the calling thread: staged files flushed, then committed in order
//   notes            what the receipts lack, said once for the run
#include "receiptora/issuing/batch.hpp"

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include "receiptora/issuing/issue.hpp"
#include "receiptora/render/render.hpp"
#include "receiptora/store/book.hpp"
#include "receiptora/store/files.hpp"
#include "receiptora/store/profile.hpp"

namespace receiptora::issuing {

namespace fs = std::filesystem;

namespace {

// What one job's claim and stage came to, handed from its thread to the report.
struct Attempt {
  std::string number;
  bool skipped = false, under_way = false, held = false, void_before = false;
  std::optional<Staged> staged;
  std::exception_ptr failure;
};

// Issued in this run: a number taken and its files saved.
bool issued(const BatchOutcome& o) { return !o.number.empty() && !o.failure && !o.skipped && !o.held; }

class BatchRun {
 public:
  BatchRun(std::vector<BatchJob>& jobs, bool again)
      : jobs_(jobs), count_(jobs.size()), runs_(count_, 1), staged_(count_), rendered_(count_, 0) {
    report_.outcomes.resize(count_);
    if (again)
      for (BatchJob& job : jobs_) job.again = true;
  }

  BatchReport run(int threads, const std::function<bool(std::size_t)>& poll) {
    open_books();
    skip_known_keys();
    issue(threads, poll);
    for (auto& [root, book] : books_) {
      book->give_up_waiting(false);
      book->checkpoint();
    }
    report_.problems.assign(problems_.begin(), problems_.end());
    report_.ledger_problems.assign(ledger_problems_.begin(), ledger_problems_.end());
    note_what_the_seals_lack();
    note_unstamped();
    return std::move(report_);
  }

 private:
  // Each folder's book (recovered first) and profile, once; a job whose folder fails is not run.
  void open_books() {
    for (size_t i = 0; i < count_; ++i) {
      BatchJob& job = jobs_[i];
      try {
        if (!books_.contains(job.root)) open_folder(job.root);
        fill_seller(job);
      } catch (const std::exception&) {
        report_.outcomes[i].failure = std::current_exception();
        runs_[i] = 0;
      }
    }
  }

  void open_folder(const fs::path& root) {
    books_.emplace(root, &book_for(root));
    for (const std::string& problem : recovery_of(root).problems) problems_.insert(problem);
    const store::ProfileRead& profile = profiles_.emplace(root, store::read_profile(root)).first->second;
    problems_.insert(profile.problems.begin(), profile.problems.end());
  }

  // The seller from the folder's profile, and the stamps the input left unset as it can draw them.
  void fill_seller(BatchJob& job) const {
    job.receipt.seller = profiles_.at(job.root).seller;
    if (job.exemption_stamp_unset)
      job.receipt.exemption_stamp = render::can_draw_exemption_stamp(job.receipt.seller);
    if (job.owner_seal_unset) job.receipt.owner_seal = render::can_draw_owner_seal(job.receipt.seller);
  }

  // A job asked anew whose key the book holds is issued without it; any other such job is
  // skipped, naming the earlier receipt. One query per folder, before any thread starts.
  void skip_known_keys() {
    std::map<fs::path, std::vector<std::string>> keys;
    for (size_t i = 0; i < count_; ++i)
      if (runs_[i] && !jobs_[i].key.empty()) keys[jobs_[i].root].push_back(jobs_[i].key);
    std::map<fs::path, std::map<std::string, store::KeyHolder>> claimed;
    for (auto& [root, list] : keys)
      for (store::KeyHolder& holder : store::claimed_batch_keys(*books_.at(root), list))
        claimed[root][holder.key] = std::move(holder);
    for (size_t i = 0; i < count_; ++i) {
      if (!runs_[i] || jobs_[i].key.empty()) continue;
      const auto& known = claimed[jobs_[i].root];
      const auto found = known.find(jobs_[i].key);
      if (found == known.end()) continue;
      if (jobs_[i].again) {
        jobs_[i].key.clear();
        continue;
      }
      BatchOutcome& outcome = report_.outcomes[i];
      outcome.skipped = true;
      outcome.number = found->second.number;
      outcome.void_before = found->second.state == store::State::Void;
      runs_[i] = 0;
    }
  }

  // The threads claim and stage; this thread saves what they staged, in order, and asks
  // `poll` about every 100 ms whether to go on.
  void issue(int threads, const std::function<bool(std::size_t)>& poll) {
    std::vector<std::thread> pool;
    for (int t = 0; t < std::max(1, threads); ++t) pool.emplace_back([this] { work(); });
    for (;;) {
      {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(100),
                          [&] { return saved_ < count_ && rendered_[saved_]; });
      }
      save_ready();
      const size_t reported = std::exchange(newly_, 0);
      if (poll && !poll(reported)) {
        stop_ = true;
        break;
      }
      if (saved_ == count_ || stop_) break;
    }
    for (std::thread& thread : pool) thread.join();
    save_ready();
    if (poll && newly_) poll(newly_);
  }

  // A thread's loop: the next job, claimed in its turn, then staged beside the other threads.
  void work() {
    for (size_t i; !stop_ && (i = next_++) < count_;) {
      wait_for_turn(i);
      Attempt attempt;
      if (runs_[i])
        attempt = claim_and_stage(i);
      else
        pass_turn();
      hand_over(i, std::move(attempt));
    }
  }

  // Numbers are claimed in the sheet's order (only the drawing runs side by side), so a day's
  // receipts are numbered as the orders stand in the file.
  void wait_for_turn(size_t i) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return claim_turn_ == i; });
  }
  void pass_turn() {
    std::lock_guard lock(mutex_);
    ++claim_turn_;
    changed_.notify_all();
  }

  // The claim's turn passes to the next job once: after the claim, or as soon as anything
  // before it throws.
  class Turn {
   public:
    explicit Turn(BatchRun& run) : run_(run) {}
    ~Turn() { pass(); }
    void pass() {
      if (!passed_) run_.pass_turn();
      passed_ = true;
    }

   private:
    BatchRun& run_;
    bool passed_ = false;
  };

  // The journal's steps 1 and 2 for job i; flushing and committing are left to save_ready.
  Attempt claim_and_stage(size_t i) {
    Attempt attempt;
    const BatchJob& job = jobs_[i];
    try {
      Turn turn(*this);
      store::Book& book = *books_.at(job.root);
      Receipt receipt = job.receipt;
      const store::Claim claimed = claim(book, receipt, job.day, job.key, job.order, job.run, !job.again);
      turn.pass();
      attempt.number = claimed.number;
      attempt.held = claimed.held;
      attempt.skipped = claimed.claimed_before;
      attempt.under_way = attempt.skipped && claimed.state == store::State::Pending;
      attempt.void_before = attempt.skipped && claimed.state == store::State::Void;
      if (!attempt.skipped && !attempt.held) attempt.staged = stage(book, receipt, false);
    } catch (const IssueError& error) {
      attempt.failure = std::current_exception();
      if (error.number().empty() && error.code() == EBUSY) stop_for_locked_book(error);
    } catch (const std::exception&) {
      attempt.failure = std::current_exception();
    }
    return attempt;
  }

  // A book another program keeps locked stops the batch after the first claim that waited in
  // vain; the other threads' claims stop waiting too.
  void stop_for_locked_book(const IssueError& error) {
    if (stop_.exchange(true)) return;
    for (auto& [root, book] : books_) book->give_up_waiting(true);
    std::lock_guard lock(mutex_);
    problems_.insert("收據簿被其他程式鎖住，批次已停止；" + std::string(error.what()));
  }

  void hand_over(size_t i, Attempt attempt) {
    std::lock_guard lock(mutex_);
    if (runs_[i]) {  // those skipped before the start keep their outcome
      BatchOutcome& outcome = report_.outcomes[i];
      outcome.started = !attempt.skipped && !attempt.held;
      outcome.skipped = attempt.skipped;
      outcome.held = attempt.held;
      outcome.void_before = attempt.void_before;
      outcome.under_way = attempt.under_way;
      outcome.number = std::move(attempt.number);
    }
    if (attempt.failure) report_.outcomes[i].failure = attempt.failure;
    staged_[i] = std::move(attempt.staged);
    rendered_[i] = 1;
    changed_.notify_all();
  }

  // Saves the staged receipts from saved_ on, in order, up to the first not yet staged.
  void save_ready() {
    size_t end = saved_;
    {
      std::lock_guard lock(mutex_);
      while (end < count_ && rendered_[end]) ++end;
    }
    if (end == saved_) return;
    flush(saved_, end);
    for (size_t i = saved_; i < end;) i = staged_[i] ? commit_run(i, end) : i + 1;
    saved_ = end;
  }

  // One flush per folder for the files staged in [from, end). A folder that cannot be flushed
  // loses its staged files; their records stay pending and the next start makes them.
  void flush(size_t from, size_t end) {
    std::map<fs::path, std::vector<size_t>> folders;
    for (size_t i = from; i < end; ++i)
      if (staged_[i]) folders[staged_[i]->root].push_back(i);
    for (const auto& [root, indexes] : folders) {
      std::vector<const Staged*> staged;
      for (size_t i : indexes) staged.push_back(&*staged_[i]);
      try {
        flush_staged(root, staged);
      } catch (const std::exception&) {
        for (size_t i : indexes) {
          staged_[i].reset();
          report_.outcomes[i].failure = std::current_exception();
        }
      }
    }
  }

  // Commits the run of staged receipts of one folder that starts at `first` (one transaction);
  // returns where the run ends.
  size_t commit_run(size_t first, size_t end) {
    const fs::path root = staged_[first]->root;
    std::vector<Staged> run;
    std::vector<size_t> index;
    size_t k = first;
    for (; k < end; ++k) {
      if (!staged_[k]) continue;
      if (staged_[k]->root != root) break;
      run.push_back(std::move(*staged_[k]));
      staged_[k].reset();
      index.push_back(k);
    }
    std::string ledger_problem;
    const auto outcome = commit(*books_.at(root), run, ledger_problem);
    if (!ledger_problem.empty()) {
      std::lock_guard lock(mutex_);
      ledger_problems_.insert("收據清冊：" + ledger_problem);
    }
    for (size_t n = 0; n < index.size(); ++n) {
      if (outcome[n]) report_.outcomes[index[n]].failure = outcome[n];
      ++newly_;
    }
    return k;
  }

  // What each folder's drawn 專用章 lacks, once per folder that issued a receipt.
  void note_what_the_seals_lack() {
    std::set<fs::path> noted;
    for (size_t i = 0; i < count_; ++i) {
      if (!issued(report_.outcomes[i]) || !noted.insert(jobs_[i].root).second) continue;
      Receipt stamped = jobs_[i].receipt;
      stamped.exemption_stamp = true;
      for (std::string& note : render::seller_notes(stamped))
        if (std::find(report_.problems.begin(), report_.problems.end(), note) == report_.problems.end())
          report_.problems.push_back(std::move(note));
    }
  }

  // Receipts issued without the 免用統一發票章, said once for the run and naming the first five
  // (a shop may stamp them by hand: not a failure).
  void note_unstamped() {
    std::string unstamped;
    size_t unstamped_count = 0;
    for (size_t i = 0; i < count_; ++i) {
      const BatchOutcome& o = report_.outcomes[i];
      const Receipt& r = jobs_[i].receipt;
      if (!issued(o) || (r.exemption_stamp && render::can_draw_exemption_stamp(r.seller))) continue;
      if (++unstamped_count <= 5) unstamped += (unstamped.empty() ? "" : "、") + o.number;
    }
    if (unstamped_count > 0) {
      report_.problems.push_back(std::to_string(unstamped_count) + " 張收據未蓋免用統一發票章：" + unstamped +
                                 (unstamped_count > 5 ? " 等" : "") + "（可於紙本加蓋）");
    }
  }

  std::vector<BatchJob>& jobs_;
  const size_t count_;
  BatchReport report_;
  std::set<std::string> problems_;         // the run's problems, each once
  std::set<std::string> ledger_problems_;  // ledger lines not written: a failure of the run
  std::vector<char> runs_;                 // 0: failed or skipped before the threads start
  std::map<fs::path, store::Book*> books_;
  std::map<fs::path, store::ProfileRead> profiles_;

  // Shared with the threads (under mutex_, but for the atomics).
  std::vector<std::optional<Staged>> staged_;
  std::vector<char> rendered_;  // 1: the job's thread is done with it
  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<size_t> next_{0};
  std::atomic<bool> stop_{false};
  size_t claim_turn_ = 0;

  // The calling thread's own.
  size_t saved_ = 0;  // receipts before this one are saved (or failed, or skipped)
  size_t newly_ = 0;  // saved since poll was last told
};

}  // namespace

BatchReport issue_batch(std::vector<BatchJob>& jobs, int threads, bool again,
                        const std::function<bool(std::size_t)>& poll) {
  return BatchRun(jobs, again).run(threads, poll);
}

}  // namespace receiptora::issuing
