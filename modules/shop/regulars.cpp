// The 收據簿 window's 常客 and 品項 views: a switch 收據｜常客｜品項 beside the search box, and in
// the list's place a table of the month's or the year's buyers or items (reports/regulars),
// sorted by a click on a column's heading. Like the list, one Canvas with a fixed pool of rows.
#include <pybind11/pybind11.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include "book_window.hpp"
#include "receiptora/reports/month_view.hpp"
#include "receiptora/reports/regulars.hpp"

namespace receiptora_shop {

namespace {

using namespace pybind11::literals;
namespace reports = receiptora::reports;

constexpr int kTallyRows = 12;    // rows drawn under the headings
constexpr int kPeriodBar = 40;    // the line with 本月｜全年 above the table
constexpr int kTallyColumns = 6;  // the most a view has
constexpr const char* kReceipts = "收據";
constexpr const char* kBuyers = "常客";
constexpr const char* kItems = "品項";
constexpr const char* kMonth = "本月";
constexpr const char* kYear = "全年";
// The book changing under a shown view (a batch issuing elsewhere) reads it again at most this
// often: the year's 品項 of 100,000 receipts takes a quarter of a second, which at every change
// would hold the window.
constexpr auto kLiveReload = std::chrono::seconds(2);

struct TallyColumn {
  const char* heading;
  int x;
  const char* anchor;
  size_t max_chars;
  bool figures;  // a number column: its first click sorts largest first
};
constexpr TallyColumn kBuyerColumns[] = {
    {"買受人", 12, "w", 30, false}, {"統一編號", 470, "w", 10, false}, {"張數", 680, "e", 10, true},
    {"合計", 860, "e", 22, true},   {"最近日期", 900, "w", 12, false},
};
constexpr TallyColumn kItemColumns[] = {
    {"品名", 12, "w", 30, false}, {"數量", 500, "e", 16, true},     {"金額", 680, "e", 22, true},
    {"張數", 760, "e", 10, true}, {"最近單價", 880, "e", 14, true}, {"最近日期", 910, "w", 12, false},
};

}  // namespace

enum class Kind { Receipts, Buyers, Items };

struct TallyViews {
  Kind kind = Kind::Receipts;
  bool whole_year = false;
  bool buyers_stale = true, items_stale = true;  // read again before they are next shown
  py::object list, frame, canvas, scrollbar, caption, period, views;
  std::string path;
  std::vector<py::object> headings, backgrounds;
  std::vector<std::vector<py::object>> texts;
  std::vector<reports::BuyerTally> buyers;
  std::vector<reports::ItemTally> items;
  std::vector<size_t> shown;  // the rows that match the search, in sorted order
  // When and for which period the shown view was read, and the reload waiting for its turn.
  std::chrono::steady_clock::time_point loaded_at{};
  reports::Period loaded_period{};
  bool reload_waiting = false;
  py::object reload_later;
  int buyer_sort = static_cast<int>(reports::BuyerColumn::Total),
      item_sort = static_cast<int>(reports::ItemColumn::Amount);
  bool buyer_descending = true, item_descending = true;
  int top = 0, selected = -1;
};

namespace {

const TallyColumn* columns_of(Kind kind, size_t& count) {
  count = kind == Kind::Items ? std::size(kItemColumns) : std::size(kBuyerColumns);
  return kind == Kind::Items ? kItemColumns : kBuyerColumns;
}

reports::Period period_of(const BookWindow& w) {
  return {w.month.year, w.tallies->whole_year ? 0 : w.month.month};
}

std::vector<std::string> cells(const TallyViews& v, size_t row) {
  if (v.kind == Kind::Buyers) {
    const reports::BuyerTally& b = v.buyers[row];
    return {reports::buyer_caption(b), b.buyer_tax_id, std::to_string(b.receipts),
            reports::amount_caption(b.total), reports::roc_day_caption(b.last_day)};
  }
  const reports::ItemTally& i = v.items[row];
  return {reports::item_caption(i),
          reports::amount_caption(i.quantity),
          reports::amount_caption(i.amount),
          std::to_string(i.receipts),
          reports::amount_caption(i.last_unit_price),
          reports::roc_day_caption(i.last_day)};
}

void draw(BookWindow& w) {
  TallyViews& v = *w.tallies;
  py::object call = w.tk.attr("call");
  size_t count = 0;
  const TallyColumn* columns = columns_of(v.kind, count);
  const int sorted = v.kind == Kind::Buyers ? v.buyer_sort : v.item_sort;
  const bool descending = v.kind == Kind::Buyers ? v.buyer_descending : v.item_descending;
  for (size_t c = 0; c < kTallyColumns; ++c) {
    std::string heading = c < count ? columns[c].heading : "";
    if (c < count && static_cast<int>(c) == sorted) heading += descending ? " ▼" : " ▲";
    if (c < count) call(v.path, "coords", v.headings[c], columns[c].x, kRowHeight / 2);
    call(v.path, "itemconfigure", v.headings[c], "-text", heading, "-anchor",
         c < count ? columns[c].anchor : "w");
  }
  const int total = static_cast<int>(v.shown.size());
  for (int r = 0; r < kTallyRows; ++r) {
    const int index = v.top + r;
    const bool filled = index < total;
    const std::vector<std::string> texts =
        filled ? cells(v, v.shown[static_cast<size_t>(index)]) : std::vector<std::string>(count);
    call(v.path, "itemconfigure", v.backgrounds[static_cast<size_t>(r)], "-fill",
         filled && index == v.selected ? kSelected : (r % 2 ? kRowAlternate : kRowColour));
    const int y = (r + 1) * kRowHeight + kRowHeight / 2;
    for (size_t c = 0; c < kTallyColumns; ++c) {
      py::object item = v.texts[static_cast<size_t>(r)][c];
      if (c >= count) {
        call(v.path, "itemconfigure", item, "-text", "");
        continue;
      }
      call(v.path, "coords", item, columns[c].x, y);
      call(v.path, "itemconfigure", item, "-text", cut(texts[c], columns[c].max_chars), "-anchor",
           columns[c].anchor);
    }
  }
  const std::string period = reports::period_caption(period_of(w));
  const size_t all = v.kind == Kind::Buyers ? v.buyers.size() : v.items.size();
  const std::string unit = v.kind == Kind::Buyers ? " 位" : " 項";
  std::string caption = period + "：" + std::to_string(all) + unit +
                        (v.kind == Kind::Buyers ? "買受人" : "品項") + "（只算已開立的收據，不含作廢）";
  if (static_cast<size_t>(total) != all) caption += "，符合搜尋的 " + std::to_string(total) + unit;
  if (all == 0) caption = period + (w.book ? "：沒有已開立的收據" : "：還沒有收據");
  v.caption.attr("configure")("text"_a = caption);
  const double n = std::max(1, total);
  v.scrollbar.attr("set")(std::min(1.0, v.top / n), std::min(1.0, (v.top + kTallyRows) / n));
}

void filter(BookWindow& w) {
  TallyViews& v = *w.tallies;
  const std::string search = py::str(w.search.attr("get")());
  v.shown.clear();
  const size_t count = v.kind == Kind::Buyers ? v.buyers.size() : v.items.size();
  for (size_t i = 0; i < count; ++i)
    if (v.kind == Kind::Buyers ? reports::matches(v.buyers[i], search) : reports::matches(v.items[i], search))
      v.shown.push_back(i);
  v.top = std::clamp(v.top, 0, std::max(0, static_cast<int>(v.shown.size()) - kTallyRows));
  if (v.selected >= static_cast<int>(v.shown.size())) v.selected = -1;
  draw(w);
}

// The rows of the shown view, read from the book when they are stale (each view on its own:
// the year's 品項 reads every line of the year).
void load(BookWindow& w) {
  TallyViews& v = *w.tallies;
  if (v.kind == Kind::Receipts) return;
  const reports::Period period = period_of(w);
  if ((v.kind == Kind::Buyers && v.buyers_stale) || (v.kind == Kind::Items && v.items_stale)) {
    v.loaded_at = std::chrono::steady_clock::now();
    v.loaded_period = period;
  }
  if (v.kind == Kind::Buyers && v.buyers_stale) {
    std::vector<reports::BuyerTally> buyers;
    if (w.book) {
      py::gil_scoped_release unlocked;
      buyers = reports::buyer_tallies(*w.book, period);
      reports::sort_tallies(buyers, static_cast<reports::BuyerColumn>(v.buyer_sort), v.buyer_descending);
    }
    v.buyers = std::move(buyers);
    v.buyers_stale = false;
  } else if (v.kind == Kind::Items && v.items_stale) {
    std::vector<reports::ItemTally> items;
    if (w.book) {
      py::gil_scoped_release unlocked;
      items = reports::item_tallies(*w.book, period);
      reports::sort_tallies(items, static_cast<reports::ItemColumn>(v.item_sort), v.item_descending);
    }
    v.items = std::move(items);
    v.items_stale = false;
  }
  filter(w);
}

void build_table(BookWindow& w);

void show(BookWindow& w, Kind kind) {
  TallyViews& v = *w.tallies;
  if (kind == v.kind) return;
  v.kind = kind;
  v.top = 0;
  v.selected = -1;
  if (kind == Kind::Receipts) {
    v.frame.attr("grid_remove")();
    v.list.attr("grid")();
    w.canvas.attr("focus_set")();
    return;
  }
  if (!v.frame) build_table(w);
  v.list.attr("grid_remove")();
  v.frame.attr("grid")();
  v.canvas.attr("focus_set")();
  load(w);
}

void sort_by(BookWindow& w, int column) {
  TallyViews& v = *w.tallies;
  size_t count = 0;
  const TallyColumn* columns = columns_of(v.kind, count);
  if (column < 0 || column >= static_cast<int>(count)) return;
  int& sorted = v.kind == Kind::Buyers ? v.buyer_sort : v.item_sort;
  bool& descending = v.kind == Kind::Buyers ? v.buyer_descending : v.item_descending;
  // Again on the same heading turns the order round; a new column starts with the largest
  // figure, or with 一 for names and dates.
  descending = column == sorted ? !descending : columns[column].figures;
  sorted = column;
  if (v.kind == Kind::Buyers)
    reports::sort_tallies(v.buyers, static_cast<reports::BuyerColumn>(column), descending);
  else
    reports::sort_tallies(v.items, static_cast<reports::ItemColumn>(column), descending);
  v.top = 0;
  v.selected = -1;
  filter(w);
}

void scroll(BookWindow& w, int top) {
  TallyViews& v = *w.tallies;
  v.top = std::clamp(top, 0, std::max(0, static_cast<int>(v.shown.size()) - kTallyRows));
  draw(w);
}

void select(BookWindow& w, int index) {
  TallyViews& v = *w.tallies;
  const int total = static_cast<int>(v.shown.size());
  if (total == 0) return;
  v.selected = std::clamp(index, 0, total - 1);
  if (v.selected < v.top) v.top = v.selected;
  if (v.selected >= v.top + kTallyRows) v.top = v.selected - kTallyRows + 1;
  draw(w);
}

// A buyer's receipts: the list, searched for the buyer's name (or 統一編號 when there is none).
void open_buyer(BookWindow& w) {
  TallyViews& v = *w.tallies;
  if (v.kind != Kind::Buyers || v.selected < 0) return;
  const reports::BuyerTally& buyer = v.buyers[v.shown[static_cast<size_t>(v.selected)]];
  const std::string search = buyer.buyer.empty() ? buyer.buyer_tax_id : buyer.buyer;
  if (search.empty()) return show_status(w, "這些收據沒有填買受人，無法單獨列出", false);
  v.views.attr("set")(kReceipts);
  show(w, Kind::Receipts);
  w.search.attr("delete")(0, "end");
  w.search.attr("insert")(0, search);
  show_status(w, "本月 " + reports::buyer_caption(buyer) + " 的收據", false);
}

}  // namespace

bool showing_receipts(const BookWindow& w) { return !w.tallies || w.tallies->kind == Kind::Receipts; }

void refresh_tally_views(BookWindow& w) {
  if (!w.tallies) return;
  TallyViews& v = *w.tallies;
  v.buyers_stale = v.items_stale = true;
  if (v.kind == Kind::Receipts) return;
  const reports::Period period = period_of(w);
  const auto since = std::chrono::steady_clock::now() - v.loaded_at;
  if (period.year == v.loaded_period.year && period.month == v.loaded_period.month && since < kLiveReload) {
    if (!v.reload_waiting) {
      v.reload_waiting = true;
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kLiveReload - since);
      w.app.attr("after")(static_cast<int>(wait.count()) + 1, v.reload_later);
    }
    return;
  }
  load(w);
}

