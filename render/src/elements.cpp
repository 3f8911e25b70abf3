#include "elements.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "receiptora/receipt_texts.hpp"

namespace receiptora::render::detail {

namespace {

bool blank(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t'; });
}

void line(cairo_t* cr, double x0, double y0, double x1, double y1, double width) {
  cairo_set_line_width(cr, width);
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_stroke(cr);
}

// The characters of the owner's seal: the name without spaces; a three-character name
// gets 印 as its fourth, as seal carvers do.
std::vector<std::string> seal_characters(const std::string& owner) {
  std::vector<std::string> chars = characters(clean(owner));
  std::erase_if(chars, [](const std::string& c) { return c == " " || c == "\u3000" || c == "\u200b"; });
  if (chars.size() == 3) chars.emplace_back("印");
  return chars;
}

// The seal's grid: columns read right to left, each top to bottom; square cells, as many
// rows as columns or one more, so long names are arranged rather than squashed.
struct SealGrid {
  int rows = 0, columns = 0;
  double cell = 0, width = 0, height = 0;
};
constexpr double kSealBorder = 4;
SealGrid seal_grid(size_t n) {
  SealGrid g;
  if (n == 0) return g;
  g.rows = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(n))));
  g.columns = static_cast<int>((n + g.rows - 1) / g.rows);
  g.cell = (kSealSize - 2 * kSealBorder) / std::max(g.rows, g.columns);
  g.width = g.columns * g.cell + 2 * kSealBorder;
  g.height = g.rows * g.cell + 2 * kSealBorder;
  return g;
}

SealGrid owner_seal_grid(const Receipt& r) {
  if (!r.seller.owner_seal_image.empty()) return {1, 1, kSealSize, kSealSize, kSealSize};
  return seal_grid(seal_characters(r.seller.owner).size());
}

// Red ink: drawn into a group, then multiplied onto the page slightly transparent, as ink
// over print, so the text underneath stays readable. The clip to the box keeps the group
// and the blend small (a whole-page blend costs milliseconds in a picture).
template <class F>
void ink(cairo_t* cr, double x, double y, double w, double h, double alpha, F&& draw) {
  cairo_save(cr);
  cairo_rectangle(cr, x, y, w, h);
  cairo_clip(cr);
  cairo_push_group(cr);
  set_colour(cr, kStampRed);
  draw();
  cairo_pop_group_to_source(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_MULTIPLY);
  cairo_paint_with_alpha(cr, alpha);
  cairo_restore(cr);
}

