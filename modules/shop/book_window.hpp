// The 收據簿 window's shared state: the book, the month, the rows found, and the widgets the
// handlers redraw. The window is laid out in window.cpp; the actions on a receipt and on the
// month are in actions.cpp.
#pragma once

#include <pybind11/pybind11.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "receiptora/month_grid.hpp"
#include "receiptora/reports/book_watch.hpp"
#include "receiptora/store/book.hpp"

namespace receiptora_shop {

namespace py = pybind11;

inline constexpr int kRowHeight = 26;
inline constexpr int kVisibleRows = 14;
inline constexpr int kColumns = 6;
inline constexpr int kListWidth = 1040;
// The list's colours, shared by the 常客 and 品項 views.
inline constexpr const char* kBackground = "#1d1e1e";
inline constexpr const char* kRowColour = "#242424";
inline constexpr const char* kRowAlternate = "#2a2b2b";
inline constexpr const char* kSelected = "#1f538d";
inline constexpr const char* kText = "#dce4ee";
inline constexpr const char* kMuted = "#9aa3ad";

struct TallyViews;  // the 常客 and 品項 views (regulars.cpp)

struct BookWindow {
  std::filesystem::path root;
  std::unique_ptr<receiptora::store::Book> book;          // null until the folder's first receipt
  std::unique_ptr<receiptora::reports::BookWatch> watch;  // what other processes commit to it
  receiptora::YearMonth month{};
  long long invoice_standard = 0;
  std::vector<receiptora::store::ListRow> month_rows;  // the month's receipts, read once per change
  std::vector<receiptora::store::ListRow> rows;        // those that match the search
  int top = 0;                                         // the first row drawn
  int selected = -1;                                   // index into rows, -1: none
  bool summary_due = false;  // the month's figures wait until the first list is on screen

  py::object module;  // receiptora._shop: collaborators looked up when used (tests replace them)
  py::object app, tk, canvas, canvas_path, scrollbar, search, month_label, summary_label, status_label;
  py::object days_canvas, months_canvas, sentence_label, buttons;
  py::object empty_text;    // the list's canvas text shown when no row is
  py::object backup_label;  // when the folder was last backed up
  // Callbacks that reschedule themselves (they hold themselves weakly); dropped at close.
  std::vector<std::shared_ptr<py::object>> pending_checks;
  std::string font_family;
  // Canvas items of the drawn rows: a background and one text per column, reused on scroll.
  std::vector<py::object> row_backgrounds;
  std::vector<std::vector<py::object>> row_texts;
  std::shared_ptr<TallyViews> tallies;  // null until built

  // Drops every Python object (the handlers close over this state: the cycle ends here).
  void release();
};

// Window parts (window.cpp).
void reload_rows(BookWindow& w);   // the list from the book for the month and search text
void redraw_rows(BookWindow& w);   // the visible rows and the scrollbar
void reload_month(BookWindow& w);  // caption, list, summary and charts
void draw_summary(BookWindow& w);  // the month's figures, charts and the last backup
void show_status(BookWindow& w, const std::string& text, bool error);
// Opens the folder's book once it exists (true when it does); nothing is ever created.
bool open_book(BookWindow& w);
// Reads the list and the figures again after a change elsewhere, keeping selection and scroll.
void follow_changes(BookWindow& w);
const receiptora::store::ListRow* selected_row(const BookWindow& w);
// `text` cut after max_chars characters with "…", so a 5,000-character buyer stays one line.
std::string cut(const std::string& text, size_t max_chars);

// The 常客 and 品項 views (regulars.cpp): a switch 收據｜常客｜品項 in `bar` and a table in the
// list's place (`list` is hidden while a view shows). Read again when the month or the book
// changes, filtered by the search text.
void build_tally_views(BookWindow& w, py::handle bar, int column, py::handle list);
void refresh_tally_views(BookWindow& w);
void filter_tally_views(BookWindow& w);
// True while the receipts' list is the one shown (the receipt actions need it).
bool showing_receipts(const BookWindow& w);

// Actions (actions.cpp); each reports in the status line and logs failures.
void open_receipt(BookWindow& w);
void print_receipt(BookWindow& w);
void reprint_receipt(BookWindow& w);
void void_receipt(BookWindow& w);
void open_folder(BookWindow& w);
void export_excel(BookWindow& w);
void month_report(BookWindow& w);
void for_the_accountant(BookWindow& w);
void back_up(BookWindow& w);
void copy_picture(BookWindow& w);

// Runs `action` for a Tk callback: a failure is shown in the status line and written to the
// error log, never raised into Tk. KeyboardInterrupt and SystemExit pass through.
template <class F>
void guarded(BookWindow& w, const char* what, F&& action);
void report_failure(BookWindow& w, const char* what, const std::string& message);

template <class F>
void guarded(BookWindow& w, const char* what, F&& action) {
  try {
    action();
  } catch (py::error_already_set& error) {
    if (error.matches(PyExc_KeyboardInterrupt) || error.matches(PyExc_SystemExit)) throw;
    report_failure(w, what, error.what());
  } catch (const std::exception& error) {
    report_failure(w, what, error.what());
  }
}

}  // namespace receiptora_shop