void filter_tally_views(BookWindow& w) {
  if (w.tallies && w.tallies->kind != Kind::Receipts) {
    w.tallies->top = 0;
    w.tallies->selected = -1;
    filter(w);
  }
}

namespace {

// An action of the views, guarded, doing nothing once the window has closed (the views live
// and die with the window's state).
py::cpp_function guarded_call(BookWindow* window, const char* what, std::function<void(py::args)> action) {
  return py::cpp_function([window, what, action](py::args args) {
    if (window->tallies) guarded(*window, what, [&] { action(args); });
  });
}

constexpr std::pair<const char*, int> kMoves[] = {
    {"<Down>", 1}, {"<Up>", -1}, {"<Next>", kTallyRows}, {"<Prior>", -kTallyRows}};

// Up, Down and the page keys move the selection in a view (from its table or the search box).
py::cpp_function moving(BookWindow* window, int step) {
  return guarded_call(window, "選取", [window, step](py::args) {
    TallyViews& t = *window->tallies;
    if (t.kind != Kind::Receipts) select(*window, t.selected < 0 ? t.top : t.selected + step);
  });
}

// The table of the views, built the first time one is shown: a window opened for its list
// does not pay for its canvas items.
void build_table(BookWindow& w) {
  TallyViews* v = w.tallies.get();
  py::object customtkinter = py::module_::import("customtkinter");
  py::object tkinter = py::module_::import("tkinter");
  py::object app = w.app;
  BookWindow* window = &w;
  auto font = [&](int size) {
    return customtkinter.attr("CTkFont")("family"_a = w.font_family, "size"_a = size);
  };

  // The table, as tall as the list it stands in for.
  v->frame = customtkinter.attr("CTkFrame")(app, "fg_color"_a = kBackground);
  v->frame.attr("grid")("row"_a = 1, "column"_a = 0, "padx"_a = 12, "pady"_a = 6);
  py::object top =
      customtkinter.attr("CTkFrame")(v->frame, "fg_color"_a = "transparent", "height"_a = kPeriodBar);
  top.attr("grid")("row"_a = 0, "column"_a = 0, "columnspan"_a = 2, "sticky"_a = "ew");
  top.attr("grid_propagate")(false);  // exactly kPeriodBar high: the view stands as tall as the list
  v->period = customtkinter.attr("CTkSegmentedButton")(
      top, "values"_a = py::make_tuple(kMonth, kYear), "font"_a = font(13),
      "command"_a = guarded_call(window, "切換", [window](py::args args) {
        window->tallies->whole_year = std::string(py::str(args[0])) == kYear;
        refresh_tally_views(*window);
      }));
  v->period.attr("set")(kMonth);
  v->period.attr("grid")("row"_a = 0, "column"_a = 0, "padx"_a = 10, "pady"_a = 6);
  v->caption =
      customtkinter.attr("CTkLabel")(top, "text"_a = "", "text_color"_a = kMuted, "font"_a = font(13));
  v->caption.attr("grid")("row"_a = 0, "column"_a = 1, "padx"_a = 10);

  const int height = (kVisibleRows + 1) * kRowHeight - kPeriodBar;
  v->canvas = tkinter.attr("Canvas")(v->frame, "width"_a = kListWidth, "height"_a = height,
                                     "bg"_a = kBackground, "highlightthickness"_a = 0, "takefocus"_a = 1);
  v->canvas.attr("grid")("row"_a = 1, "column"_a = 0, "sticky"_a = "nsew");
  v->path = py::str(v->canvas);
  py::object call = w.tk.attr("call");
  for (int c = 0; c < kTallyColumns; ++c) {
    v->headings.push_back(call(v->path, "create", "text", 0, kRowHeight / 2, "-text", "", "-fill", kMuted,
                               "-font", py::make_tuple(w.font_family, 12)));
    v->canvas.attr("tag_bind")(v->headings.back(), "<Button-1>",
                               guarded_call(window, "排序", [window, c](py::args) { sort_by(*window, c); }));
  }
  for (int r = 0; r < kTallyRows; ++r) {
    const int y = (r + 1) * kRowHeight;
    v->backgrounds.push_back(call(v->path, "create", "rectangle", 0, y, kListWidth, y + kRowHeight, "-width",
                                  0, "-fill", kRowColour));
    std::vector<py::object> texts;
    for (int c = 0; c < kTallyColumns; ++c)
      texts.push_back(call(v->path, "create", "text", 0, y + kRowHeight / 2, "-text", "", "-fill", kText,
                           "-font", py::make_tuple(w.font_family, 12)));
    v->texts.push_back(std::move(texts));
  }
  v->scrollbar = customtkinter.attr("CTkScrollbar")(
      v->frame, "command"_a = guarded_call(window, "捲動", [window](py::args args) {
                  TallyViews& t = *window->tallies;
                  const std::string how = py::str(args[0]);
                  if (how == "moveto")
                    scroll(*window, static_cast<int>(py::float_(args[1]).cast<double>() *
                                                     static_cast<double>(t.shown.size())));
                  else if (args.size() >= 3)
                    scroll(*window, t.top + py::int_(args[1]).cast<int>() *
                                                (std::string(py::str(args[2])) == "pages" ? kTallyRows : 1));
                }));
  v->scrollbar.attr("grid")("row"_a = 1, "column"_a = 1, "sticky"_a = "ns");
  auto wheel = [&](int rows) {
    return guarded_call(window, "捲動",
                        [window, rows](py::args) { scroll(*window, window->tallies->top + rows); });
  };
  v->canvas.attr("bind")("<Button-4>", wheel(-3));
  v->canvas.attr("bind")("<Button-5>", wheel(3));
  v->canvas.attr("bind")("<Button-1>", guarded_call(window, "選取", [window](py::args args) {
                           window->tallies->canvas.attr("focus_set")();
                           const int row = args[0].attr("y").cast<int>() / kRowHeight - 1;
                           if (row >= 0) select(*window, window->tallies->top + row);
                         }));
  v->canvas.attr("bind")("<Double-Button-1>",
                         guarded_call(window, "開啟", [window](py::args) { open_buyer(*window); }));
  v->canvas.attr("bind")("<Return>",
                         guarded_call(window, "開啟", [window](py::args) { open_buyer(*window); }));
  for (const auto& [key, step] : kMoves) v->canvas.attr("bind")(key, moving(window, step));
}

}  // namespace