// A PNG stamp picture scaled into the box, keeping its proportions.
void picture(cairo_t* cr, const std::string& path, double x, double y, double w, double h) {
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

void draw_row(cairo_t* cr, const Row& row, double y) {
  set_colour(cr, kInk);
  for (int c = 0; c < kColumns; ++c) {
    const Fitted& f = row.cells[c];
    if (f) show(cr, f, column_x(c) + kCellPad, y + (row.height - f.height) / 2);
  }
}

void draw_exemption_stamp(cairo_t* cr, const Sheet& sheet, double x, double y) {
  constexpr double w = kExemptionWidth, h = kExemptionHeight;
  const SellerProfile& s = sheet.receipt.seller;
  if (!s.exemption_stamp_image.empty()) return picture(cr, s.exemption_stamp_image, x, y, w, h);
  const char* faces = sheet.look.faces;  // its glyphs are embedded anyway: no extra font subset
  ink(cr, x - 1, y - 1, w + 2, h + 2, 0.88, [&] {
    cairo_set_line_width(cr, 1.6);
    cairo_rectangle(cr, x + 0.8, y + 0.8, w - 1.6, h - 1.6);
    cairo_stroke(cr);
    cairo_set_line_width(cr, 0.6);
    cairo_rectangle(cr, x + 3.5, y + 3.5, w - 7, h - 7);
    cairo_stroke(cr);
    const double ix = x + 7, iw = w - 14;
    double ty = y + 5.5;
    auto put = [&](const std::string& text, double size, double slot, double spacing = 0) {
      const Fitted& f = sheet.text.fit_once(text, faces, size, 4, iw, slot, PANGO_ALIGN_CENTER, spacing);
      show(cr, f, ix, ty + (slot - f.height) / 2);
      ty += slot;
    };
    put(s.name, 11, 15);
    put("統一編號：" + s.tax_id, 6.5, 9);
    put("負責人：" + s.owner, 6.5, 9);
    put("地址：" + s.address, 6.5, 9);
    put("電話：" + s.phone, 6.5, 9);
    put("免用統一發票專用章", 8.5, 12, 1.5);
  });
}

void draw_owner_seal(cairo_t* cr, const Sheet& sheet, double x, double y) {
  const SellerProfile& s = sheet.receipt.seller;
  if (!s.owner_seal_image.empty()) return picture(cr, s.owner_seal_image, x, y, kSealSize, kSealSize);
  const std::vector<std::string> chars = seal_characters(s.owner);
  const SealGrid g = seal_grid(chars.size());
  if (chars.empty()) return;
  ink(cr, x - 2, y - 2, g.width + 4, g.height + 4, 0.88, [&] {
    cairo_set_line_width(cr, 2.4);
    cairo_rectangle(cr, x + 1.2, y + 1.2, g.width - 2.4, g.height - 2.4);
    cairo_stroke(cr);
    for (size_t k = 0; k < chars.size(); ++k) {
      const int column = static_cast<int>(k) / g.rows, row = static_cast<int>(k) % g.rows;
      const Fitted& f = sheet.text.make_once(chars[k], kSealFaces, 20, 200, PANGO_ALIGN_LEFT);
      PangoRectangle ink_rect, logical;
      pango_layout_get_extents(f.layout.get(), &ink_rect, &logical);
      if (ink_rect.width <= 0 || ink_rect.height <= 0) continue;
      const double gx = ink_rect.x / double(PANGO_SCALE), gy = ink_rect.y / double(PANGO_SCALE);
      const double gw = ink_rect.width / double(PANGO_SCALE), gh = ink_rect.height / double(PANGO_SCALE);
      // One scale for both directions: the character keeps its proportions. Sized by the
      // em square, so a flat 一 stays flat; a glyph larger than its em still fits.
      const double scale = std::min(g.cell * 0.9 / 20, g.cell * 0.92 / std::max(gw, gh));
      const double cell_x = x + kSealBorder + (g.columns - 1 - column) * g.cell;
      const double cell_y = y + kSealBorder + row * g.cell;
      cairo_save(cr);
      cairo_translate(cr, cell_x + (g.cell - gw * scale) / 2, cell_y + (g.cell - gh * scale) / 2);
      cairo_scale(cr, scale, scale);
      cairo_move_to(cr, -gx, -gy);
      pango_cairo_show_layout(cr, f.layout.get());
      cairo_restore(cr);
    }
  });
}

}  // namespace

bool draws_exemption_stamp(const Receipt& r) {
  return r.exemption_stamp && (!r.seller.exemption_stamp_image.empty() || !blank(r.seller.name));
}

bool draws_owner_seal(const Receipt& r) {
  return r.owner_seal && (!r.seller.owner_seal_image.empty() || !seal_characters(r.seller.owner).empty());
}

double stamps_room(const Receipt& r) {
  double h = 0;
  if (draws_exemption_stamp(r)) h = kExemptionHeight;
  if (draws_owner_seal(r)) h = std::max(h, owner_seal_grid(r).height);
  return h > 0 ? h + kStampGap : 0;
}

double stamps_left(const Receipt& r) {
  double x = kRight;
  if (draws_exemption_stamp(r)) x -= kExemptionWidth + 14;
  if (draws_owner_seal(r)) x -= owner_seal_grid(r).width;
  return x;
}

void draw_stamps(cairo_t* cr, const Sheet& sheet, double top) {
  const Receipt& r = sheet.receipt;
  const double y = top + kStampGap;
  double x = kRight;
  if (draws_exemption_stamp(r)) {
    x -= kExemptionWidth;
    draw_exemption_stamp(cr, sheet, x, y);
    x -= 14;
  }
  if (draws_owner_seal(r)) {
    const SealGrid g = owner_seal_grid(r);
    const double h = draws_exemption_stamp(r) ? kExemptionHeight : g.height;
    draw_owner_seal(cr, sheet, x - g.width, y + (h - g.height) / 2);
  }
}

