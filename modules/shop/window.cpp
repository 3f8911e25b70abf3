// The 收據簿 window: month navigation and search on top, the list (a Canvas whose fixed pool
// of row items is re-filled on scroll, so 10,000 rows cost what 14 do), the actions, and
// under them the month's figures with the daily and twelve-month charts.
#include <pybind11/pybind11.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "book_window.hpp"
#include "dialogs.hpp"
#include "receiptora/log_file.hpp"
#include "receiptora/receipt_texts.hpp"
#include "receiptora/reports/duplicates.hpp"
#include "receiptora/reports/month_view.hpp"
#include "receiptora/store/backup.hpp"
#include "receiptora/store/profile.hpp"
#include "receiptora/store/signing.hpp"
#include "registration.hpp"

namespace receiptora_shop {

namespace {

using namespace pybind11::literals;
namespace reports = receiptora::reports;
namespace store = receiptora::store;
namespace fs = std::filesystem;

constexpr int kChartHeight = 130;
constexpr const char* kGreyed = "#6f7377";
constexpr const char* kBar = "#3b8ed0";
constexpr const char* kReference = "#e05a5a";
constexpr const char* kError = "#ff7b72";
constexpr int kQuietPollMs = 5000;
constexpr int kLivePollMs = 400;
constexpr int kChainPollMs = 200;  // how often the window looks whether the chain is walked
constexpr int kSummaryAtLatestMs = 300;
constexpr int kBackupDays = 30;  // without a backup, the window reminds the shop to make one  // how often
                                 // the book is asked whether another process changed it

struct Column {
  const char* heading;
  int x;
  const char* anchor;
  size_t max_chars;  // longer texts are cut with "…": a 5,000-character buyer stays one line
};
constexpr Column kColumnsAt[kColumns] = {
    {"號碼", 12, "w", 24},      {"日期", 215, "w", 12}, {"買受人", 320, "w", 26},
    {"統一編號", 660, "w", 10}, {"合計", 905, "e", 16}, {"狀態", 935, "w", 4},
};

py::object ctk() { return py::module_::import("customtkinter"); }

py::tuple font(const BookWindow& w, int size) { return py::make_tuple(w.font_family, size); }

int row_count(const BookWindow& w) { return static_cast<int>(w.rows.size()); }

void scroll_to(BookWindow& w, int top) {
  const int last = std::max(0, row_count(w) - kVisibleRows);
  top = std::clamp(top, 0, last);
  if (top == w.top) return;
  w.top = top;
  redraw_rows(w);
}

void select(BookWindow& w, int index) {
  if (row_count(w) == 0) return;
  w.selected = std::clamp(index, 0, row_count(w) - 1);
  if (w.selected < w.top) w.top = w.selected;
  if (w.selected >= w.top + kVisibleRows) w.top = w.selected - kVisibleRows + 1;
  redraw_rows(w);
}

// customtkinter polls the appearance mode and the DPI scaling about 43 times a second; the
// window fixes both, so while it is open they are polled every 5 s (as in the receipt window).
struct QuietPolls {
  std::vector<std::pair<py::object, py::object>> saved;
  QuietPolls() {
    for (const char* name : {"AppearanceModeTracker", "ScalingTracker"}) {
      py::object tracker = ctk().attr(name);
      saved.emplace_back(tracker, tracker.attr("update_loop_interval"));
      tracker.attr("update_loop_interval") = kQuietPollMs;
    }
  }
  ~QuietPolls() {
    for (auto& [tracker, interval] : saved) tracker.attr("update_loop_interval") = interval;
  }
};

// Tcl runs the timers of every interpreter of a thread, and customtkinter keeps each window it
// has seen in class-level registries: a closed window's pending ticks are cancelled and the
// window forgotten, so nothing of it runs inside the next window the process opens.
void forget_window(py::handle app) {
  try {
    py::object tcl = app.attr("tk");
    for (py::handle id : tcl.attr("splitlist")(tcl.attr("call")("after", "info")))
      tcl.attr("call")("after", "cancel", id);
    py::list apps = ctk().attr("AppearanceModeTracker").attr("app_list");
    while (apps.contains(app)) apps.attr("remove")(app);
    py::dict scaling = ctk().attr("ScalingTracker").attr("window_dpi_scaling_dict");
    for (py::handle window : py::list(scaling.attr("keys")()))
      if (py::object(window.attr("tk")).is(tcl)) scaling.attr("pop")(window);
  } catch (py::error_already_set&) {
    // Only memory is at stake; the window closes anyway.
  }
}

void draw_bars(BookWindow& w, py::handle canvas, const std::vector<std::pair<std::string, double>>& bars,
               double reference, const std::string& reference_label) {
  const std::string path = py::str(canvas);
  py::object call = w.tk.attr("call");
  call(path, "delete", "all");
  const double width = canvas.attr("winfo_reqwidth")().cast<double>();
  const double left = 8, bottom = kChartHeight - 18, height = kChartHeight - 30;
  double top_value = reference;
  for (const auto& bar : bars) top_value = std::max(top_value, bar.second);
  if (top_value <= 0) top_value = 1;
  top_value *= 1.08;
  const double slot = (width - 2 * left) / static_cast<double>(std::max<size_t>(1, bars.size()));
  for (size_t i = 0; i < bars.size(); ++i) {
    const double x = left + slot * static_cast<double>(i);
    const double h = std::max(0.0, bars[i].second) / top_value * height;
    if (h > 0)
      call(path, "create", "rectangle", x + slot * 0.15, bottom - h, x + slot * 0.85, bottom, "-fill", kBar,
           "-width", 0);
    if (!bars[i].first.empty())
      call(path, "create", "text", x + slot / 2, bottom + 9, "-text", bars[i].first, "-fill", kMuted, "-font",
           font(w, 9));
  }
  if (reference > 0) {
    const double y = bottom - reference / top_value * height;
    call(path, "create", "line", left, y, width - left, y, "-fill", kReference, "-dash",
         py::make_tuple(4, 3));
    call(path, "create", "text", width - left, y - 8, "-text", reference_label, "-fill", kReference,
         "-anchor", "e", "-font", font(w, 9));
  }
}

// When the folder was last backed up, and a reminder after kBackupDays without one.
void draw_backup(BookWindow& w) {
  if (!w.book) return;
  const std::optional<std::string> last = store::last_backup(*w.book);
  const auto when = last ? reports::parse_iso_time(*last) : std::nullopt;
  if (!when) {
    w.backup_label.attr("configure")(
        "text"_a = "還沒有備份過：按「備份」把收據簿與收據複製到隨身碟或另一個資料夾",
        "text_color"_a = kError);
    return;
  }
  const auto days =
      std::chrono::duration_cast<std::chrono::hours>(std::chrono::system_clock::now() - *when).count() / 24;
  const std::string day = reports::roc_day_caption(last->substr(0, 10));
  if (days > kBackupDays)
    w.backup_label.attr("configure")(
        "text"_a = "上次備份是 " + std::to_string(days) + " 天前（" + day + "），請按「備份」再備份一次",
        "text_color"_a = kError);
  else
    w.backup_label.attr("configure")("text"_a = "上次備份：" + day, "text_color"_a = kMuted);
}

}  // namespace

void draw_summary(BookWindow& w) {
  w.summary_due = false;
  draw_backup(w);
  const std::string key = reports::month_key(w.month);
  const std::string last = std::to_string(receiptora::days_in_month(w.month));
  const store::Summary summary =
      w.book ? store::summarize(*w.book, key + "-01", key + "-" + (last.size() < 2 ? "0" : "") + last)
             : store::Summary{};
  w.summary_label.attr("configure")(
      "text"_a = reports::roc_month_caption(w.month) + "：已開立 " + std::to_string(summary.receipts) +
                 " 張，合計 NT$ " + reports::amount_caption(summary.total) + "（不含作廢）　作廢 " +
                 std::to_string(summary.voided) + " 張");
  std::vector<std::pair<std::string, double>> days;
  const std::vector<double> totals = reports::daily_totals(summary, w.month);
  for (size_t d = 0; d < totals.size(); ++d) {
    const int day = static_cast<int>(d) + 1;
    days.emplace_back(day == 1 || day % 5 == 0 ? std::to_string(day) : "", totals[d]);
  }
  draw_bars(w, w.days_canvas, days, 0, "");
  std::vector<store::MonthTotal> months;
  if (w.book) {
    months = reports::twelve_months(*w.book, w.month);
  } else {
    for (int back = 11; back >= 0; --back)
      months.push_back({reports::month_key(receiptora::shift_month(w.month, -back)), 0, "0"});
  }
  std::vector<std::pair<std::string, double>> bars;
  for (const store::MonthTotal& m : months)
    bars.emplace_back(std::to_string(std::stoi(m.month.substr(5))) + "月", reports::amount_value(m.total));
  draw_bars(w, w.months_canvas, bars, static_cast<double>(w.invoice_standard),
            "使用統一發票標準 " + reports::amount_caption(std::to_string(w.invoice_standard)));
  w.sentence_label.attr("configure")("text"_a = w.book
                                                    ? reports::standard_sentence(months, w.invoice_standard)
                                                    : std::string("還沒有開立過收據。"));
}

namespace {

void build_list(BookWindow& w, py::handle parent) {
  py::module_ tkinter = py::module_::import("tkinter");
  const int height = (kVisibleRows + 1) * kRowHeight;
  w.canvas = tkinter.attr("Canvas")(parent, "width"_a = kListWidth, "height"_a = height, "bg"_a = kBackground,
                                    "highlightthickness"_a = 0, "takefocus"_a = 1);
  w.canvas.attr("grid")("row"_a = 0, "column"_a = 0, "sticky"_a = "nsew");
  w.canvas_path = py::str(w.canvas);
  py::object call = w.tk.attr("call");
  for (const Column& column : kColumnsAt)
    call(w.canvas_path, "create", "text", column.x, kRowHeight / 2, "-text", column.heading, "-anchor",
         column.anchor, "-fill", kMuted, "-font", font(w, 12));
  for (int r = 0; r < kVisibleRows; ++r) {
    const int y = (r + 1) * kRowHeight;
    w.row_backgrounds.push_back(call(w.canvas_path, "create", "rectangle", 0, y, kListWidth, y + kRowHeight,
                                     "-width", 0, "-fill", kRowColour));
    std::vector<py::object> texts;
    for (const Column& column : kColumnsAt)
      texts.push_back(call(w.canvas_path, "create", "text", column.x, y + kRowHeight / 2, "-text", "",
                           "-anchor", column.anchor, "-fill", kText, "-font", font(w, 12)));
    w.row_texts.push_back(std::move(texts));
  }
  w.empty_text = call(w.canvas_path, "create", "text", kListWidth / 2, (kVisibleRows + 1) * kRowHeight / 2,
                      "-text", "", "-justify", "center", "-fill", kMuted, "-font", font(w, 14));
}

// What the list says when it shows no row: before the first receipt, how to issue one.
std::string empty_caption(const BookWindow& w) {
  if (!w.book)
    return "還沒有收據。\n\n在「收據」視窗填好買受人與品項，按「輸出單據」就會開立第一張；\n"
           "也可以用 receiptora render 由 CSV 或 JSON 檔開立。\n開立後會立刻出現在這裡。";
  if (w.month_rows.empty()) return "這個月沒有收據";
  return w.rows.empty() ? "沒有符合搜尋的收據" : "";
}

}  // namespace

void BookWindow::release() {
  module = app = tk = canvas = canvas_path = scrollbar = search = month_label = empty_text = backup_label =
      py::object();
  summary_label = status_label = days_canvas = months_canvas = sentence_label = buttons = py::object();
  pending_checks.clear();
  tallies.reset();
  row_backgrounds.clear();
  row_texts.clear();
  rows.clear();
  month_rows.clear();
  watch.reset();
  book.reset();
}

std::string cut(const std::string& text, size_t max_chars) {
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // continuation byte
    if (++chars > max_chars) return text.substr(0, i) + "…";
  }
  return text;
}

