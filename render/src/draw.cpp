#include "draw.hpp"

#include <glib.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "receiptora/receipt_texts.hpp"

namespace receiptora::render::detail {

namespace {

struct GObjectUnref {
  void operator()(void* p) const { g_object_unref(p); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectUnref>;
using ContextPtr = std::unique_ptr<PangoContext, GObjectUnref>;

struct Rgb {
  double r, g, b;
};
// Every colour lies between white, black and the stamp red, so the picture encoder can map
// each pixel to a small palette (see png_encode.cpp).
constexpr Rgb kInk{0.08, 0.08, 0.08};
constexpr Rgb kRule{0.35, 0.35, 0.35};
constexpr Rgb kShade{0.93, 0.93, 0.93};
constexpr Rgb kStampRed{200 / 255.0, 30 / 255.0, 30 / 255.0};
// White tinted towards the stamp red: a = 0 white, a = 1 the red itself.
constexpr Rgb tint(double a) {
  return {1 - a * (1 - kStampRed.r), 1 - a * (1 - kStampRed.g), 1 - a * (1 - kStampRed.b)};
}

void set_colour(cairo_t* cr, Rgb c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

// Page frame, in points.
constexpr double kLeft = 28, kRight = kPageWidth - 28;
constexpr double kTableTop = 122, kHeaderRow = 16, kRowHeight = 18;
constexpr double kRowsTop = kTableTop + kHeaderRow;
constexpr double kRowsBottom = 398;  // lowest line the item rows and totals may reach
constexpr double kStampRoom = 50;    // kept free under the totals on the last page
constexpr double kPad = 4;
constexpr int kMinRuledRows = 7;

// Table columns: 品名, 數量, 單價, 金額, 備註.
constexpr double kColumnWidth[] = {220, 55, 85, 105, kRight - kLeft - 465};
constexpr const char* kColumnTitle[] = {"品　名", "數　量", "單　價", "金　額", "備　註"};
constexpr int kColumns = 5;
double column_x(int c) {
  double x = kLeft;
  for (int i = 0; i < c; ++i) x += kColumnWidth[i];
  return x;
}

// Cell texts arrive as typed: invalid UTF-8 is repaired and control characters become
// spaces, so pango never sees text it would refuse. Within a long run without spaces (a
// 10,000-digit amount, a name typed without a break) every character is followed by a
// zero-width space: pango wraps such a run in linear time, but searches a run with no
// break opportunity at quadratic cost. The zero-width space draws nothing.
std::string clean(const std::string& text) {
  gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string repaired(valid);
  g_free(valid);
  for (char& ch : repaired)
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ch = ' ';
  constexpr size_t kLongRun = 24;
  if (repaired.size() < kLongRun) return repaired;
  std::string out;
  out.reserve(repaired.size() * 2);
  const char* p = repaired.c_str();
  while (*p) {
    const char* run_end = p;
    size_t run = 0;
    while (*run_end && *run_end != ' ') run_end = g_utf8_next_char(run_end), ++run;
    if (run < kLongRun) {
      out.append(p, run_end);
    } else {
      for (const char* c = p; c < run_end;) {
        const char* next = g_utf8_next_char(c);
        out.append(c, next).append("\u200b");
        c = next;
      }
    }
    p = run_end;
    while (*p == ' ') out.push_back(*p++);
  }
  return out;
}

std::vector<std::string> characters(const std::string& text) {
  std::vector<std::string> out;
  for (const char* p = text.c_str(); *p; p = g_utf8_next_char(p)) {
    out.emplace_back(p, g_utf8_next_char(p) - p);
  }
  return out;
}

struct Fitted {
  LayoutPtr layout;
  double width = 0, height = 0;  // as drawn
  double scale = 1;              // drawing scale of the layout
  explicit operator bool() const { return layout != nullptr; }
};

}  // namespace

struct Document::Impl {
  const Receipt& receipt;
  ContextPtr context;
  const char* body_family;
  const char* seal_family = "AR PL UKai TW, AR PL UMing TW, WenQuanYi Zen Hei";

  struct Row {
    double height = kRowHeight;
    Fitted cells[kColumns];
  };
  std::vector<Row> rows;
  std::vector<std::pair<size_t, size_t>> page_rows;  // [first, last) row per page
  Row total_row, capitals_row;
  std::string date_text;

  explicit Impl(const Receipt& r) : receipt(r) {
    body_family = r.layout == Template::Cat ? "SimHei, WenQuanYi Zen Hei, AR PL UMing TW"
                                            : "AR PL UMing TW, WenQuanYi Zen Hei";
    // pango keeps one cairo font map per thread, so renders on several threads share nothing.
    context.reset(pango_font_map_create_context(pango_cairo_font_map_get_default()));
    cairo_font_options_t* options = cairo_font_options_create();
    // Unhinted metrics: the PDF and the picture get the same layout at any scale.
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(context.get(), options);
    cairo_font_options_destroy(options);
    pango_cairo_context_set_resolution(context.get(), 72);  // font sizes in points
    pango_context_set_base_dir(context.get(), PANGO_DIRECTION_LTR);

    if (r.date) {
      const auto roc = roc_date(r.date->year, r.date->month, r.date->day);
      if (!roc) {
        throw std::invalid_argument("receipt date " + std::to_string(r.date->year) + "-" +
                                    std::to_string(r.date->month) + "-" + std::to_string(r.date->day) +
                                    " is no day of the Republic-of-China calendar");
      }
      date_text = roc_date_text(*roc);
    }
    lay_out_rows();
  }

  // A layout of `text` at `size` points, wrapped to `width`.
  Fitted make(const std::string& text, const char* family, double size, double width, PangoAlignment align,
              double letter_spacing = 0, bool markup = false) const {
    Fitted f;
    f.layout.reset(pango_layout_new(context.get()));
    PangoLayout* l = f.layout.get();
    pango_layout_set_auto_dir(l, FALSE);
    if (markup) {
      pango_layout_set_markup(l, text.c_str(), -1);
    } else {
      pango_layout_set_text(l, text.c_str(), static_cast<int>(text.size()));
    }
    if (letter_spacing > 0) {
      PangoAttrList* attrs = pango_attr_list_new();
      pango_attr_list_insert(attrs,
                             pango_attr_letter_spacing_new(static_cast<int>(letter_spacing * PANGO_SCALE)));
      pango_layout_set_attributes(l, attrs);
      pango_attr_list_unref(attrs);
    }
    pango_layout_set_width(l, static_cast<int>(width * PANGO_SCALE));
    pango_layout_set_wrap(l, PANGO_WRAP_WORD_CHAR);
    pango_layout_set_alignment(l, align);
    resize(f, family, size);
    return f;
  }

  static void measure(Fitted& f) {
    int w = 0, h = 0;
    pango_layout_get_size(f.layout.get(), &w, &h);
    f.width = f.scale * w / PANGO_SCALE;
    f.height = f.scale * h / PANGO_SCALE;
  }

  static void rescale(Fitted& f, double width, double scale) {
    f.scale = scale;
    pango_layout_set_width(f.layout.get(), static_cast<int>(width / scale * PANGO_SCALE));
    measure(f);
  }

  static void resize(Fitted& f, const char* family, double size) {
    PangoFontDescription* desc = pango_font_description_from_string(family);
    pango_font_description_set_size(desc, static_cast<int>(size * PANGO_SCALE));
    pango_layout_set_font_description(f.layout.get(), desc);
    pango_font_description_free(desc);
    measure(f);
  }

  // `text` within `width` × `max_height`: wrapped, and made smaller until it fits. Down to
  // `floor` points the size shrinks in small steps; past it, as far as needed, so nothing
  // ever leaves its box or is cut.
  Fitted fit(const std::string& text, const char* family, double size, double floor, double width,
             double max_height, PangoAlignment align = PANGO_ALIGN_LEFT, double letter_spacing = 0,
             bool past_floor = true) const {
    Fitted f = make(clean(text), family, size, width, align, letter_spacing);
    // A cluster wider than the box (pango cannot break inside it) overflows sideways.
    const auto fits = [&] { return f.height <= max_height && f.width <= width + 0.01; };
    // Far too tall: jump close to the size at which it fits (wrapped text grows in both
    // directions with the size, so its height goes with the square), then step down.
    if (f.height > 3 * max_height && size > floor) {
      size = std::max(floor, size * std::sqrt(max_height / f.height));
      resize(f, family, size);
    }
    while (!fits() && size > floor) {
      size = std::max(floor, size * 0.9);
      resize(f, family, size);
    }
    // Past the floor the layout keeps its size and is drawn scaled down instead: pango
    // cannot lay out fonts much below one point, a scaled drawing has no such limit.
    if (past_floor && !fits()) {
      double scale = std::min(1.0, std::sqrt(max_height / f.height));
      for (;;) {
        rescale(f, width, scale);
        if (fits() || scale < 1e-4) break;
        scale *= 0.94;
      }
    }
    return f;
  }

  // Texts laid out while drawing (header, labels, stamps) are kept, so that drawing the pages
  // again (the picture after the PDF of one receipt) does not shape them a second time.
  mutable std::map<std::string, Fitted> drawn;

  static std::string key(const std::string& text, const char* family, std::initializer_list<double> numbers) {
    std::string k = text;
    k.append(1, '\0').append(family).append(1, '\0');
    for (double n : numbers) k.append(reinterpret_cast<const char*>(&n), sizeof n);
    return k;
  }

  const Fitted& fit_once(const std::string& text, const char* family, double size, double floor, double width,
                         double max_height, PangoAlignment align = PANGO_ALIGN_LEFT,
                         double letter_spacing = 0) const {
    std::string k = key(text, family, {size, floor, width, max_height, double(align), letter_spacing, 0});
    auto found = drawn.find(k);
    if (found == drawn.end()) {
      found =
          drawn
              .emplace(std::move(k), fit(text, family, size, floor, width, max_height, align, letter_spacing))
              .first;
    }
    return found->second;
  }

  const Fitted& make_once(const std::string& text, const char* family, double size, double width,
                          PangoAlignment align, bool markup = false) const {
    std::string k = key(text, family, {size, width, double(align), double(markup), 1});
    auto found = drawn.find(k);
    if (found == drawn.end()) {
      found = drawn.emplace(std::move(k), make(text, family, size, width, align, 0, markup)).first;
    }
    return found->second;
  }

  // A table cell: first within a normal row (shrinking to 6 pt), otherwise the row grows,
  // up to `cap`.
  Fitted cell(const std::string& text, double width, PangoAlignment align, double cap) const {
    const double inner = width - 2 * kPad;
    Fitted f = fit(text, body_family, 10, 6, inner, kRowHeight - 3, align, 0, false);
    if (f.height <= kRowHeight - 3 && f.width <= inner + 0.01) return f;
    Fitted tall = make(clean(text), body_family, 6, inner, align);
    return fit(text, body_family, 6, 6, inner, std::min(tall.height, cap - 3), align);
  }

  void lay_out_rows() {
    const double body_cap = kRowsBottom - kRowsTop;
    // The totals: figures and capitals come from the same integer.
    mpz_class total = 0;
    for (const Item& item : receipt.items) total += item.quantity * item.unit_price;
    total_row.cells[0] =
        fit("合　計", body_family, 10, 6, kColumnWidth[0] + kColumnWidth[1] + kColumnWidth[2] - 2 * kPad,
            kRowHeight - 3, PANGO_ALIGN_RIGHT);
    total_row.cells[3] = cell(grouped_figures(total), kColumnWidth[3], PANGO_ALIGN_RIGHT, 80);
    total_row.height = std::max(kRowHeight + 2, total_row.cells[3].height + 3);
    capitals_row.cells[0] = fit("新臺幣　" + capital_numerals(total), body_family, 11, 6,
                                kRight - kLeft - 2 * kPad, 90 - 3, PANGO_ALIGN_LEFT);
    capitals_row.height = std::max(kRowHeight + 4, capitals_row.cells[0].height + 3);
    const double last_cap = body_cap - total_row.height - capitals_row.height - kStampRoom;
    // A row taller than the room beside the totals gets a page of its own; the totals then
    // follow on the next page.

    for (const Item& item : receipt.items) {
      Row row;
      const bool text_line = item.quantity == 0 && item.unit_price == 0;
      row.cells[0] = cell(item.name, kColumnWidth[0], PANGO_ALIGN_LEFT, body_cap);
      if (!text_line) {
        row.cells[1] = cell(grouped_figures(item.quantity), kColumnWidth[1], PANGO_ALIGN_RIGHT, body_cap);
        row.cells[2] = cell(grouped_figures(item.unit_price), kColumnWidth[2], PANGO_ALIGN_RIGHT, body_cap);
        row.cells[3] = cell(grouped_figures(item.quantity * item.unit_price), kColumnWidth[3],
                            PANGO_ALIGN_RIGHT, body_cap);
      }
      if (!item.note.empty()) row.cells[4] = cell(item.note, kColumnWidth[4], PANGO_ALIGN_LEFT, body_cap);
      for (const Fitted& f : row.cells)
        if (f) row.height = std::max(row.height, f.height + 3);
      rows.push_back(std::move(row));
    }

    // Pages: fill each with rows; the last page also holds the totals and room for stamps.
    size_t first = 0;
    double used = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
      if (used + rows[i].height > body_cap && i > first) {
        page_rows.emplace_back(first, i);
        first = i;
        used = 0;
      }
      used += rows[i].height;
    }
    if (used > last_cap) {
      // No room for the totals under these rows: as in a receipt book, this page stays
      // full and its last row carries over to the last page with the totals (or, when
      // that row is too tall to share a page with them, the totals go on alone).
      const size_t split = rows.size() - (rows.back().height <= last_cap && rows.size() - first > 1 ? 1 : 0);
      page_rows.emplace_back(first, split);
      first = split;
    }
    page_rows.emplace_back(first, rows.size());
  }

  void show(cairo_t* cr, const Fitted& f, double x, double y) const {
    if (f.scale == 1) {
      cairo_move_to(cr, x, y);
      pango_cairo_show_layout(cr, f.layout.get());
      return;
    }
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, f.scale, f.scale);
    cairo_move_to(cr, 0, 0);
    pango_cairo_show_layout(cr, f.layout.get());
    cairo_restore(cr);
  }