void draw_header(cairo_t* cr, const Sheet& sheet, int page) {
  const Receipt& r = sheet.receipt;
  const SellerProfile& s = r.seller;
  const TextFitter& text = sheet.text;
  const char* faces = sheet.look.faces;
  set_colour(cr, kInk);
  const Fitted& title = text.fit_once("免用統一發票收據", faces, 20, 20, 300, 40, PANGO_ALIGN_CENTER, 5);
  show(cr, title, kPageWidth / 2 - 150, sheet.look.title == TitleStyle::Framed ? 26 : 22);
  if (sheet.look.title == TitleStyle::DoubleRule) {
    line(cr, kPageWidth / 2 - 110, 50, kPageWidth / 2 + 110, 50, 0.9);
    line(cr, kPageWidth / 2 - 110, 52.5, kPageWidth / 2 + 110, 52.5, 0.4);
  }
  show(cr, text.fit_once("No. " + r.number, faces, 9, 6, 150, 12, PANGO_ALIGN_RIGHT), kRight - 150, 20);
  const size_t pages = sheet.layout.pages.size();
  const Fitted& count =
      text.fit_once("第 " + std::to_string(page + 1) + " 頁／共 " + std::to_string(pages) + " 頁", faces, 8,
                    kMinSize, 150, 12, PANGO_ALIGN_RIGHT);
  show(cr, count, kRight - 150, 33);

  // Seller block.
  const double w = 290;
  show(cr, text.fit_once(s.name, faces, 13, 8, w, 17), kLeft, 57);
  show(cr, text.fit_once("統一編號：" + s.tax_id + "　　負責人：" + s.owner, faces, 9, 6, w, 12), kLeft, 74);
  show(cr, text.fit_once("地址：" + s.address, faces, 9, 6, w, 12), kLeft, 86);
  show(cr, text.fit_once("電話：" + s.phone, faces, 9, 6, w, 12), kLeft, 98);

  // Buyer block and date, on ruled lines as on a paper form.
  const double bx = 330, label_w = 56, vx = bx + label_w, vw = kRight - vx;
  show(cr, text.fit_once("買受人：", faces, 10, 10, label_w, 16), bx, 57);
  show(cr, text.fit_once(r.buyer, faces, 10, 6, vw - 4, 14), vx + 2, 57);
  show(cr, text.fit_once("統一編號：", faces, 10, 10, label_w + 10, 16), bx, 76);
  show(cr, text.fit_once(r.buyer_tax_id, faces, 10, 6, vw - 4, 14), vx + 2, 76);
  set_colour(cr, kRule);
  line(cr, vx, 72, kRight, 72, 0.5);
  line(cr, vx, 91, kRight, 91, 0.5);
  set_colour(cr, kInk);
  if (!sheet.date_text.empty()) {
    show(cr, text.fit_once(sheet.date_text, faces, 10, 6, kRight - bx, 14, PANGO_ALIGN_RIGHT), bx, 95);
  } else {
    // Blanks to be filled in by hand.
    const Fitted& blank = text.make_once("中華民國 <u>　　　　</u> 年 <u>　　　</u> 月 <u>　　　</u> 日",
                                         faces, 10, kRight - bx, PANGO_ALIGN_RIGHT, true);
    show(cr, blank, bx, 95);
  }
}