const store::ListRow* selected_row(const BookWindow& w) {
  return w.selected >= 0 && w.selected < row_count(w) ? &w.rows[static_cast<size_t>(w.selected)] : nullptr;
}

void redraw_rows(BookWindow& w) {
  py::object call = w.tk.attr("call");
  for (int r = 0; r < kVisibleRows; ++r) {
    const int index = w.top + r;
    const store::ListRow* row = index < row_count(w) ? &w.rows[static_cast<size_t>(index)] : nullptr;
    const bool greyed = row && row->state != store::State::Issued;
    const char* background = index == w.selected && row ? kSelected : (r % 2 ? kRowAlternate : kRowColour);
    call(w.canvas_path, "itemconfigure", w.row_backgrounds[static_cast<size_t>(r)], "-fill", background);
    const std::string texts[kColumns] = {
        row ? row->number : "",
        row ? reports::roc_day_caption(row->date) : "",
        row ? row->buyer : "",
        row ? row->buyer_tax_id : "",
        row ? reports::amount_caption(row->total) : "",
        row ? std::string(reports::state_caption(row->state)) : "",
    };
    for (int c = 0; c < kColumns; ++c)
      call(w.canvas_path, "itemconfigure", w.row_texts[static_cast<size_t>(r)][static_cast<size_t>(c)],
           "-text", cut(texts[c], kColumnsAt[c].max_chars), "-fill", greyed ? kGreyed : kText);
  }
  call(w.canvas_path, "itemconfigure", w.empty_text, "-text", empty_caption(w));
  const double n = std::max(1, row_count(w));
  w.scrollbar.attr("set")(std::min(1.0, w.top / n), std::min(1.0, (w.top + kVisibleRows) / n));
}

