// Page layout: where everything sits on an A5 landscape sheet, and which item rows, totals
// and stamps go on which page. Units are points, origin at the top left.
#pragma once

#include <cstddef>
#include <vector>

#include "receiptora/receipt.hpp"
#include "text_fit.hpp"

namespace receiptora::render::detail {

inline constexpr double kPageWidth = 595.28;  // A5 landscape, 210 mm × 148 mm
inline constexpr double kPageHeight = 419.53;
// No ink within 5 mm (14.2 pt) of an edge: printers cut there. A little more, for the
// printer's own misalignment.
inline constexpr double kEdge = 15.5;
inline constexpr double kLeft = 28, kRight = kPageWidth - 28;
inline constexpr double kBottom = kPageHeight - kEdge;  // lowest ink on a page

// The buyer's block: its labels, and the values on ruled lines.
inline constexpr double kBuyerX = 330, kBuyerValueX = kBuyerX + 56;

// The item table.
inline constexpr double kTableTop = 112, kHeaderRow = 15, kRowsTop = kTableTop + kHeaderRow;
inline constexpr double kRowHeight = 16;
inline constexpr double kCellPad = 4;
inline constexpr int kMinRuledRows = 7;  // the first page is ruled down to seven lines

// Columns: 品名, 數量, 單價, 金額, 備註.
inline constexpr int kColumns = 5;
inline constexpr double kColumnWidth[kColumns] = {220, 55, 85, 105, kRight - kLeft - 465};
inline constexpr const char* kColumnTitle[kColumns] = {"品名", "數量", "單價", "金額", "備註"};
double column_x(int column);

// The stamps, drawn under the table of every page, right-aligned.
inline constexpr double kStampGap = 6;  // between the table and the stamps
inline constexpr double kExemptionWidth = 152, kExemptionHeight = 72, kSealSize = 56;
// The square left free under the table of every page, at the left, with room for one line
// of text beside it: 60 pt is 21 mm, what a phone's camera reads from paper at arm's length.
inline constexpr double kCodeSize = 60, kCodeCaptionWidth = 100, kCodeCaptionGap = 4;

struct Box {
  double x = 0, y = 0, width = 0, height = 0;
  double right() const { return x + width; }
  double bottom() const { return y + height; }
};

struct Row {
  double height = kRowHeight;
  Fitted cells[kColumns];
};

// The rows of one page. A page that continues ends with 本頁小計, the sum of its rows, and
// (after the first page) 累計, the sum of all rows so far; the pages after the first begin
// with 承前頁, the sum of all rows before them.
struct Page {
  size_t first = 0, last = 0;  // item rows [first, last)
  bool end = false;            // the last page: totals, then the band for stamps and artwork
  Row brought{0};              // 承前頁 (height 0 on the first page)
  Row subtotal{0};             // 本頁小計 (on a page that continues)
  Row cumulative{0};           // 累計, under 本頁小計 on a page that both carries and continues
  double band_top = 0;         // under the table: the band for the stamps, the code and artwork
  Box code_box;                // holds the receipt's verification code (a QR code), drawn elsewhere
  Box code_caption;            // one line of text beside the code
};

struct Layout {
  double rows_top = kRowsTop;  // where the item rows begin, under the header and column titles
  std::vector<Row> rows;
  Row total_row, capitals_row;
  Fitted nothing_below;  // 以下空白, in the first blank ruled line under the last item
  double band = 0;       // kept free under the totals on the last page
  double page_band = 0;  // kept free under the 小計 of every other page
  std::vector<Page> pages;
};

// Blank ruled lines under the items of `page`: the first page is ruled down to seven lines
// where there is room.
int blank_lines(const Layout& layout, int page);
// The lowest line of the table on `page` (on the last page, under the totals: the band
// for the stamps and the artwork begins there).
double table_bottom(const Layout& layout, int page);

// The band every page keeps under its table for stamps `stamps` points tall (with their gap)
// and the code box.
double page_band(double stamps);

// Lays out the items and totals of `receipt` in `family` under a header ending at
// `table_top`, keeping `band` points free under the totals and `page_band` under the table
// of every other page. Every page is filled before the next begins; the totals and the band
// stay together on the last page, with at least two item rows (or all there are) above
// them, so the totals never stand alone.
Layout lay_out(const Receipt& receipt, const TextFitter& text, const char* family, double band,
               double table_top = kTableTop, double page_band = 0);

}  // namespace receiptora::render::detail
