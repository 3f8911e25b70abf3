// receiptora._book: the receipt book for the host's commands (void, reprint, list, summary,
// ledger). Thin: every rule lives in the store and issuing libraries; this converts and
// releases the GIL while they work.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <filesystem>
#include <optional>
#include <string>

#include "receiptora/issuing/issue.hpp"
#include "receiptora/store/audit.hpp"
#include "receiptora/store/backup.hpp"
#include "receiptora/store/book.hpp"
#include "receiptora_py/book_errors.hpp"
#include "receiptora_py/main_interpreter.hpp"

namespace py = pybind11;
using namespace pybind11::literals;
namespace fs = std::filesystem;
namespace store = receiptora::store;
namespace issuing = receiptora::issuing;

namespace {

// A folder given as str or bytes, as the file system spells it.
fs::path folder_of(py::handle folder) {
  return fs::path(py::bytes(py::module_::import("os").attr("fsencode")(folder)).cast<std::string>());
}

// Runs `f` with the GIL released. A failure keeps its kind (an unknown number:
// ReceiptNotFound; already void, never issued: ReceiptRefused; a damaged, newer or read-only
// book; a ledger line not written: receiptora_py/book_errors.hpp); any other goes through the
// boundary's one error policy.
template <class F>
auto released(F&& f) {
  try {
    py::gil_scoped_release unlocked;
    return f();
  } catch (...) {
    receiptora_py::set_book_error();
    throw py::error_already_set();
  }
}

py::dict row_dict(const store::ListRow& row) {
  return py::dict("number"_a = row.number, "date"_a = row.date, "buyer"_a = row.buyer,
                  "buyer_tax_id"_a = row.buyer_tax_id, "total"_a = row.total,
                  "state"_a = std::string(store::state_name(row.state)), "files"_a = row.files,
                  "order"_a = row.order_label);
}

// Runs `f` on the folder's book as a reading command sees it (no byte of the folder changed);
// `none` when the folder has no book yet.
template <class F, class R>
R reading(const fs::path& root, R none, F&& f) {
  return released([&]() -> R {
    R out = none;
    store::read_book_once(root, [&](const store::Book& book) { out = f(book); });
    return out;
  });
}

}  // namespace

