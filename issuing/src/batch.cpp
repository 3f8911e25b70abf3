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

#include "receiptora/issuing/issue.hpp"
#include "receiptora/render/render.hpp"
#include "receiptora/store/book.hpp"
#include "receiptora/store/files.hpp"
#include "receiptora/store/profile.hpp"

namespace receiptora::issuing {

namespace fs = std::filesystem;

BatchReport issue_batch(std::vector<BatchJob>& jobs, int threads, bool again,
                        const std::function<bool(std::size_t)>& poll) {
  const size_t count = jobs.size();
  BatchReport report;
  report.outcomes.resize(count);
  std::set<std::string> problems, ledger_problems;
  std::vector<char> runs(count, 1);

  // Each folder's book (recovered first) and profile, once.
  std::map<fs::path, store::Book*> books;
  std::map<fs::path, store::ProfileRead> profiles;
  for (size_t i = 0; i < count; ++i) {
    BatchJob& job = jobs[i];
    try {
      auto book = books.find(job.root);
      if (book == books.end()) {
        book = books.emplace(job.root, &book_for(job.root)).first;
        for (const std::string& problem : recovery_of(job.root).problems) problems.insert(problem);
        profiles.emplace(job.root, store::read_profile(job.root));
        const auto& read = profiles.at(job.root).problems;
        problems.insert(read.begin(), read.end());
      }
      job.receipt.seller = profiles.at(job.root).seller;
      if (job.exemption_stamp_unset)
        job.receipt.exemption_stamp = render::can_draw_exemption_stamp(job.receipt.seller);
      if (job.owner_seal_unset) job.receipt.owner_seal = render::can_draw_owner_seal(job.receipt.seller);
    } catch (const std::exception&) {
      report.outcomes[i].failure = std::current_exception();
      runs[i] = 0;
    }
  }
  // A job asked anew whose key the book holds is issued without it; any other such job is
  // skipped, naming the earlier receipt.
  if (again)
    for (BatchJob& job : jobs) job.again = true;
  std::map<fs::path, std::vector<std::string>> keys;
  for (size_t i = 0; i < count; ++i)
    if (runs[i] && !jobs[i].key.empty()) keys[jobs[i].root].push_back(jobs[i].key);
  std::map<fs::path, std::map<std::string, store::KeyHolder>> claimed;
  for (auto& [root, list] : keys)
    for (store::KeyHolder& holder : store::claimed_batch_keys(*books.at(root), list))
      claimed[root][holder.key] = std::move(holder);
  for (size_t i = 0; i < count; ++i) {
    if (!runs[i] || jobs[i].key.empty()) continue;
    const auto& known = claimed[jobs[i].root];
    const auto found = known.find(jobs[i].key);
    if (found == known.end()) continue;
    if (jobs[i].again) {
      jobs[i].key.clear();
      continue;
    }
    report.outcomes[i].skipped = true;
    report.outcomes[i].number = found->second.number;
    report.outcomes[i].void_before = found->second.state == store::State::Void;
    runs[i] = 0;
  }

  std::vector<std::optional<Staged>> staged(count);
  std::vector<char> rendered(count, 0);
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  // Numbers are claimed in the sheet's order (only the drawing runs side by side), so a
  // day's receipts are numbered as the orders stand in the file.
  size_t claim_turn = 0;
  auto wait_for_turn = [&](size_t i) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return claim_turn == i; });
  };
  auto pass_turn = [&] {
    std::lock_guard lock(mutex);
    ++claim_turn;
    changed.notify_all();
  };

  auto work = [&] {
    for (size_t i; !stop && (i = next++) < count;) {
      std::optional<Staged> done;
      std::exception_ptr failure;
      std::string number;
      bool skipped = false, under_way = false, held = false, void_before = false;
      wait_for_turn(i);
      bool turn_passed = false;
      if (runs[i]) {
        try {
          store::Book& book = *books.at(jobs[i].root);
          render::Receipt receipt = jobs[i].receipt;
          const store::Claim claimed = [&] {
            struct Pass {  // the next order's turn comes whether this claim succeeds or throws
              decltype(pass_turn)& pass;
              bool& passed;
              ~Pass() {
                passed = true;
                pass();
              }
            } pass{pass_turn, turn_passed};
            return claim(book, receipt, jobs[i].day, jobs[i].key, jobs[i].order, jobs[i].run, !jobs[i].again);
          }();
          number = claimed.number;
          held = claimed.held;
          skipped = claimed.claimed_before;
          under_way = skipped && claimed.state == store::State::Pending;
          void_before = skipped && claimed.state == store::State::Void;
          if (!skipped && !held) done = stage(book, receipt, false);
        } catch (const IssueError& error) {
          failure = std::current_exception();
          if (error.number().empty() && error.code() == EBUSY && !stop.exchange(true)) {
            for (auto& [root, book] : books) book->give_up_waiting(true);  // the others stop waiting too
            std::lock_guard lock(mutex);
            problems.insert("收據簿被其他程式鎖住，批次已停止；" + std::string(error.what()));
          }
        } catch (const std::exception&) {
          failure = std::current_exception();
        }
      }
      if (!turn_passed) pass_turn();
      std::lock_guard lock(mutex);
      if (runs[i]) {  // those skipped before the start keep their outcome
        report.outcomes[i].started = !skipped && !held;
        report.outcomes[i].skipped = skipped;
        report.outcomes[i].held = held;
        report.outcomes[i].void_before = void_before;
        report.outcomes[i].under_way = under_way;
        report.outcomes[i].number = number;
      }
      if (failure) report.outcomes[i].failure = failure;
      staged[i] = std::move(done);
      rendered[i] = 1;
      changed.notify_all();
    }
  };
  std::vector<std::thread> pool;
  for (int t = 0; t < std::max(1, threads); ++t) pool.emplace_back(work);

  size_t saved = 0;  // receipts before this one are saved (or failed, or skipped)
  size_t newly = 0;
  // Saves the rendered receipts from `saved` on, in order, up to the first not yet rendered.
  auto save_ready = [&] {
    size_t end = saved;
    {
      std::lock_guard lock(mutex);
      while (end < count && rendered[end]) ++end;
    }
    if (end == saved) return;
    std::set<fs::path> roots;
    for (size_t i = saved; i < end; ++i)
      if (staged[i]) roots.insert(staged[i]->root);
    for (const fs::path& root : roots) {
      try {
        store::sync_file_system(root);
      } catch (const std::exception&) {
        for (size_t i = saved; i < end; ++i)
          if (staged[i] && staged[i]->root == root) {
            store::discard_file(staged[i]->pdf);
            store::discard_file(staged[i]->png);
            for (const store::StagedFile& page : staged[i]->more_pngs) store::discard_file(page);
            staged[i].reset();
            report.outcomes[i].failure = std::current_exception();  // left pending: made at the next start
          }
      }
    }
    for (size_t i = saved; i < end;) {  // one commit per run of receipts of the same folder
      if (!staged[i]) {
        ++i;
        continue;
      }
      const fs::path root = staged[i]->root;
      std::vector<Staged> run;
      std::vector<size_t> index;
      size_t k = i;
      for (; k < end; ++k) {
        if (!staged[k]) continue;
        if (staged[k]->root != root) break;
        run.push_back(std::move(*staged[k]));
        staged[k].reset();
        index.push_back(k);
      }
      std::string ledger_problem;
      const auto outcome = commit(*books.at(root), run, ledger_problem);
      if (!ledger_problem.empty()) {
        std::lock_guard lock(mutex);
        ledger_problems.insert("收據清冊：" + ledger_problem);
      }
      for (size_t n = 0; n < index.size(); ++n) {
        if (outcome[n]) report.outcomes[index[n]].failure = outcome[n];
        ++newly;
      }
      i = k;
    }
    saved = end;
  };

  for (;;) {
    {
      std::unique_lock lock(mutex);
      changed.wait_for(lock, std::chrono::milliseconds(100),
                       [&] { return saved < count && rendered[saved]; });
    }
    save_ready();
    const size_t reported = newly;
    newly = 0;
    if (poll && !poll(reported)) {
      stop = true;
      break;
    }
    if (saved == count || stop) break;
  }
  for (std::thread& thread : pool) thread.join();
  save_ready();
  if (poll && newly) poll(newly);
  for (auto& [root, book] : books) {
    book->give_up_waiting(false);
    book->checkpoint();
  }
  report.problems.assign(problems.begin(), problems.end());
  report.ledger_problems.assign(ledger_problems.begin(), ledger_problems.end());
  // Receipts issued without the 免用統一發票章: said once for the run, naming them; and what
  // each folder's drawn 專用章 lacks, once per folder.
  std::string unstamped;
  size_t unstamped_count = 0;
  std::set<fs::path> noted;
  for (size_t i = 0; i < count; ++i) {
    const BatchOutcome& o = report.outcomes[i];
    const render::Receipt& r = jobs[i].receipt;
    if (o.number.empty() || o.failure || o.skipped || o.held) continue;
    if (noted.insert(jobs[i].root).second) {
      render::Receipt stamped = r;
      stamped.exemption_stamp = true;
      for (std::string& note : render::seller_notes(stamped))
        if (std::find(report.problems.begin(), report.problems.end(), note) == report.problems.end())
          report.problems.push_back(std::move(note));
    }
    if (r.exemption_stamp && render::can_draw_exemption_stamp(r.seller)) continue;
    if (++unstamped_count <= 5) unstamped += (unstamped.empty() ? "" : "、") + o.number;
  }
  if (unstamped_count > 0) {
    report.problems.push_back(std::to_string(unstamped_count) + " 張收據未蓋免用統一發票章：" + unstamped +
                              (unstamped_count > 5 ? " 等" : "") + "（可於紙本加蓋）");
  }
  return report;
}

}  // namespace receiptora::issuing
