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

// A text cell: on one line within a normal row, shrinking a little; otherwise wrapped, and
// the row grows (up to `cap`, then smaller down to the smallest size).
Fitted cell(const TextFitter& text, const char* family, const std::string& value, double width,
            PangoAlignment align, double cap) {
  const double inner = width - 2 * kCellPad;
  Fitted f = text.fit(value, family, 10, 8.5, inner, kRowHeight - 3, align, 0, false);
  if (f.height <= kRowHeight - 3 && f.width <= inner + 0.01) return f;
  return text.fit(value, family, 9, kMinSize, inner, cap - 3, align);
}

Fitted figures(const TextFitter& text, const char* family, const mpz_class& value, double width, double cap) {
  return text.figures(grouped_figures(value), family, 10, 9, width - 2 * kCellPad, cap - 3);
}

// A row that carries an amount: its label right-aligned across 品名 to 單價, the figures
// under 金額, and a note under 備註.
Row amount_row(const TextFitter& text, const char* family, const char* label, const mpz_class& amount,
               double cap, const char* note = nullptr) {
  Row row;
  row.cells[0] = text.fit(label, family, 10, kMinSize,
                          kColumnWidth[0] + kColumnWidth[1] + kColumnWidth[2] - 2 * kCellPad, kRowHeight - 3,
                          PANGO_ALIGN_RIGHT, 10);
  row.cells[3] = figures(text, family, amount, kColumnWidth[3], cap);
  if (note)
    row.cells[4] = text.fit(note, family, 8, kMinSize, kColumnWidth[4] - 2 * kCellPad, kRowHeight - 3,
                            PANGO_ALIGN_CENTER);
  row.height = std::max(kRowHeight, row.cells[3].height + 3);
  return row;
}

}  // namespace

double page_band(double stamps) { return std::max(stamps, kCodeSize + kStampGap); }