  void line(cairo_t* cr, double x0, double y0, double x1, double y1, double width) const {
    cairo_set_line_width(cr, width);
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
    cairo_stroke(cr);
  }

  void draw_header(cairo_t* cr, int page) const {
    const SellerProfile& s = receipt.seller;
    set_colour(cr, kInk);
    const Fitted& title = fit_once("免用統一發票收據", body_family, 20, 20, 300, 40, PANGO_ALIGN_CENTER, 5);
    show(cr, title, kPageWidth / 2 - 150, 18);
    if (receipt.layout == Template::General) {
      set_colour(cr, kInk);
      line(cr, kPageWidth / 2 - 110, 47, kPageWidth / 2 + 110, 47, 0.9);
      line(cr, kPageWidth / 2 - 110, 49.5, kPageWidth / 2 + 110, 49.5, 0.4);
    }
    const Fitted& number = fit_once("No. " + receipt.number, body_family, 9, 6, 150, 24, PANGO_ALIGN_RIGHT);
    show(cr, number, kRight - 150, 22);
    if (page_rows.size() > 1) {
      const Fitted& pages =
          fit_once("第 " + std::to_string(page + 1) + " 頁／共 " + std::to_string(page_rows.size()) + " 頁",
                   body_family, 8, 6, 150, 12, PANGO_ALIGN_RIGHT);
      show(cr, pages, kRight - 150, 38);
    }

    // Seller block.
    const double w = 290;
    show(cr, fit_once(s.name, body_family, 13, 8, w, 18), kLeft, 58);
    show(cr, fit_once("統一編號：" + s.tax_id + "　　負責人：" + s.owner, body_family, 9, 6, w, 12), kLeft,
         78);
    show(cr, fit_once("地址：" + s.address, body_family, 9, 6, w, 12), kLeft, 91);
    show(cr, fit_once("電話：" + s.phone, body_family, 9, 6, w, 12), kLeft, 104);

    // Buyer block and date, on ruled lines as on a paper form.
    const double bx = 330, label_w = 56, vx = bx + label_w, vw = kRight - vx;
    show(cr, fit_once("買受人：", body_family, 10, 10, label_w, 16), bx, 59);
    show(cr, fit_once(receipt.buyer, body_family, 10, 6, vw - 4, 15), vx + 2, 59);
    show(cr, fit_once("統一編號：", body_family, 10, 10, label_w + 10, 16), bx, 80);
    show(cr, fit_once(receipt.buyer_tax_id, body_family, 10, 6, vw - 4, 15), vx + 2, 80);
    set_colour(cr, kRule);
    line(cr, vx, 75, kRight, 75, 0.5);
    line(cr, vx, 96, kRight, 96, 0.5);
    set_colour(cr, kInk);
    if (receipt.date) {
      show(cr, fit_once(date_text, body_family, 10, 6, kRight - bx, 15, PANGO_ALIGN_RIGHT), bx, 101);
    } else {
      // Blanks to be filled in by hand.
      const Fitted& blank = make_once("中華民國 <u>　　　　</u> 年 <u>　　　</u> 月 <u>　　　</u> 日",
                                      body_family, 10, kRight - bx, PANGO_ALIGN_RIGHT, true);
      show(cr, blank, bx, 101);
    }
  }