void filter_rows(BookWindow& w) {
  const std::string selected = selected_row(w) ? selected_row(w)->number : "";
  const std::string search = py::str(w.search.attr("get")());
  w.rows.clear();
  w.selected = -1;
  for (const store::ListRow& row : w.month_rows) {
    if (!reports::matches(row, search)) continue;
    if (row.number == selected) w.selected = row_count(w);
    w.rows.push_back(row);
  }
  w.top = std::clamp(w.top, 0, std::max(0, row_count(w) - kVisibleRows));
  redraw_rows(w);
}

void reload_rows(BookWindow& w) {
  if (w.book) {
    py::gil_scoped_release unlocked;
    w.month_rows = store::list_receipts(*w.book, reports::month_key(w.month), "");
  }
  filter_rows(w);
}

bool open_book(BookWindow& w) {
  if (w.book) return true;
  std::error_code ec;
  if (!fs::is_regular_file(w.root / std::string(store::kBookName), ec)) return false;
  {
    py::gil_scoped_release unlocked;
    w.book = store::open_book_for_reading(w.root);  // the window only reads: it writes through issuing
    if (!w.book) return false;
    w.watch = std::make_unique<reports::BookWatch>(*w.book);
  }
  return true;
}

void follow_changes(BookWindow& w) {
  if (!w.book) {
    if (!open_book(w)) return;
  } else {
    py::gil_scoped_release unlocked;
    if (!w.watch->changed()) return;
  }
  reload_rows(w);
  draw_summary(w);
  refresh_tally_views(w);
}

