#include "receiptora/render/report.hpp"

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <memory>
#include <stdexcept>

#include "pdf_tidy.hpp"
#include "receiptora/receipt_texts.hpp"

namespace receiptora::render {

namespace {

constexpr double kWidth = 595.276;  // A4 in points
constexpr double kHeight = 841.89;
constexpr double kMargin = 48;
// A sans CJK face with TrueType outlines first (cairo subsets those quickly), then the Ming face.
constexpr const char* kFace = "WenQuanYi Zen Hei, AR PL UMing TW";

struct Rgb {
  double r, g, b;
};
constexpr Rgb kInk{0.13, 0.15, 0.18};
constexpr Rgb kMuted{0.42, 0.46, 0.52};
constexpr Rgb kGrid{0.85, 0.87, 0.90};
constexpr Rgb kBar{0.23, 0.56, 0.82};
constexpr Rgb kLine{0.80, 0.20, 0.20};

void colour(cairo_t* cr, Rgb c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

void check(cairo_status_t status, const char* what) {
  if (status != CAIRO_STATUS_SUCCESS)
    throw std::runtime_error(std::string(what) + ": " + cairo_status_to_string(status));
}

cairo_status_t append(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

enum class Align { Left, Centre, Right };

using Layout = std::unique_ptr<PangoLayout, decltype(&g_object_unref)>;

// A layout in the report's face at `size` points.
Layout report_layout(cairo_t* cr, double size, bool bold) {
  Layout layout(pango_cairo_create_layout(cr), g_object_unref);
  std::unique_ptr<PangoFontDescription, decltype(&pango_font_description_free)> font(
      pango_font_description_from_string(kFace), pango_font_description_free);
  pango_font_description_set_absolute_size(font.get(), size * PANGO_SCALE);
  if (bold) pango_font_description_set_weight(font.get(), PANGO_WEIGHT_BOLD);
  pango_layout_set_font_description(layout.get(), font.get());
  return layout;
}

// Draws `text` with its top at y; x is the left edge, centre or right edge as `align` says.
// Returns the text's height.
double text(cairo_t* cr, const std::string& s, double x, double y, double size, Rgb c,
            Align align = Align::Left, bool bold = false, double width = -1) {
  const Layout layout = report_layout(cr, size, bold);
  if (width > 0) {
    pango_layout_set_width(layout.get(), static_cast<int>(width * PANGO_SCALE));
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
  }
  pango_layout_set_text(layout.get(), s.c_str(), static_cast<int>(s.size()));
  int w = 0, h = 0;
  pango_layout_get_size(layout.get(), &w, &h);
  const double tw = static_cast<double>(w) / PANGO_SCALE;
  const double left = align == Align::Left ? x : align == Align::Centre ? x - tw / 2 : x - tw;
  colour(cr, c);
  cairo_move_to(cr, left, y);
  pango_cairo_show_layout(cr, layout.get());
  return static_cast<double>(h) / PANGO_SCALE;
}

// One line of `s` cut with … to `width`, its top at y (the list's cells).
void cell(cairo_t* cr, const std::string& s, double x, double y, double width, double size, Rgb c,
          Align align = Align::Left, bool bold = false) {
  const Layout layout = report_layout(cr, size, bold);
  pango_layout_set_width(layout.get(), static_cast<int>(width * PANGO_SCALE));
  pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
  pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
  pango_layout_set_alignment(layout.get(), align == Align::Right ? PANGO_ALIGN_RIGHT : PANGO_ALIGN_LEFT);
  pango_layout_set_text(layout.get(), s.c_str(), static_cast<int>(s.size()));
  colour(cr, c);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, layout.get());
}

// 1, 2 or 5 times a power of ten, at least `value`: the chart's top gridline.
double nice_ceiling(double value) {
  if (value <= 0) return 1;
  const double power = std::pow(10.0, std::floor(std::log10(value)));
  for (double step : {1.0, 2.0, 4.0, 8.0, 10.0})  // quarters stay round
    if (step * power >= value) return step * power;
  return 10 * power;
}

std::string grouped(double value) {
  return grouped_figures(mpz_class(static_cast<long>(std::llround(value))));
}

// A bar chart in the box (x, y, w, h): four gridlines with their amounts on the left, a bar
// per entry, labels under the bars, and the optional dashed reference line.
void bar_chart(cairo_t* cr, double x, double y, double w, double h, const std::vector<ReportBar>& bars,
               double reference, const std::string& reference_label) {
  constexpr double kAxis = 58;    // room for the amounts on the left
  constexpr double kLabels = 16;  // room for the labels underneath
  const double left = x + kAxis, width = w - kAxis, bottom = y + h - kLabels, height = h - kLabels;
  double top_value = reference;
  for (const ReportBar& bar : bars) top_value = std::max(top_value, bar.value);
  top_value = nice_ceiling(top_value * 1.05);
  cairo_set_line_width(cr, 0.5);
  for (int i = 0; i <= 4; ++i) {
    const double gy = bottom - height * i / 4;
    colour(cr, kGrid);
    cairo_move_to(cr, left, gy);
    cairo_line_to(cr, left + width, gy);
    cairo_stroke(cr);
    text(cr, grouped(top_value * i / 4), left - 4, gy - 5, 7.5, kMuted, Align::Right);
  }
  if (!bars.empty()) {
    const double slot = width / static_cast<double>(bars.size());
    const double bar_width = std::max(1.0, slot * 0.7);
    for (size_t i = 0; i < bars.size(); ++i) {
      const double cx = left + slot * (static_cast<double>(i) + 0.5);
      const double bh = std::max(0.0, bars[i].value) / top_value * height;
      colour(cr, kBar);
      cairo_rectangle(cr, cx - bar_width / 2, bottom - bh, bar_width, bh);
      cairo_fill(cr);
      if (!bars[i].label.empty()) text(cr, bars[i].label, cx, bottom + 3, 7, kMuted, Align::Centre);
    }
  }
  if (reference > 0) {
    const double ry = bottom - reference / top_value * height;
    const double dash[] = {5, 3};
    cairo_save(cr);
    cairo_set_dash(cr, dash, 2, 0);
    cairo_set_line_width(cr, 1.2);
    colour(cr, kLine);
    cairo_move_to(cr, left, ry);
    cairo_line_to(cr, left + width, ry);
    cairo_stroke(cr);
    cairo_restore(cr);
    text(cr, reference_label, left + width, ry - 13, 8, kLine, Align::Right);
  }
}

struct Column {
  const char* heading;
  double width;
  Align align;
};
constexpr Column kColumns[] = {{"號碼", 112, Align::Left},   {"日期", 52, Align::Left},
                               {"買受人", 124, Align::Left}, {"統一編號", 58, Align::Left},
                               {"總額", 78, Align::Right},   {"狀態", 40, Align::Left}};
constexpr double kRow = 15;        // a row's height
constexpr double kListSize = 8.5;  // its text

// The list's rows cut into pages: each page's first row and its end.
std::vector<std::pair<size_t, size_t>> list_pages(const std::vector<ReportListRow>& rows, double room) {
  std::vector<std::pair<size_t, size_t>> pages;
  size_t first = 0;
  double used = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    const double height = rows[i].note.empty() ? kRow : 2 * kRow;
    if (used + height > room && i > first) {
      pages.push_back({first, i});
      first = i;
      used = 0;
    }
    used += height;
  }
  if (first < rows.size()) pages.push_back({first, rows.size()});
  return pages;
}

mpz_class digits_value(const std::string& digits) {
  mpz_class value;
  return value.set_str(digits, 10) == 0 ? value : mpz_class(0);
}

// The pages of the list: a heading, the column headings, the rows (a void's date and reason on
// a line under it) and, at the foot, the page's total of counted rows and the running total.
void draw_list(cairo_t* cr, const MonthReport& report, const std::string& created) {
  const double top = kMargin + 34, foot = kHeight - kMargin - 34;
  const auto pages = list_pages(report.list, foot - top - kRow - 6);
  mpz_class running = 0;
  size_t counted_so_far = 0;
  for (size_t p = 0; p < pages.size(); ++p) {
    text(cr, report.list_caption, kMargin, kMargin, 14, kInk, Align::Left, true);
    text(cr, "第 " + std::to_string(p + 1) + " / " + std::to_string(pages.size()) + " 頁", kWidth - kMargin,
         kMargin + 4, 9, kMuted, Align::Right);
    double x = kMargin, y = top;
    for (const Column& column : kColumns) {
      cell(cr, column.heading, x, y, column.width - 6, kListSize, kMuted, column.align, true);
      x += column.width;
    }
    y += kRow;
    colour(cr, kGrid);
    cairo_set_line_width(cr, 0.6);
    cairo_move_to(cr, kMargin, y - 2);
    cairo_line_to(cr, kWidth - kMargin, y - 2);
    cairo_stroke(cr);
    mpz_class page_total = 0;
    size_t page_count = 0;
    for (size_t i = pages[p].first; i < pages[p].second; ++i) {
      const ReportListRow& row = report.list[i];
      const Rgb ink = row.counted ? kInk : kMuted;
      const std::string total =
          row.total.find_first_not_of("-0123456789") == std::string::npos && !row.total.empty()
              ? grouped_figures(digits_value(row.total))
              : row.total;
      const std::string cells[] = {row.number, row.date, row.buyer, row.buyer_tax_id, total, row.state};
      x = kMargin;
      for (size_t c = 0; c < std::size(kColumns); ++c) {
        cell(cr, cells[c], x, y, kColumns[c].width - 6, kListSize, c == 5 && !row.counted ? kLine : ink,
             kColumns[c].align);
        x += kColumns[c].width;
      }
      y += kRow;
      if (!row.note.empty()) {
        cell(cr, row.note, kMargin + kColumns[0].width + kColumns[1].width, y - 2,
             kWidth - 2 * kMargin - kColumns[0].width - kColumns[1].width, kListSize - 0.5, kLine);
        y += kRow;
      }
      if (row.counted) {
        page_total += digits_value(row.total);
        ++page_count;
      }
    }
    running += page_total;
    counted_so_far += page_count;
    colour(cr, kGrid);
    cairo_move_to(cr, kMargin, foot);
    cairo_line_to(cr, kWidth - kMargin, foot);
    cairo_stroke(cr);
    text(cr, "本頁已開立 " + std::to_string(page_count) + " 張，合計 " + grouped_figures(page_total) + " 元",
         kMargin, foot + 6, 9.5, kInk, Align::Left, true);
    text(cr,
         std::string(p + 1 == pages.size() ? "本月已開立合計 " : "累計 ") + std::to_string(counted_so_far) +
             " 張，" + grouped_figures(running) + " 元",
         kWidth - kMargin, foot + 6, 9.5, kInk, Align::Right, true);
    text(cr, "作廢與未完成的收據列出但不計入合計 · Receiptora · " + created.substr(0, 10), kWidth - kMargin,
         kHeight - kMargin + 10, 7.5, kMuted, Align::Right);
    cairo_show_page(cr);
  }
}

std::string now_iso() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char out[32];
  std::strftime(out, sizeof out, "%Y-%m-%dT%H:%M:%S", &tm);
  return out;
}

}  // namespace