Layout lay_out(const Receipt& receipt, const TextFitter& text, const char* family, double band,
               double table_top, double page_band) {
  Layout out;
  out.band = std::max(band, page_band);
  out.page_band = page_band;
  band = out.band;
  out.rows_top = table_top + kHeaderRow;
  const double whole = kBottom - out.rows_top;

  // The totals: figures and capitals come from the same integer.
  mpz_class total = 0;
  for (const Item& item : receipt.items) total += item.quantity * item.unit_price;
  out.total_row = amount_row(text, family, "合計", total, 80);
  out.total_row.height = std::max(out.total_row.height, kRowHeight + 2);
  out.capitals_row.cells[0] = text.fit("新臺幣　" + capital_numerals(total), family, 11, kMinSize,
                                       kRight - kLeft - 2 * kCellPad, 90 - 3, PANGO_ALIGN_LEFT);
  out.capitals_row.height = std::max(kRowHeight + 4, out.capitals_row.cells[0].height + 3);
  out.nothing_below = text.fit("以下空白", family, 9, kMinSize, kColumnWidth[0] - 2 * kCellPad,
                               kRowHeight - 3, PANGO_ALIGN_CENTER, 6);
  const double end_block = out.total_row.height + out.capitals_row.height + band;
  // The tallest a row may grow: the last page still holds it with 承前頁, another row and
  // the totals.
  const double cap = std::max(3 * kRowHeight, whole - end_block - 2 * kRowHeight);

  std::vector<mpz_class> amounts;
  amounts.reserve(receipt.items.size());
  out.rows.reserve(receipt.items.size());
  for (const Item& item : receipt.items) {
    Row row;
    const bool text_line = item.quantity == 0 && item.unit_price == 0;
    amounts.push_back(item.quantity * item.unit_price);
    row.cells[0] = cell(text, family, item.name, kColumnWidth[0], PANGO_ALIGN_LEFT, cap);
    if (!text_line) {
      row.cells[1] = figures(text, family, item.quantity, kColumnWidth[1], cap);
      row.cells[2] = figures(text, family, item.unit_price, kColumnWidth[2], cap);
      row.cells[3] = figures(text, family, amounts.back(), kColumnWidth[3], cap);
    }
    if (!item.note.empty())
      row.cells[4] = cell(text, family, item.note, kColumnWidth[4], PANGO_ALIGN_LEFT, cap);
    for (const Fitted& f : row.cells)
      if (f) row.height = std::max(row.height, f.height + 3);
    out.rows.push_back(std::move(row));
  }

  // Page by page: the rest goes on this page with the totals when it fits; otherwise this
  // page takes as many rows as fit above its 小計, leaving at least two for the last page.
  const size_t n = out.rows.size();
  mpz_class carried = 0;
  for (size_t first = 0;;) {
    Page page;
    page.first = first;
    if (!out.pages.empty()) page.brought = amount_row(text, family, "承前頁", carried, cap);
    const double room = whole - page.brought.height - page_band;
    double rest = 0;
    for (size_t i = first; i < n; ++i) rest += out.rows[i].height;
    if (rest + end_block <= room + page_band + 0.01 || first == n) {
      page.last = n;
      page.end = true;
      out.pages.push_back(std::move(page));
      break;
    }
    const double subtotal_height = out.pages.empty() ? kRowHeight : 2 * kRowHeight;
    size_t last = first;
    for (double used = 0; last < n && used + out.rows[last].height + subtotal_height <= room + 0.01; ++last)
      used += out.rows[last].height;
    // The last page keeps two rows (or all that are left after one here) above the totals.
    const size_t keep = std::min<size_t>(2, n - first - 1);
    last = std::max(first + 1, std::min(last, n - keep));
    for (;;) {
      mpz_class sum = 0;
      for (size_t i = first; i < last; ++i) sum += amounts[i];
      const bool carries = !out.pages.empty();
      page.subtotal = amount_row(text, family, "本頁小計", sum, cap, carries ? nullptr : "（續下頁）");
      if (carries) page.cumulative = amount_row(text, family, "累計", carried + sum, cap, "（續下頁）");
      double used = page.subtotal.height + page.cumulative.height;
      for (size_t i = first; i < last; ++i) used += out.rows[i].height;
      if (used <= room + 0.01 || last == first + 1) {
        carried += sum;
        break;
      }
      --last;  // a subtotal of many digits needs a taller row
    }
    page.last = last;
    out.pages.push_back(std::move(page));
    first = last;
  }
  for (size_t i = 0; i < out.pages.size(); ++i) {
    Page& page = out.pages[i];
    page.band_top = table_bottom(out, static_cast<int>(i));
    page.code_box = {kLeft, page.band_top + kStampGap, kCodeSize, kCodeSize};
    page.code_caption = {page.code_box.right() + kCodeCaptionGap, page.code_box.y, kCodeCaptionWidth,
                         kCodeSize};
  }
  return out;
}

int blank_lines(const Layout& layout, int page) {
  if (page != 0) return 0;
  const Page& p = layout.pages[page];
  double y = layout.rows_top;
  for (size_t i = p.first; i < p.last; ++i) y += layout.rows[i].height;
  const double limit = p.end ? kBottom - layout.total_row.height - layout.capitals_row.height - layout.band
                             : kBottom - p.subtotal.height - p.cumulative.height - layout.page_band;
  int n = 0;
  for (size_t shown = p.last - p.first; shown + n < kMinRuledRows && y + kRowHeight <= limit + 0.01; ++n)
    y += kRowHeight;
  return n;
}

double table_bottom(const Layout& layout, int page) {
  const Page& p = layout.pages[page];
  double y = layout.rows_top + p.brought.height + blank_lines(layout, page) * kRowHeight;
  for (size_t i = p.first; i < p.last; ++i) y += layout.rows[i].height;
  y += p.end ? layout.total_row.height + layout.capitals_row.height : p.subtotal.height + p.cumulative.height;
  return y;
}

}  // namespace receiptora::render::detail