void reload_month(BookWindow& w) {
  w.month_label.attr("configure")("text"_a = reports::roc_month_caption(w.month));
  w.top = 0;
  w.selected = -1;
  reload_rows(w);
  draw_summary(w);
  refresh_tally_views(w);
}

void show_status(BookWindow& w, const std::string& text, bool error) {
  w.status_label.attr("configure")("text"_a = text, "text_color"_a = error ? kError : kMuted);
}

void report_failure(BookWindow& w, const char* what, const std::string& message) {
  receiptora::append_to_log(receiptora::default_log_path(), "=== " + receiptora::local_iso_timestamp() +
                                                                " 收據簿 " + what + "\n" + message + "\n");
  try {
    show_status(w, std::string(what) + "失敗：" + message, true);
  } catch (py::error_already_set&) {
    // The window is gone; the log holds the failure.
  }
}

namespace {

// The month's figures and charts read the whole book (twelve months of totals): they are drawn
// once the list is on screen. Tk redraws a canvas in an idle handler queued by its Expose, so
// the idle callback queued after it runs once the list is drawn; its timer then fires after Tk
// has sent the drawing to the display. A window never exposed gets them after a moment anyway.
void draw_summary_after_list(const std::shared_ptr<BookWindow>& w) {
  w->summary_due = true;
  py::object draw = py::cpp_function([w] {
    guarded(*w, "統計", [&] {
      if (w->summary_due) draw_summary(*w);
    });
  });
  py::object after_list =
      py::cpp_function([w, draw] { guarded(*w, "統計", [&] { w->app.attr("after")(0, draw); }); });
  w->canvas.attr("bind")("<Expose>", py::cpp_function([w, after_list](py::object) {
                           if (w->summary_due)
                             guarded(*w, "統計", [&] { w->app.attr("after_idle")(after_list); });
                         }),
                         "+");
  w->app.attr("after")(kSummaryAtLatestMs, draw);
}

// The chain of signatures, walked on a thread of its own with its own connection (a book of
// 100,000 receipts takes seconds), shown in the status line once done unless an action has
// said something there meanwhile.
void show_chain_when_walked(const std::shared_ptr<BookWindow>& w) {
  struct Walk {
    std::atomic<bool> done{false};
    std::string text;
    bool broken = false;
  };
  auto walk = std::make_shared<Walk>();
  std::thread([walk, root = w->root] {
    try {
      store::read_book_once(root, [&](const store::Book& book) {
        const store::ChainReport chain = store::verify_chain(book);
        if (!chain.whole()) {
          walk->text =
              "驗證鏈斷開於 " + chain.broken_at + "：" + chain.problem + "（請執行 receiptora check）";
          walk->broken = true;
        } else if (chain.links > 0) {
          walk->text =
              "驗證鏈完整：" + receiptora::grouped_figures(mpz_class(std::to_string(chain.links))) + " 張";
        }
      });
    } catch (const std::exception& error) {
      walk->text = std::string("驗證鏈無法檢查：") + error.what();
      walk->broken = true;
    }
    walk->done = true;
  }).detach();
  auto poll = std::make_shared<py::object>();
  *poll = py::cpp_function([w, walk, weak = std::weak_ptr<py::object>(poll)] {
    if (!w->app) return;
    if (!walk->done) {
      if (auto again = weak.lock()) w->app.attr("after")(kChainPollMs, *again);
      return;
    }
    if (!walk->text.empty() && py::str(w->status_label.attr("cget")("text")).cast<std::string>().empty())
      show_status(*w, walk->text, walk->broken);
  });
  w->pending_checks.push_back(poll);
  w->app.attr("after")(kChainPollMs, *poll);
}

void open_book_window(const std::filesystem::path& root, int year, int month) {
  auto w = std::make_shared<BookWindow>();
  w->root = root;
  // Read without creating anything: a folder before its first receipt has no profile yet.
  std::error_code no_profile;
  w->invoice_standard = fs::is_regular_file(root / std::string(store::kProfileName), no_profile)
                            ? store::read_profile(root).invoice_standard
                            : store::ProfileRead{}.invoice_standard;
  const receiptora::CalendarDate today = receiptora::today_local();
  w->month = month >= 1 && month <= 12 ? receiptora::YearMonth{year, month}
                                       : receiptora::YearMonth{today.year, today.month};
  w->module = py::module_::import("receiptora._shop");

  py::object customtkinter = ctk();
  customtkinter.attr("set_appearance_mode")("dark");
  customtkinter.attr("set_default_color_theme")("blue");
  QuietPolls quiet;
  // The class a dock matches to the 收據簿 launcher (its StartupWMClass).
  w->app = customtkinter.attr("CTk")("className"_a = "receiptora-book");
  struct Release {
    std::shared_ptr<BookWindow> w;
    ~Release() {
      try {
        if (w->app) {
          forget_window(w->app);
          w->app.attr("destroy")();
        }
      } catch (py::error_already_set&) {
      }
      w->release();
    }
  } release{w};
  BookWindow& s = *w;
  s.tk = s.app.attr("tk");
  s.app.attr("title")("收據簿");
  s.app.attr("resizable")(false, false);
  use_taiwan_dialogs(s.app);  // and the keys a Windows user expects in its search box
  s.buttons = py::module_::import("quillmarkers_model").attr("Customtkinter_Model")().attr("Set_Button")();
  auto handler = [w](const char* what, void (*action)(BookWindow&)) {
    return py::cpp_function([w, what, action] { guarded(*w, what, [&] { action(*w); }); });
  };

  // Month navigation and search.
  py::object bar = customtkinter.attr("CTkFrame")(s.app, "fg_color"_a = "transparent");
  bar.attr("grid")("row"_a = 0, "column"_a = 0, "sticky"_a = "ew", "padx"_a = 12,
                   "pady"_a = py::make_tuple(12, 6));
  auto step = [w](int months) {
    return py::cpp_function([w, months] {
      guarded(*w, "換月", [&] {
        w->month = receiptora::shift_month(w->month, months);
        reload_month(*w);
      });
    });
  };
  py::object previous =
      s.buttons.attr("add_button")(bar, "button_name"_a = "上個月", "text"_a = "‹", "width"_a = 36,
                                   "button_event"_a = step(-1), "row"_a = 0, "column"_a = 0);
  // The kit's CJK family, the receipt window's font.
  s.font_family = py::str(previous.attr("cget")("font").attr("cget")("family"));
  s.month_label =
      customtkinter.attr("CTkLabel")(bar, "text"_a = "", "width"_a = 130,
                                     "font"_a = customtkinter.attr("CTkFont")(
                                         "family"_a = s.font_family, "size"_a = 18, "weight"_a = "bold"));
  s.month_label.attr("grid")("row"_a = 0, "column"_a = 1, "padx"_a = 6);
  s.buttons.attr("add_button")(bar, "button_name"_a = "下個月", "text"_a = "›", "width"_a = 36,
                               "button_event"_a = step(1), "row"_a = 0, "column"_a = 2);
  py::object search_text = py::module_::import("tkinter").attr("StringVar")(s.app);
  s.search = customtkinter.attr("CTkEntry")(
      bar, "textvariable"_a = search_text, "width"_a = 360,
      "font"_a = customtkinter.attr("CTkFont")("family"_a = s.font_family, "size"_a = 14));
  s.search.attr("grid")("row"_a = 0, "column"_a = 4);
  // A placeholder would not show: customtkinter drops it for an entry with a text variable.
  customtkinter
      .attr("CTkLabel")(bar, "text"_a = "搜尋（號碼、買受人、統一編號或訂單）",
                        "font"_a = customtkinter.attr("CTkFont")("family"_a = s.font_family, "size"_a = 13))
      .attr("grid")("row"_a = 0, "column"_a = 3, "padx"_a = py::make_tuple(30, 8));
  search_text.attr("trace_add")("write", py::cpp_function([w](py::args) {
                                  guarded(*w, "搜尋", [&] {
                                    w->top = 0;
                                    filter_rows(*w);
                                    filter_tally_views(*w);
                                  });
                                }));

  // The list and its scrollbar.
  py::object list = customtkinter.attr("CTkFrame")(s.app, "fg_color"_a = kBackground);
  list.attr("grid")("row"_a = 1, "column"_a = 0, "padx"_a = 12, "pady"_a = 6);
  build_list(s, list);
  s.scrollbar = customtkinter.attr("CTkScrollbar")(
      list, "command"_a = py::cpp_function([w](py::args args) {
              guarded(*w, "捲動", [&] {
                const std::string how = py::str(args[0]);
                if (how == "moveto")
                  scroll_to(
                      *w, static_cast<int>(std::lround(py::float_(args[1]).cast<double>() * row_count(*w))));
                else if (args.size() >= 3)
                  scroll_to(*w, w->top + py::int_(args[1]).cast<int>() *
                                             (std::string(py::str(args[2])) == "pages" ? kVisibleRows : 1));
              });
            }));
  s.scrollbar.attr("grid")("row"_a = 0, "column"_a = 1, "sticky"_a = "ns");
  build_tally_views(s, bar, 5, list);
  auto wheel = [w](int rows) {
    return py::cpp_function(
        [w, rows](py::object) { guarded(*w, "捲動", [&] { scroll_to(*w, w->top + rows); }); });
  };
  s.canvas.attr("bind")("<Button-4>", wheel(-3));
  s.canvas.attr("bind")("<Button-5>", wheel(3));
  s.canvas.attr("bind")(
      "<MouseWheel>", py::cpp_function([w](py::object event) {
        guarded(*w, "捲動", [&] { scroll_to(*w, w->top + (event.attr("delta").cast<int>() > 0 ? -3 : 3)); });
      }));
  s.canvas.attr("bind")("<Button-1>", py::cpp_function([w](py::object event) {
                          guarded(*w, "選取", [&] {
                            w->canvas.attr("focus_set")();
                            const int row = event.attr("y").cast<int>() / kRowHeight - 1;
                            if (row >= 0 && w->top + row < row_count(*w)) select(*w, w->top + row);
                          });
                        }));
  s.canvas.attr("bind")("<Double-Button-1>", py::cpp_function([w](py::object) {
                          guarded(*w, "開啟", [&] { open_receipt(*w); });
                        }));
  auto key_step = [w](int rows) {
    return py::cpp_function([w, rows](py::object) {
      guarded(*w, "選取", [&] { select(*w, w->selected < 0 ? w->top : w->selected + rows); });
    });
  };
  for (py::handle widget : {s.canvas, s.search}) {
    widget.attr("bind")("<Down>", key_step(1));
    widget.attr("bind")("<Up>", key_step(-1));
    widget.attr("bind")("<Next>", key_step(kVisibleRows));
    widget.attr("bind")("<Prior>", key_step(-kVisibleRows));
  }
  s.canvas.attr("bind")(
      "<Return>", py::cpp_function([w](py::object) { guarded(*w, "開啟", [&] { open_receipt(*w); }); }));

  // The actions.
  py::object actions = customtkinter.attr("CTkFrame")(s.app, "fg_color"_a = "transparent");
  actions.attr("grid")("row"_a = 2, "column"_a = 0, "sticky"_a = "ew", "padx"_a = 12);
  const std::pair<const char*, void (*)(BookWindow&)> kActions[] = {
      {"開啟", open_receipt},         {"列印", print_receipt},
      {"複製圖片", copy_picture},     {"補印", reprint_receipt},
      {"作廢", void_receipt},         {"開啟資料夾", open_folder},
      {"匯出 Excel", export_excel},   {"月報表", month_report},
      {"給會計", for_the_accountant}, {"備份", back_up},
  };
  int column = 0;
  for (const auto& [name, action] : kActions) {
    const int gap = column == 5 ? 40 : 8;  // the month's exports apart from the receipt's actions
    s.buttons.attr("add_button")(actions, "button_name"_a = name, "text"_a = name, "width"_a = 100,
                                 "button_event"_a = handler(name, action), "row"_a = 0, "column"_a = column++,
                                 "padx"_a = py::make_tuple(0, gap));
  }
  s.status_label = customtkinter.attr("CTkLabel")(
      s.app, "text"_a = "", "anchor"_a = "w", "text_color"_a = kMuted,
      "font"_a = customtkinter.attr("CTkFont")("family"_a = s.font_family, "size"_a = 13));
  s.status_label.attr("grid")("row"_a = 3, "column"_a = 0, "sticky"_a = "ew", "padx"_a = 16);

  // The month's figures and charts.
  py::object figures = customtkinter.attr("CTkFrame")(s.app);
  figures.attr("grid")("row"_a = 4, "column"_a = 0, "sticky"_a = "ew", "padx"_a = 12, "pady"_a = 10);
  auto label = [&](int row, int size) {
    py::object made = customtkinter.attr("CTkLabel")(
        figures, "text"_a = "", "anchor"_a = "w", "justify"_a = "left",
        "font"_a = customtkinter.attr("CTkFont")("family"_a = s.font_family, "size"_a = size));
    made.attr("grid")("row"_a = row, "column"_a = 0, "columnspan"_a = 2, "sticky"_a = "w", "padx"_a = 10,
                      "pady"_a = 2);
    return made;
  };
  s.summary_label = label(0, 15);
  auto chart = [&](int column_at, int width) {
    py::object made =
        py::module_::import("tkinter").attr("Canvas")(figures, "width"_a = width, "height"_a = kChartHeight,
                                                      "bg"_a = kRowColour, "highlightthickness"_a = 0);
    made.attr("grid")("row"_a = 1, "column"_a = column_at, "padx"_a = 10, "pady"_a = 4);
    return made;
  };
  s.days_canvas = chart(0, 560);
  s.months_canvas = chart(1, 440);
  s.sentence_label = label(2, 13);
  s.backup_label = label(3, 13);

  s.app.attr("bind")("<Escape>", py::cpp_function([w](py::object) { w->app.attr("quit")(); }));
  s.app.attr("protocol")("WM_DELETE_WINDOW", py::cpp_function([w] { w->app.attr("quit")(); }));
  open_book(s);
  s.month_label.attr("configure")("text"_a = reports::roc_month_caption(s.month));
  reload_rows(s);
  draw_summary_after_list(w);
  // The book is live: receipts issued, voided or reprinted elsewhere appear while the window is
  // open (and the first receipt's book is opened once it exists).
  auto live = std::make_shared<py::object>();
  *live = py::cpp_function([w, weak = std::weak_ptr<py::object>(live)] {
    guarded(*w, "更新", [&] { follow_changes(*w); });
    if (auto again = weak.lock(); again && w->app) w->app.attr("after")(kLivePollMs, *again);
  });
  s.app.attr("after")(kLivePollMs, *live);
  show_chain_when_walked(w);
  s.search.attr("focus_set")();
  s.app.attr("mainloop")();
}

}  // namespace

void register_window(py::module_& m) {
  m.attr("OPENER") = "xdg-open";
  m.def("book_window", &open_book_window, py::arg("root"), py::arg("year") = 0, py::arg("month") = 0,
        "Opens the 收據簿 window on the book in the output folder `root` at a month (default: this month); "
        "returns when it is closed.");
}

}  // namespace receiptora_shop