double draw_table(cairo_t* cr, const Sheet& sheet, int page) {
  const Layout& layout = sheet.layout;
  const Page& p = layout.pages[page];
  const char* faces = sheet.look.faces;
  const double table_top = layout.rows_top - kHeaderRow;
  double y = layout.rows_top;
  // Header row, shaded.
  set_colour(cr, sheet.look.title == TitleStyle::Framed ? tint(0.1) : kShade);
  cairo_rectangle(cr, kLeft, table_top, kRight - kLeft, kHeaderRow);
  cairo_fill(cr);
  set_colour(cr, kInk);
  for (int c = 0; c < kColumns; ++c) {
    const Fitted& title =
        sheet.text.fit_once(kColumnTitle[c], faces, 9.5, kMinSize, kColumnWidth[c] - 2 * kCellPad,
                            kHeaderRow - 2, PANGO_ALIGN_CENTER, 9.5);
    show(cr, title, column_x(c) + kCellPad, table_top + (kHeaderRow - title.height) / 2);
  }
  std::vector<double> rules = {table_top, layout.rows_top};
  // 承前頁: its label spans the first three columns, so their lines start under it.
  if (p.brought.height > 0) {
    draw_row(cr, p.brought, y);
    y += p.brought.height;
    rules.push_back(y);
  }
  const double body_top = y;
  for (size_t i = p.first; i < p.last; ++i) {
    draw_row(cr, layout.rows[i], y);
    y += layout.rows[i].height;
    rules.push_back(y);
  }
  // Blank ruled lines, as on paper.
  for (int n = blank_lines(layout, page); n > 0; --n) {
    y += kRowHeight;
    rules.push_back(y);
  }
  const double body_bottom = y;
  double column_bottom = body_bottom;
  if (p.end) {
    draw_row(cr, layout.total_row, y);
    y += layout.total_row.height;
    column_bottom = y;
    rules.push_back(y);
    const Fitted& capitals = layout.capitals_row.cells[0];
    set_colour(cr, kInk);
    show(cr, capitals, kLeft + kCellPad, y + (layout.capitals_row.height - capitals.height) / 2);
    y += layout.capitals_row.height;
    rules.push_back(y);
  } else {
    draw_row(cr, p.subtotal, y);
    y += p.subtotal.height;
    column_bottom = y;
    rules.push_back(y);
  }

  set_colour(cr, kRule);
  for (size_t i = 0; i < rules.size(); ++i) {
    const bool heavy = i == 0 || i + 1 == rules.size();
    line(cr, kLeft, rules[i], kRight, rules[i], heavy ? 1.0 : 0.4);
  }
  line(cr, kLeft, table_top, kLeft, y, 1.0);
  line(cr, kRight, table_top, kRight, y, 1.0);
  // Column lines run through the items, and through the figures of 承前頁, 小計 and 合計.
  for (int c = 1; c < kColumns; ++c) {
    if (c < 3) {
      line(cr, column_x(c), table_top, column_x(c), layout.rows_top, 0.5);
      line(cr, column_x(c), body_top, column_x(c), body_bottom, 0.5);
    } else {
      line(cr, column_x(c), table_top, column_x(c), column_bottom, 0.5);
    }
  }
  return y;
}

void draw_mark(cairo_t* cr, const Sheet& sheet) {
  const Receipt& r = sheet.receipt;
  if (!r.mark) return;
  const Mark& mark = *r.mark;
  const auto roc = roc_date(mark.date.year, mark.date.month, mark.date.day);
  const std::string day = roc ? roc_date_text(*roc) : "";
  const char* faces = sheet.look.faces;
  if (mark.kind == Mark::Kind::Reprint) {
    // A small box in the top left corner.
    constexpr double x = kLeft, y = kEdge + 3, w = 96, h = 30;
    ink(cr, x - 1, y - 1, w + 2, h + 2, 0.9, [&] {
      cairo_set_line_width(cr, 1.2);
      cairo_rectangle(cr, x + 0.6, y + 0.6, w - 1.2, h - 1.2);
      cairo_stroke(cr);
      const Fitted& word = sheet.text.fit_once("補印", faces, 12, 8, w - 8, 16, PANGO_ALIGN_CENTER, 6);
      show(cr, word, x + 4, y + 2);
      const Fitted& when = sheet.text.fit_once(day, faces, 6.5, 4, w - 8, 10, PANGO_ALIGN_CENTER);
      show(cr, when, x + 4, y + 18 + (10 - when.height) / 2);
    });
    return;
  }
  // Void: a large 作廢 across the middle of the page, and under it the reason and the day,
  // in translucent red multiplied over the print, so every word under it still reads.
  const double cx = kPageWidth / 2, cy = 250;
  ink(cr, kEdge, kEdge, kPageWidth - 2 * kEdge, kPageHeight - 2 * kEdge, 0.55, [&] {
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_rotate(cr, -0.28);
    const Fitted& word = sheet.text.fit_once("作廢", faces, 120, 40, 360, 170, PANGO_ALIGN_CENTER, 40);
    std::string why = mark.reason.empty() ? "作廢" : "作廢原因：" + mark.reason;
    if (!day.empty()) why += "　" + day;
    const Fitted& reason = sheet.text.fit_once(why, faces, 13, 6, 320, 36, PANGO_ALIGN_CENTER);
    const double w = 340, h = word.height + reason.height + 10, top = -h / 2;
    show(cr, word, -180, top + 2);
    show(cr, reason, -160, top + 2 + word.height);
    cairo_set_line_width(cr, 4);
    cairo_rectangle(cr, -w / 2, top - 4, w, h + 4);
    cairo_stroke(cr);
    cairo_restore(cr);
  });
}

}  // namespace receiptora::render::detail