  void draw_table(cairo_t* cr, int page) const {
    const auto [first, last] = page_rows[page];
    const bool last_page = page + 1 == static_cast<int>(page_rows.size());
    double y = kRowsTop;
    // Header row, shaded.
    set_colour(cr, receipt.layout == Template::Cat ? tint(0.1) : kShade);
    cairo_rectangle(cr, kLeft, kTableTop, kRight - kLeft, kHeaderRow);
    cairo_fill(cr);
    set_colour(cr, kInk);
    for (int c = 0; c < kColumns; ++c) {
      show(cr,
           fit_once(kColumnTitle[c], body_family, 9.5, 6, kColumnWidth[c] - 2 * kPad, kHeaderRow - 2,
                    PANGO_ALIGN_CENTER),
           column_x(c) + kPad, kTableTop + 2);
    }
    std::vector<double> rules = {kTableTop, kRowsTop};
    for (size_t i = first; i < last; ++i) {
      draw_row(cr, rows[i], y);
      y += rows[i].height;
      rules.push_back(y);
    }
    // Blank ruled lines, as on paper, up to seven lines where there is room.
    const double limit =
        last_page ? kRowsBottom - total_row.height - capitals_row.height - kStampRoom : kRowsBottom;
    for (size_t n = last - first; n < kMinRuledRows && y + kRowHeight <= limit + 0.01; ++n) {
      y += kRowHeight;
      rules.push_back(y);
    }
    const double body_bottom = y;
    if (last_page) {
      draw_row(cr, total_row, y);
      y += total_row.height;
      rules.push_back(y);
      set_colour(cr, kInk);
      show(cr, capitals_row.cells[0], kLeft + kPad,
           y + (capitals_row.height - capitals_row.cells[0].height) / 2);
      y += capitals_row.height;
      rules.push_back(y);
    } else {
      show(cr, fit_once("（續下頁）", body_family, 8, 6, 150, 12, PANGO_ALIGN_RIGHT), kRight - 150, y + 3);
    }

    set_colour(cr, kRule);
    for (size_t i = 0; i < rules.size(); ++i) {
      const bool heavy = i == 0 || i + 1 == rules.size();
      line(cr, kLeft, rules[i], kRight, rules[i], heavy ? 1.0 : 0.4);
    }
    line(cr, kLeft, kTableTop, kLeft, y, 1.0);
    line(cr, kRight, kTableTop, kRight, y, 1.0);
    // Column lines run through the items and the 合計 row's figures.
    const double column_bottom = last_page ? body_bottom + total_row.height : body_bottom;
    for (int c = 1; c < kColumns; ++c) {
      const double x = column_x(c);
      const double top = kTableTop;
      const double bottom = last_page && c < 3 ? body_bottom : column_bottom;
      line(cr, x, top, x, bottom, 0.5);
    }
  }

