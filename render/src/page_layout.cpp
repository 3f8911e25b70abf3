#include "page_layout.hpp"

#include <algorithm>

#include "receiptora/receipt_texts.hpp"

namespace receiptora::render::detail {

double column_x(int column) {
  double x = kLeft;
  for (int i = 0; i < column; ++i) x += kColumnWidth[i];
  return x;
}

namespace {

// A table cell: first within a normal row (shrinking to 6 pt), otherwise the row grows, up
// to `cap`.
Fitted cell(const TextFitter& text, const char* family, const std::string& value, double width,
            PangoAlignment align, double cap) {
  const double inner = width - 2 * kCellPad;
  Fitted f = text.fit(value, family, 10, 6, inner, kRowHeight - 3, align, 0, false);
  if (f.height <= kRowHeight - 3 && f.width <= inner + 0.01) return f;
  Fitted tall = text.make(clean(value), family, 6, inner, align);
  return text.fit(value, family, 6, 6, inner, std::min(tall.height, cap - 3), align);
}

}  // namespace

Layout lay_out(const Receipt& receipt, const TextFitter& text, const char* family, double band) {
  Layout out;
  out.band = band;
  // Room for rows on a page that continues, and on the last page as a whole.
  const double continuing = kBottom - kContinuedRoom - kRowsTop;
  const double whole = kBottom - kRowsTop;

  // The totals: figures and capitals come from the same integer.
  mpz_class total = 0;
  for (const Item& item : receipt.items) total += item.quantity * item.unit_price;
  out.total_row.cells[0] =
      text.fit("合計", family, 10, 6, kColumnWidth[0] + kColumnWidth[1] + kColumnWidth[2] - 2 * kCellPad,
               kRowHeight - 3, PANGO_ALIGN_RIGHT, 10);
  out.total_row.cells[3] = cell(text, family, grouped_figures(total), kColumnWidth[3], PANGO_ALIGN_RIGHT, 80);
  out.total_row.height = std::max(kRowHeight + 2, out.total_row.cells[3].height + 3);
  out.capitals_row.cells[0] = text.fit("新臺幣　" + capital_numerals(total), family, 11, 6,
                                       kRight - kLeft - 2 * kCellPad, 90 - 3, PANGO_ALIGN_LEFT);
  out.capitals_row.height = std::max(kRowHeight + 4, out.capitals_row.cells[0].height + 3);
  const double end_block = out.total_row.height + out.capitals_row.height + band;

  out.rows.reserve(receipt.items.size());
  for (const Item& item : receipt.items) {
    Row row;
    const bool text_line = item.quantity == 0 && item.unit_price == 0;
    row.cells[0] = cell(text, family, item.name, kColumnWidth[0], PANGO_ALIGN_LEFT, continuing);
    if (!text_line) {
      row.cells[1] =
          cell(text, family, grouped_figures(item.quantity), kColumnWidth[1], PANGO_ALIGN_RIGHT, continuing);
      row.cells[2] = cell(text, family, grouped_figures(item.unit_price), kColumnWidth[2], PANGO_ALIGN_RIGHT,
                          continuing);
      row.cells[3] = cell(text, family, grouped_figures(item.quantity * item.unit_price), kColumnWidth[3],
                          PANGO_ALIGN_RIGHT, continuing);
    }
    if (!item.note.empty())
      row.cells[4] = cell(text, family, item.note, kColumnWidth[4], PANGO_ALIGN_LEFT, continuing);
    for (const Fitted& f : row.cells)
      if (f) row.height = std::max(row.height, f.height + 3);
    out.rows.push_back(std::move(row));
  }

  // Fill each page with rows; then the totals and the band go under the last rows when they
  // fit there, else on a page of their own (the stamps vouch for the total they stand under).
  size_t first = 0;
  double used = 0;
  for (size_t i = 0; i < out.rows.size(); ++i) {
    if (used + out.rows[i].height > continuing && i > first) {
      out.pages.push_back({first, i, false});
      first = i;
      used = 0;
    }
    used += out.rows[i].height;
  }
  if (used + end_block > whole) {
    out.pages.push_back({first, out.rows.size(), false});
    first = out.rows.size();
  }
  out.pages.push_back({first, out.rows.size(), true});
  return out;
}

int blank_lines(const Layout& layout, int page) {
  if (page != 0) return 0;
  const Page& p = layout.pages[page];
  double y = kRowsTop;
  for (size_t i = p.first; i < p.last; ++i) y += layout.rows[i].height;
  const double limit = p.end ? kBottom - layout.total_row.height - layout.capitals_row.height - layout.band
                             : kBottom - kContinuedRoom;
  int n = 0;
  for (size_t shown = p.last - p.first; shown + n < kMinRuledRows && y + kRowHeight <= limit + 0.01; ++n)
    y += kRowHeight;
  return n;
}

double table_bottom(const Layout& layout, int page) {
  const Page& p = layout.pages[page];
  double y = kRowsTop + blank_lines(layout, page) * kRowHeight;
  for (size_t i = p.first; i < p.last; ++i) y += layout.rows[i].height;
  if (p.end) y += layout.total_row.height + layout.capitals_row.height;
  return y;
}

}  // namespace receiptora::render::detail