std::string render_month_report(const MonthReport& report) {
  std::string out;
  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
      cairo_pdf_surface_create_for_stream(append, &out, kWidth, kHeight), cairo_surface_destroy);
  check(cairo_surface_status(surface.get()), "PDF surface");
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, report.title.c_str());
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR, "Receiptora");
  const std::string created = report.created_at.empty() ? now_iso() : report.created_at;
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATE_DATE, created.c_str());
  {
    std::unique_ptr<cairo_t, decltype(&cairo_destroy)> context(cairo_create(surface.get()), cairo_destroy);
    cairo_t* cr = context.get();
    const double inner = kWidth - 2 * kMargin;
    double y = kMargin;
    y += text(cr, report.title, kMargin, y, 20, kInk, Align::Left, true) + 4;
    if (!report.shop.empty()) y += text(cr, report.shop, kMargin, y, 11, kMuted) + 4;
    y += 12;
    if (!report.verdict.empty()) {  // the check's verdict, before any figure
      const double height =
          text(cr, report.verdict, kMargin + 10, y + 6, 10, report.verdict_sound ? kInk : kLine, Align::Left,
               false, kWidth - 2 * kMargin - 20);
      colour(cr, report.verdict_sound ? kGrid : kLine);
      cairo_set_line_width(cr, 0.8);
      cairo_rectangle(cr, kMargin + 2, y, kWidth - 2 * kMargin - 4, height + 12);
      cairo_stroke(cr);
      y += height + 12 + 14;
    }
    // The figures in boxes across the page.
    if (!report.figures.empty()) {
      const double box = inner / static_cast<double>(report.figures.size());
      for (size_t i = 0; i < report.figures.size(); ++i) {
        const double bx = kMargin + box * static_cast<double>(i);
        colour(cr, kGrid);
        cairo_set_line_width(cr, 0.8);
        cairo_rectangle(cr, bx + 2, y, box - 4, 54);
        cairo_stroke(cr);
        text(cr, report.figures[i].first, bx + 10, y + 8, 9, kMuted);
        text(cr, report.figures[i].second, bx + 10, y + 24, 15, kInk, Align::Left, true);
      }
      y += 54 + 24;
    }
    y += text(cr, report.days_caption, kMargin, y, 12, kInk, Align::Left, true) + 6;
    bar_chart(cr, kMargin, y, inner, 220, report.days, 0, "");
    y += 220 + 28;
    y += text(cr, report.months_caption, kMargin, y, 12, kInk, Align::Left, true) + 6;
    bar_chart(cr, kMargin, y, inner, 220, report.months, report.reference, report.reference_label);
    y += 220 + 18;
    if (!report.sentence.empty())
      text(cr, report.sentence, kMargin, y, 10.5, kInk, Align::Left, false, inner);
    text(cr, "Receiptora · " + created.substr(0, 10), kWidth - kMargin, kHeight - kMargin + 10, 7.5, kMuted,
         Align::Right);
    cairo_show_page(cr);
    if (!report.list.empty()) draw_list(cr, report, created);
    check(cairo_status(cr), "PDF drawing");
  }
  cairo_surface_finish(surface.get());
  check(cairo_surface_status(surface.get()), "PDF output");
  detail::tidy_pdf(out);
  return out;
}

}  // namespace receiptora::render