  void draw_row(cairo_t* cr, const Row& row, double y) const {
    set_colour(cr, kInk);
    for (int c = 0; c < kColumns; ++c) {
      const Fitted& f = row.cells[c];
      if (!f) continue;
      const double x = column_x(c) + kPad;
      show(cr, f, x, y + (row.height - f.height) / 2);
    }
  }

  // Red ink: drawn into a group, then multiplied onto the page slightly transparent, as ink
  // over print, so the text underneath stays readable.
  // The clip to the stamp's box keeps the group and the blend small (a whole-page blend
  // costs milliseconds in a picture).
  template <class F>
  void ink(cairo_t* cr, double x, double y, double w, double h, F&& draw) const {
    cairo_save(cr);
    cairo_rectangle(cr, x - 3, y - 3, w + 6, h + 6);
    cairo_clip(cr);
    cairo_push_group(cr);
    set_colour(cr, kStampRed);
    draw();
    cairo_pop_group_to_source(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_MULTIPLY);
    cairo_paint_with_alpha(cr, 0.88);
    cairo_restore(cr);
  }

  // A PNG stamp picture scaled into the box, keeping its proportions.
  void picture(cairo_t* cr, const std::string& path, double x, double y, double w, double h) const {
    cairo_surface_t* image = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
      cairo_surface_destroy(image);
      throw std::runtime_error("stamp picture cannot be read as PNG: " + path);
    }
    const double iw = cairo_image_surface_get_width(image), ih = cairo_image_surface_get_height(image);
    const double scale = std::min(w / iw, h / ih);
    cairo_save(cr);
    cairo_rectangle(cr, x, y, w, h);
    cairo_clip(cr);
    cairo_translate(cr, x + (w - iw * scale) / 2, y + (h - ih * scale) / 2);
    cairo_scale(cr, scale, scale);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_set_operator(cr, CAIRO_OPERATOR_MULTIPLY);
    cairo_paint_with_alpha(cr, 0.92);
    cairo_restore(cr);
    cairo_surface_destroy(image);
  }