// Loaded only into the main interpreter (see main_interpreter.hpp).
#define PyInit__book pybind11_entry_point
PYBIND11_MODULE(_book, m) {
  m.doc() = "Receiptora's receipt book 收據簿.sqlite3";
  receiptora_py::use_book_error_kinds_in_this_module(m);
  m.def(
      "open",
      [](py::handle folder) {
        const fs::path root = folder_of(folder);
        const issuing::Recovery r = released([&] { return issuing::recovery_of(root); });
        return py::dict("imported"_a = r.imported, "completed"_a = r.completed,
                        "rendered_again"_a = r.rendered_again, "unfinished"_a = r.unfinished,
                        "ledger_lines"_a = r.ledger_lines, "problems"_a = r.problems);
      },
      "folder"_a,
      "Opens the folder's book, recovering what a stopped process left; returns what recovery did.");
  m.def(
      "list",
      [](py::handle folder, const std::string& month, const std::string& search) {
        const fs::path root = folder_of(folder);
        const auto rows = reading(root, std::vector<store::ListRow>{}, [&](const store::Book& book) {
          return store::list_receipts(book, month, search);
        });
        py::list out;
        for (const auto& row : rows) out.append(row_dict(row));
        return out;
      },
      "folder"_a, "month"_a = "", "search"_a = "",
      "The receipts of a month (YYYY-MM, empty: all) whose number, buyer, buyer's 統一編號 or order (收據 "
      "value) holds `search`. Reads only: a folder without a book gives [] and nothing is created.");
  m.def(
      "summary",
      [](py::handle folder, const std::string& first_day, const std::string& last_day) {
        const fs::path root = folder_of(folder);
        const auto s = reading(root, store::Summary{}, [&](const store::Book& book) {
          return store::summarize(book, first_day, last_day);
        });
        py::dict days;
        for (const auto& day : s.days) days[py::str(day.date)] = day.total;
        return py::dict("receipts"_a = s.receipts, "void"_a = s.voided, "total"_a = s.total, "days"_a = days);
      },
      "folder"_a, "first_day"_a, "last_day"_a,
      "Issued and void counts, the issued total and the totals per day. Reads only, like list.");
  m.def(
      "has_book",
      [](py::handle folder) {
        const fs::path root = folder_of(folder);
        return released([&] {
          std::error_code ec;
          return fs::exists(root / std::string(store::kBookName), ec);
        });
      },
      "folder"_a, "Whether the folder has a book yet (it is made by the first receipt); creates nothing.");
  m.def(
      "void",
      [](py::handle folder, const std::string& number, const std::string& reason) {
        const fs::path root = folder_of(folder);
        return released([&] { return issuing::void_receipt(root, number, reason); });
      },
      "folder"_a, "number"_a, "reason"_a, "Voids an issued receipt; returns the void copy's files.");
  m.def(
      "void_many",
      [](py::handle folder, const std::vector<std::string>& numbers, const std::string& reason) {
        const fs::path root = folder_of(folder);
        const auto outcomes = released([&] { return issuing::void_receipts(root, numbers, reason); });
        py::list out;
        for (const auto& o : outcomes)
          out.append(py::dict("number"_a = o.number, "files"_a = o.files, "error"_a = o.error));
        return out;
      },
      "folder"_a, "numbers"_a, "reason"_a,
      "Voids several receipts with one reason, each on its own; per number its void copy's files or the "
      "error (in Chinese) that refused it.");
  m.def(
      "plan_run_void",
      [](py::handle folder, const std::string& run,
         const std::vector<std::pair<std::string, std::string>>& lines) {
        const fs::path root = folder_of(folder);
        std::vector<issuing::RunLine> listed;
        for (const auto& [number, order] : lines) listed.push_back({number, order});
        const issuing::RunPlan plan = released([&] { return issuing::plan_run_void(root, run, listed); });
        py::list receipts;
        for (const store::Record& r : plan.receipts)
          receipts.append(py::dict("number"_a = r.number, "order"_a = r.order_label, "total"_a = r.total,
                                   "buyer"_a = r.buyer));
        return py::dict("receipts"_a = receipts, "refused"_a = plan.refused);
      },
      "folder"_a, "run"_a, "lines"_a,
      "What undoing a batch run voids: the run's issued receipts as the book records them, and the result "
      "table's lines (number, order) refused, each with why.");
  m.def(
      "void_run",
      [](py::handle folder, const std::vector<std::string>& numbers, const std::string& reason) {
        const fs::path root = folder_of(folder);
        const auto outcomes = released([&] { return issuing::void_run(root, numbers, reason); });
        py::list out;
        for (const auto& o : outcomes)
          out.append(py::dict("number"_a = o.number, "files"_a = o.files, "error"_a = o.error));
        return out;
      },
      "folder"_a, "numbers"_a, "reason"_a,
      "Voids a run's receipts as void_many does and gives up their orders' keys (the corrected sheet issues "
      "them again).");
  m.def(
      "reprint",
      [](py::handle folder, const std::string& number) {
        const fs::path root = folder_of(folder);
        return released([&] { return issuing::reprint_receipt(root, number); });
      },
      "folder"_a, "number"_a,
      "Prints a receipt again under a new name; returns the new files. A void receipt is refused "
      "(ReceiptRefused): its 作廢 copy is what prints.");
  m.def(
      "backup",
      [](py::handle folder, py::handle dest) {
        const fs::path root = folder_of(folder), target = folder_of(dest);
        const store::BackupReport r =
            released([&] { return store::back_up(issuing::book_for(root), target); });
        return py::dict("folder"_a = py::module_::import("os").attr("fsdecode")(py::bytes(r.folder.string())),
                        "receipts"_a = r.receipts, "files"_a = r.files, "checked"_a = r.checked,
                        "left_out"_a = r.left_out);
      },
      "folder"_a, "dest"_a,
      "Backs the output folder up into dest/收據備份-YYYYMMDD-HHMMSS/, verified; returns what it copied.");
  m.def(
      "last_backup",
      [](py::handle folder) -> py::object {
        const fs::path root = folder_of(folder);
        const auto when = reading(root, std::optional<std::string>{},
                                  [](const store::Book& book) { return store::last_backup(book); });
        return when ? py::object(py::str(*when)) : py::object(py::none());
      },
      "folder"_a, "When the folder was last backed up (ISO 8601), or None.");
  m.def(
      "check",
      [](py::handle folder) -> py::object {
        const fs::path root = folder_of(folder);
        const auto report = reading(root, std::optional<store::AuditReport>{}, [](const store::Book& book) {
          return std::optional<store::AuditReport>(store::audit_folder(book));
        });
        if (!report) return py::none();
        py::list faults;
        for (const store::Fault& f : report->faults)
          faults.append(py::dict("number"_a = f.number, "file"_a = f.file, "problem"_a = f.problem));
        return py::dict("receipts"_a = report->receipts, "files"_a = report->files,
                        "ledger_lines"_a = report->ledger_lines, "faults"_a = faults,
                        "chain_links"_a = report->chain_links, "chain_whole"_a = report->chain_whole,
                        "chain_note"_a = report->chain_note);
      },
      "folder"_a,
      "Audits the output folder, reading only; None when it has no book. Faults name the receipt and file.");
  m.def(
      "rebuild_ledger",
      [](py::handle folder) {
        const fs::path root = folder_of(folder);
        const store::LedgerRebuild rebuilt = released([&] { return issuing::rebuild_ledger(root); });
        return py::dict("lines"_a = rebuilt.lines, "was_older"_a = rebuilt.was_older);
      },
      "folder"_a,
      "Writes 收據清冊.csv again from the book, atomically; returns its lines and whether the ledger "
      "replaced was of the older kind (作廢 lines with positive amounts).");
  m.def(
      "close", [] { released([] { issuing::close_books(); }); },
      "Closes the books this module opened, folding each -wal into its book file (also at exit).");
  py::module_::import("atexit").attr("register")(m.attr("close"));
}
#undef PyInit__book

extern "C" PYBIND11_EXPORT PyObject* PyInit__book() {
  return receiptora_py::in_main_interpreter("receiptora._book", pybind11_entry_point);
}