void build_tally_views(BookWindow& w, py::handle bar, int column, py::handle list) {
  auto v = std::make_shared<TallyViews>();
  w.tallies = v;
  v->list = py::reinterpret_borrow<py::object>(list);
  py::object customtkinter = py::module_::import("customtkinter");
  BookWindow* window = &w;

  v->views = customtkinter.attr("CTkSegmentedButton")(
      bar, "values"_a = py::make_tuple(kReceipts, kBuyers, kItems),
      "font"_a = customtkinter.attr("CTkFont")("family"_a = w.font_family, "size"_a = 14),
      "command"_a = guarded_call(window, "切換", [window](py::args args) {
        const std::string chosen = py::str(args[0]);
        show(*window, chosen == kBuyers ? Kind::Buyers : chosen == kItems ? Kind::Items : Kind::Receipts);
      }));
  v->views.attr("set")(kReceipts);
  v->views.attr("grid")("row"_a = 0, "column"_a = column, "padx"_a = py::make_tuple(20, 0));

  for (const auto& [key, step] : kMoves) {
    py::object move = moving(window, step);
    w.search.attr("bind")(key, move, "+");  // from the search box too, as in the list
  }
  w.search.attr("bind")("<Return>", guarded_call(window, "開啟", [window](py::args) { open_buyer(*window); }),
                        "+");
  v->reload_later = guarded_call(window, "更新", [window](py::args) {
    window->tallies->reload_waiting = false;
    load(*window);
  });
}

}  // namespace receiptora_shop