  void draw_exemption_stamp(cairo_t* cr, double x, double y) const {
    constexpr double w = 142, h = 82;
    const SellerProfile& s = receipt.seller;
    if (!s.exemption_stamp_image.empty()) return picture(cr, s.exemption_stamp_image, x, y, w, h);
    ink(cr, x, y, w, h, [&] {
      cairo_set_line_width(cr, 1.8);
      cairo_rectangle(cr, x, y, w, h);
      cairo_stroke(cr);
      cairo_set_line_width(cr, 0.6);
      cairo_rectangle(cr, x + 3, y + 3, w - 6, h - 6);
      cairo_stroke(cr);
      const double ix = x + 7, iw = w - 14;
      double ty = y + 6;
      auto put = [&](const std::string& text, double size, double slot, double spacing = 0) {
        // The body face: its glyphs are embedded anyway, so the stamp adds no font subset.
        const Fitted& f = fit_once(text, body_family, size, 4, iw, slot, PANGO_ALIGN_CENTER, spacing);
        show(cr, f, ix, ty + (slot - f.height) / 2);
        ty += slot;
      };
      put(s.name, 11, 16);
      put("統一編號：" + s.tax_id, 7, 10);
      put("負責人：" + s.owner, 7, 10);
      put("地址：" + s.address, 7, 10);
      put("電話：" + s.phone, 7, 10);
      put("免用統一發票專用章", 9, 14, 1.5);
    });
  }

  void draw_owner_seal(cairo_t* cr, double x, double y) const {
    constexpr double size = 58;
    const SellerProfile& s = receipt.seller;
    if (!s.owner_seal_image.empty()) return picture(cr, s.owner_seal_image, x, y, size, size);
    std::vector<std::string> chars = characters(clean(s.owner));
    std::erase(chars, " ");
    if (chars.empty()) return;  // no name, no seal
    if (chars.size() == 3) chars.emplace_back("印");
    // Read right to left, top to bottom: columns from the right, each filled downwards.
    const int n = static_cast<int>(chars.size());
    const int per_column = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(n))));
    const int columns = (n + per_column - 1) / per_column;
    ink(cr, x, y, size, size, [&] {
      cairo_set_line_width(cr, 2.6);
      cairo_rectangle(cr, x, y, size, size);
      cairo_stroke(cr);
      const double inner = size - 8, cw = inner / columns;
      for (int k = 0; k < n; ++k) {
        const int column = k / per_column, row = k % per_column;
        const int in_column = std::min(per_column, n - column * per_column);
        const double ch = inner / in_column;  // a shorter last column spreads over the height
        const Fitted& f = make_once(chars[k], seal_family, 20, 200, PANGO_ALIGN_LEFT);
        if (f.width <= 0 || f.height <= 0) continue;
        PangoRectangle ink_rect, logical;
        pango_layout_get_extents(f.layout.get(), &ink_rect, &logical);
        const double gx = ink_rect.x / double(PANGO_SCALE), gy = ink_rect.y / double(PANGO_SCALE);
        const double gw = std::max(1.0, ink_rect.width / double(PANGO_SCALE));
        const double gh = std::max(1.0, ink_rect.height / double(PANGO_SCALE));
        // Seal characters fill their cell, stretched as a carver would, but no more than
        // half again in one direction (a narrow letter stays a letter).
        double sx = cw * 0.86 / gw, sy = ch * 0.86 / gh;
        sx = std::min(sx, sy * 1.5);
        sy = std::min(sy, sx * 1.5);
        const double cell_x = x + 4 + (columns - 1 - column) * cw, cell_y = y + 4 + row * ch;
        cairo_save(cr);
        cairo_translate(cr, cell_x + (cw - gw * sx) / 2, cell_y + (ch - gh * sy) / 2);
        cairo_scale(cr, sx, sy);
        cairo_move_to(cr, -gx, -gy);
        pango_cairo_show_layout(cr, f.layout.get());
        cairo_restore(cr);
      }
    });
  }

  void paw(cairo_t* cr, double x, double y, double s, double angle) const {
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_rotate(cr, angle);
    cairo_scale(cr, s, s);
    set_colour(cr, tint(0.22));
    cairo_save(cr);
    cairo_scale(cr, 1.15, 1.0);
    cairo_arc(cr, 0, 1.5, 2.6, 0, 2 * M_PI);
    cairo_restore(cr);
    cairo_fill(cr);
    const double toes[4][2] = {{-3.3, -2.0}, {-1.2, -3.8}, {1.2, -3.8}, {3.3, -2.0}};
    for (const auto& t : toes) {
      cairo_arc(cr, t[0], t[1], 1.05, 0, 2 * M_PI);
      cairo_fill(cr);
    }
    cairo_restore(cr);
  }

  // The cat template's artwork: ears on the title frame, paw prints, a sitting cat.
  void draw_cat_art(cairo_t* cr, bool last_page) const {
    const double cx = kPageWidth / 2, x0 = cx - 118, x1 = cx + 118, y0 = 15, y1 = 50;
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    // Ears first, so the frame's top line crosses their base; each with a pink inside.
    for (double ex : {x0 + 36, x1 - 36}) {
      cairo_move_to(cr, ex - 15, y0 + 1);
      cairo_line_to(cr, ex - 5, y0 - 11);
      cairo_line_to(cr, ex + 13, y0 + 1);
      cairo_close_path(cr);
      set_colour(cr, {1, 1, 1});
      cairo_fill_preserve(cr);
      set_colour(cr, kInk);
      cairo_set_line_width(cr, 1.1);
      cairo_stroke(cr);
      cairo_move_to(cr, ex - 9, y0);
      cairo_line_to(cr, ex - 4.5, y0 - 6);
      cairo_line_to(cr, ex + 5, y0);
      cairo_close_path(cr);
      set_colour(cr, tint(0.3));
      cairo_fill(cr);
    }
    const double r = 8;
    cairo_new_sub_path(cr);
    cairo_arc(cr, x1 - r, y0 + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x1 - r, y1 - r, r, 0, M_PI / 2);
    cairo_arc(cr, x0 + r, y1 - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x0 + r, y0 + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
    set_colour(cr, kInk);
    cairo_set_line_width(cr, 1.1);
    cairo_stroke(cr);

    paw(cr, 40, 24, 1.4, -0.4);
    paw(cr, 56, 40, 1.4, -0.2);
    paw(cr, 72, 26, 1.4, -0.4);
    if (!last_page) return;
    for (int i = 0; i < 4; ++i) paw(cr, 112 + i * 22, 402 - (i % 2) * 6, 1.1, 1.4);

    // A sitting cat in the bottom-left corner, seen from the front.
    const double bx = 62, by = 404;  // base centre
    cairo_set_line_width(cr, 1.2);
    // Tail curling round to the right.
    cairo_move_to(cr, bx + 14, by - 3);
    cairo_curve_to(cr, bx + 34, by - 2, bx + 36, by - 22, bx + 26, by - 28);
    set_colour(cr, kInk);
    cairo_stroke(cr);
    // Body.
    cairo_move_to(cr, bx - 16, by);
    cairo_curve_to(cr, bx - 20, by - 20, bx - 12, by - 34, bx, by - 36);
    cairo_curve_to(cr, bx + 12, by - 34, bx + 20, by - 20, bx + 16, by);
    cairo_close_path(cr);
    set_colour(cr, {1, 1, 1});
    cairo_fill_preserve(cr);
    set_colour(cr, kInk);
    cairo_stroke(cr);
    // Front paws.
    for (double px : {bx - 6, bx + 6}) {
      cairo_move_to(cr, px, by - 14);
      cairo_line_to(cr, px, by);
      cairo_stroke(cr);
    }
    // Head with ears.
    const double hx = bx, hy = by - 44;
    for (int side : {-1, 1}) {
      cairo_move_to(cr, hx + side * 4, hy - 9);
      cairo_line_to(cr, hx + side * 11, hy - 17);
      cairo_line_to(cr, hx + side * 12, hy - 5);
      cairo_close_path(cr);
      set_colour(cr, tint(0.3));
      cairo_fill_preserve(cr);
      set_colour(cr, kInk);
      cairo_stroke(cr);
    }
    cairo_new_sub_path(cr);
    cairo_save(cr);
    cairo_translate(cr, hx, hy);
    cairo_scale(cr, 1.15, 1.0);
    cairo_arc(cr, 0, 0, 11, 0, 2 * M_PI);
    cairo_restore(cr);
    set_colour(cr, {1, 1, 1});
    cairo_fill_preserve(cr);
    set_colour(cr, kInk);
    cairo_stroke(cr);
    // Eyes, nose, whiskers.
    for (int side : {-1, 1}) {
      cairo_arc(cr, hx + side * 4.5, hy - 1.5, 1.3, 0, 2 * M_PI);
      cairo_fill(cr);
    }
    cairo_move_to(cr, hx - 1.6, hy + 2.5);
    cairo_line_to(cr, hx + 1.6, hy + 2.5);
    cairo_line_to(cr, hx, hy + 4.2);
    cairo_close_path(cr);
    set_colour(cr, tint(0.6));
    cairo_fill(cr);
    set_colour(cr, kInk);
    cairo_set_line_width(cr, 0.5);
    for (int side : {-1, 1}) {
      for (double dy : {-1.0, 1.5}) {
        cairo_move_to(cr, hx + side * 6, hy + 4);
        cairo_line_to(cr, hx + side * 17, hy + 4 + dy * 1.8);
        cairo_stroke(cr);
      }
    }
  }

  void draw_page(cairo_t* cr, int page) const {
    const bool last_page = page + 1 == static_cast<int>(page_rows.size());
    if (receipt.layout == Template::Cat) draw_cat_art(cr, last_page);
    draw_header(cr, page);
    draw_table(cr, page);
    if (!last_page) return;
    const double stamp_y = kRowsBottom - 78;
    if (receipt.exemption_stamp) draw_exemption_stamp(cr, kRight - 150, stamp_y);
    if (receipt.owner_seal) draw_owner_seal(cr, kRight - 150 - 72, stamp_y + 14);
  }
};

Document::Document(const Receipt& receipt) : impl_(std::make_unique<Impl>(receipt)) {}
Document::~Document() = default;
int Document::pages() const { return static_cast<int>(impl_->page_rows.size()); }
void Document::draw_page(cairo_t* cr, int page) const { impl_->draw_page(cr, page); }

}  // namespace receiptora::render::detail
