#include "elements.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <vector>

#include "qr.hpp"
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
  if (const cairo_status_t status = cairo_surface_status(image); status != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(image);
    // cairo tells a missing or unreadable file apart; a file that is no PNG it reports as
    // PNG_ERROR or, in older versions, as NO_MEMORY.
    const char* cause = status == CAIRO_STATUS_FILE_NOT_FOUND ? "找不到這個檔案"
                        : status == CAIRO_STATUS_READ_ERROR   ? "檔案無法讀取"
                                                              : "不是可讀取的 PNG 圖檔";
    throw std::runtime_error("印章圖檔 " + path + " 無法使用（" + cause + "）");
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

// A row's cells of one line stand on one baseline (a cell with an emoji is taller, and
// centring it alone would lift its text): the row reads as one line, to the eye and to a
// PDF reader's text order. Cells of several lines are centred.
void draw_row(cairo_t* cr, const Row& row, double y) {
  set_colour(cr, kInk);
  const auto one_line = [](const Fitted& f) { return pango_layout_get_line_count(f.layout.get()) == 1; };
  const auto baseline = [](const Fitted& f) {
    return pango_layout_get_baseline(f.layout.get()) / double(PANGO_SCALE) * f.scale;
  };
  double line = -1;
  for (const Fitted& f : row.cells)
    if (f && one_line(f)) line = std::max(line, (row.height - f.height) / 2 + baseline(f));
  for (int c = 0; c < kColumns; ++c) {
    const Fitted& f = row.cells[c];
    if (!f) continue;
    show(cr, f, column_x(c) + kCellPad, y + (one_line(f) ? line - baseline(f) : (row.height - f.height) / 2));
  }
}

void draw_exemption_stamp(cairo_t* cr, const Sheet& sheet, double x, double y) {
  const double w = kExemptionWidth, h = sheet.stamp.height;
  const SellerProfile& s = sheet.receipt.seller;
  if (!s.exemption_stamp_image.empty()) return picture(cr, s.exemption_stamp_image, x, y, w, h);
  ink(cr, x - 1, y - 1, w + 2, h + 2, 0.88, [&] {
    cairo_set_line_width(cr, 1.6);
    cairo_rectangle(cr, x + 0.8, y + 0.8, w - 1.6, h - 1.6);
    cairo_stroke(cr);
    cairo_set_line_width(cr, 0.6);
    cairo_rectangle(cr, x + 3.5, y + 3.5, w - 7, h - 7);
    cairo_stroke(cr);
    for (const Placed& line : sheet.stamp.lines) show(cr, line.fitted, x + line.x, y + line.y);
  });
}

void draw_owner_seal(cairo_t* cr, const Sheet& sheet, double x, double y) {
  const SellerProfile& s = sheet.receipt.seller;
  if (!s.owner_seal_image.empty()) return picture(cr, s.owner_seal_image, x, y, kSealSize, kSealSize);
  const std::vector<std::string> chars = seal_characters(s.owner);
  const SealGrid g = seal_grid(chars.size());
  if (chars.empty()) return;
  // One size for every character, by the em square (a flat 一 stays flat), each centred on
  // its ink in its cell. Columns read right to left; a name that does not fill the grid
  // gives its first columns one character more, and each column shares its height evenly
  // among its characters, so no cell stays empty.
  const double size = g.cell * 0.9;
  struct Placed {
    const Fitted* f;
    double x, y;  // the layout's origin
  };
  std::vector<Placed> placed;
  std::vector<cairo_glyph_t> glyphs;
  cairo_scaled_font_t* font = nullptr;
  bool one_font = true;
  const size_t columns = static_cast<size_t>(g.columns);
  for (size_t column = 0, k = 0; column < columns; ++column) {
    const size_t in_column = chars.size() / columns + (column < chars.size() % columns ? 1 : 0);
    const double cell_height = g.rows * g.cell / static_cast<double>(in_column);
    for (size_t row = 0; row < in_column; ++row, ++k) {
      const Fitted& f = sheet.text.make_once(chars[k], kSealFaces, size, 200, PANGO_ALIGN_LEFT);
      PangoRectangle ink_rect;
      pango_layout_get_extents(f.layout.get(), &ink_rect, nullptr);
      const double gx = ink_rect.x / double(PANGO_SCALE), gy = ink_rect.y / double(PANGO_SCALE);
      const double gw = ink_rect.width / double(PANGO_SCALE), gh = ink_rect.height / double(PANGO_SCALE);
      const double cell_x = x + kSealBorder + (g.columns - 1 - static_cast<double>(column)) * g.cell;
      const double cell_y = y + kSealBorder + row * cell_height;
      const Placed p{&f, cell_x + (g.cell - gw) / 2 - gx, cell_y + (cell_height - gh) / 2 - gy};
      placed.push_back(p);
      // The glyph itself, to draw the whole name as one text.
      PangoLayoutIter* iter = pango_layout_get_iter(f.layout.get());
      const PangoLayoutRun* run = pango_layout_iter_get_run_readonly(iter);
      if (run && run->glyphs->num_glyphs == 1 && !(run->glyphs->glyphs[0].glyph & PANGO_GLYPH_UNKNOWN_FLAG)) {
        cairo_scaled_font_t* sf =
            pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(run->item->analysis.font));
        one_font = one_font && sf && (!font || sf == font);
        font = sf;
        PangoRectangle logical;
        pango_layout_iter_get_run_extents(iter, nullptr, &logical);
        const PangoGlyphInfo& info = run->glyphs->glyphs[0];
        glyphs.push_back(
            {info.glyph, p.x + (logical.x + info.geometry.x_offset) / double(PANGO_SCALE),
             p.y + (pango_layout_iter_get_baseline(iter) + info.geometry.y_offset) / double(PANGO_SCALE)});
      } else {
        one_font = false;
      }
      pango_layout_iter_free(iter);
    }
  }
  ink(cr, x - 2, y - 2, g.width + 4, g.height + 4, 0.88, [&] {
    cairo_set_line_width(cr, 2.4);
    cairo_rectangle(cr, x + 1.2, y + 1.2, g.width - 2.4, g.height - 2.4);
    cairo_stroke(cr);
    if (one_font) {
      // The name as one cluster: a PDF reader reads it in its order (王小明印), not in the
      // order of the cells on the page.
      std::string name;
      for (const std::string& c : chars) name += c;
      const cairo_text_cluster_t cluster{static_cast<int>(name.size()), static_cast<int>(glyphs.size())};
      cairo_set_scaled_font(cr, font);
      cairo_show_text_glyphs(cr, name.data(), static_cast<int>(name.size()), glyphs.data(),
                             static_cast<int>(glyphs.size()), &cluster, 1, cairo_text_cluster_flags_t(0));
      return;
    }
    for (const Placed& p : placed) {
      cairo_move_to(cr, p.x, p.y);
      pango_cairo_show_layout(cr, p.f->layout.get());
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

namespace {

// One line, a little smaller if need be; else wrapped onto more lines, never below 7 pt.
Fitted lines(const TextFitter& text, const std::string& value, const char* faces, double size, double width,
             PangoAlignment align = PANGO_ALIGN_LEFT) {
  const double one_line = text.make("國", faces, size, width, align).height * 1.2;
  Fitted f = text.fit(value, faces, size, std::max(kMinSize, size * 0.85), width, one_line, align, 0, false);
  if (f.height <= one_line && f.width <= width + 0.01) return f;
  return text.fit(value, faces, std::max(kMinSize, size - 1), kMinSize, width, kPageHeight / 4, align);
}

// A field of the seller profile as printed: its label, its value, the profile key that
// names it, and whether its numbers (phone, 統一編號) may break only between them.
struct SellerField {
  std::string label, value;
  const char* key;
  bool numbers = false;
};

// The seller's fields that are filled, each with its label; with `joined_ids` 統一編號 and
// 負責人 share a line.
std::vector<SellerField> seller_fields(const SellerProfile& s, bool joined_ids) {
  std::vector<SellerField> out;
  const bool id = !blank(s.tax_id), owner = !blank(s.owner);
  if (joined_ids && id && owner) {
    out.push_back({"統一編號：", s.tax_id + "　　負責人：" + s.owner, "統一編號", true});
  } else {
    if (id) out.push_back({"統一編號：", s.tax_id, "統一編號", true});
    if (owner) out.push_back({"負責人：", s.owner, "負責人"});
  }
  if (!blank(s.address)) out.push_back({"地址：", s.address, "地址"});
  if (!blank(s.phone)) out.push_back({"電話：", s.phone, "電話", true});
  return out;
}

bool separator(gunichar c) {
  return g_unichar_isspace(c) || c == 0x200b || c == '/' || c == 0xff0f || c == 0x3001 || c == ',' ||
         c == 0xff0c || c == ';' || c == 0xff1b || c == 0xff1a || c == ':';
}

void remeasure(Fitted& f) {
  int w = 0, h = 0;
  pango_layout_get_size(f.layout.get(), &w, &h);
  f.width = f.scale * w / PANGO_SCALE;
  f.height = f.scale * h / PANGO_SCALE;
}

// A field wrapped to `width`: continuation lines indented past its label (left-aligned
// only), a number holding a digit never broken inside (only at spaces, slashes, commas).
Fitted field_text(const TextFitter& text, const SellerField& field, const char* faces, double size,
                  double width, PangoAlignment align) {
  const std::string value = clean(field.label + field.value);
  Fitted f = text.make(value, faces, size, width, align);
  PangoLayout* l = f.layout.get();
  if (field.numbers) {
    PangoAttrList* old = pango_layout_get_attributes(l);
    PangoAttrList* attrs = old ? pango_attr_list_copy(old) : pango_attr_list_new();
    const char* begin = value.c_str();
    for (const char* p = begin + field.label.size(); *p;) {
      if (separator(g_utf8_get_char(p))) {
        p = g_utf8_next_char(p);
        continue;
      }
      const char* end = p;
      bool digit = false;
      for (; *end && !separator(g_utf8_get_char(end)); end = g_utf8_next_char(end))
        digit = digit || g_unichar_isdigit(g_utf8_get_char(end));
      if (digit) {
        PangoAttribute* keep = pango_attr_allow_breaks_new(FALSE);
        keep->start_index = static_cast<guint>(p - begin);
        keep->end_index = static_cast<guint>(end - begin);
        pango_attr_list_insert(attrs, keep);
      }
      p = end;
    }
    pango_layout_set_attributes(l, attrs);
    pango_attr_list_unref(attrs);
  }
  if (align == PANGO_ALIGN_LEFT && !field.label.empty()) {
    const double label = text.make(field.label, faces, size, width, align).width;
    pango_layout_set_indent(l, -static_cast<int>(label * PANGO_SCALE));
  }
  remeasure(f);
  return f;
}

// Texts stacked in a box of `height`: each at its size, then all smaller together down to
// 7 pt; what still does not fit loses lines from its longest text, ended with …, and that
// field's key goes into `cut`.
struct BlockText {
  SellerField field;
  double size, slot;  // the size at full scale; the least room it takes at that size
  Fitted fitted;
  double used = 0;  // the size it is set in
  double room() const { return std::max(slot * used / size, fitted.height); }
};
double stack(std::vector<BlockText>& block, const TextFitter& text, const char* faces, double width,
             double height, PangoAlignment align, std::vector<std::string>& cut) {
  double total = 0;
  for (const double scale : {1.0, 0.92, 0.84, 0.76, 0.68, 0.6, 0.54}) {
    total = 0;
    for (BlockText& t : block) {
      t.used = std::max(kMinSize, t.size * scale);
      t.fitted = field_text(text, t.field, faces, t.used, width, align);
      total += t.room();
    }
    if (total <= height + 0.01) return total;
  }
  while (total > height + 0.01) {
    BlockText* longest = nullptr;
    int most = 1;
    for (BlockText& t : block) {
      const int n = pango_layout_get_line_count(t.fitted.layout.get());
      if (n > most) most = n, longest = &t;
    }
    if (!longest) break;
    PangoLayout* l = longest->fitted.layout.get();
    pango_layout_set_ellipsize(l, PANGO_ELLIPSIZE_END);
    pango_layout_set_height(l, -(most - 1));
    const double before = longest->room();
    remeasure(longest->fitted);
    total -= before - longest->room();
    if (std::find(cut.begin(), cut.end(), longest->field.key) == cut.end()) cut.push_back(longest->field.key);
  }
  return total;
}

}  // namespace

Header lay_out_header(const Receipt& r, const TemplateInfo& look, const TextFitter& text,
                      const std::string& date_text) {
  Header h;
  const char* faces = look.faces;
  const auto put = [&](Fitted f, double x, double y) {
    const double height = f.height;
    h.texts.push_back({std::move(f), x, y});
    return height;
  };
  // The seller's block keeps to its box above the table, whatever the profile holds.
  constexpr double kTop = 57, kSellerWidth = 290, kSellerHeight = kTableTop - 2 - kTop;
  std::vector<BlockText> block;
  if (!blank(r.seller.name)) block.push_back({{"", r.seller.name, "商號名稱"}, 13, 17, {}});
  for (SellerField& field : seller_fields(r.seller, true)) block.push_back({std::move(field), 9, 12, {}});
  stack(block, text, faces, kSellerWidth, kSellerHeight, PANGO_ALIGN_LEFT, h.cut);
  double y = kTop;
  for (BlockText& t : block) {
    const double room = t.room();
    put(std::move(t.fitted), kLeft, y);
    y += room;
  }
  const double seller_bottom = y;

  // The buyer and the date, on ruled lines as on a paper form.
  y = kTop;
  for (const auto& [label, value] :
       {std::pair{"買受人：", &r.buyer}, std::pair{"統一編號：", &r.buyer_tax_id}}) {
    put(text.fit(label, faces, 10, 10, kBuyerValueX - kBuyerX + 10, 16), kBuyerX, y);
    const double height =
        blank(*value) ? 0
                      : put(lines(text, *value, faces, 10, kRight - kBuyerValueX - 4), kBuyerValueX + 2, y);
    y += std::max(15.0, height + 1);
    h.rules.push_back(y);
    y += 4;
  }
  if (!date_text.empty()) {
    y += put(text.fit(date_text, faces, 10, kMinSize, kRight - kBuyerX, 14, PANGO_ALIGN_RIGHT), kBuyerX, y);
  } else {
    y += put(text.make("中華民國 <u>　　　　</u> 年 <u>　　　</u> 月 <u>　　　</u> 日", faces, 10,
                       kRight - kBuyerX, PANGO_ALIGN_RIGHT, 0, true),
             kBuyerX, y);
  }
  h.bottom = std::max(seller_bottom, y);
  return h;
}

ExemptionStamp lay_out_exemption_stamp(const Receipt& r, const TemplateInfo& look, const TextFitter& text) {
  ExemptionStamp stamp;
  if (!draws_exemption_stamp(r) || !r.seller.exemption_stamp_image.empty()) return stamp;
  const char* faces = look.faces;  // its glyphs are embedded anyway: no extra font subset
  constexpr double kInsetX = 7, kInner = kExemptionWidth - 2 * kInsetX;
  // The name, 統一編號, 負責人, 地址, 電話 (those filled) and the stamp's words, in at most
  // kMaxStamp points: a long field wraps, then is cut with ….
  constexpr double kMaxStamp = 96, kTitle = 12, kMargins = 6 + 5.5;
  std::vector<BlockText> block;
  block.push_back({{"", r.seller.name, "商號名稱"}, 11, 15, {}});
  for (SellerField& field : seller_fields(r.seller, false))
    block.push_back({std::move(field), kMinSize, 8.6, {}});
  stack(block, text, faces, kInner, kMaxStamp - kTitle - kMargins, PANGO_ALIGN_CENTER, stamp.cut);
  double y = 6;
  const auto put = [&](Fitted f, double slot) {
    const double height = f.height;
    stamp.lines.push_back({std::move(f), kInsetX, y + std::max(0.0, (slot - height) / 2)});
    y += std::max(slot, height);
  };
  for (BlockText& t : block) {
    const double slot = t.slot * t.used / t.size;
    put(std::move(t.fitted), slot);
  }
  put(text.fit("免用統一發票專用章", faces, 8.5, kMinSize, kInner, 12, PANGO_ALIGN_CENTER, 1.5), kTitle);
  stamp.height = y + 5.5;
  return stamp;
}

double stamps_room(const Receipt& r, const ExemptionStamp& stamp) {
  double h = 0;
  if (draws_exemption_stamp(r)) h = stamp.height;
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
    const double h = draws_exemption_stamp(r) ? sheet.stamp.height : g.height;
    draw_owner_seal(cr, sheet, x - g.width, y + (h - g.height) / 2);
  }
}

void draw_header(cairo_t* cr, const Sheet& sheet, int page) {
  const Receipt& r = sheet.receipt;
  const TextFitter& text = sheet.text;
  const char* faces = sheet.look.faces;
  set_colour(cr, kInk);
  const Fitted& title = text.fit_once("免用統一發票收據", faces, 20, 20, 300, 40, PANGO_ALIGN_CENTER, 5);
  show(cr, title, kPageWidth / 2 - 150, sheet.look.title == TitleStyle::Framed ? 26 : 22);
  if (sheet.look.title == TitleStyle::DoubleRule) {
    line(cr, kPageWidth / 2 - 110, 50, kPageWidth / 2 + 110, 50, 0.9);
    line(cr, kPageWidth / 2 - 110, 52.5, kPageWidth / 2 + 110, 52.5, 0.4);
  }
  show(cr, text.fit_once("No. " + r.number, faces, 9, kMinSize, 150, 12, PANGO_ALIGN_RIGHT), kRight - 150,
       20);
  const size_t pages = sheet.layout.pages.size();
  const Fitted& count =
      text.fit_once("第 " + std::to_string(page + 1) + " 頁／共 " + std::to_string(pages) + " 頁", faces, 8,
                    kMinSize, 150, 12, PANGO_ALIGN_RIGHT);
  show(cr, count, kRight - 150, 33);
  for (const Placed& t : sheet.header.texts) show(cr, t.fitted, t.x, t.y);
  set_colour(cr, kRule);
  for (const double y : sheet.header.rules) line(cr, kBuyerValueX, y, kRight, y, 0.5);
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
  // Blank ruled lines, as on paper; under the last item 以下空白, so nothing is added by hand.
  const int blanks = blank_lines(layout, page);
  if (p.end && blanks > 0) {
    const Fitted& note = layout.nothing_below;
    set_colour(cr, kInk);
    show(cr, note, kLeft + kCellPad, y + (kRowHeight - note.height) / 2);
  }
  for (int n = blanks; n > 0; --n) {
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
    for (const Row* row : {&p.subtotal, &p.cumulative}) {
      if (row->height == 0) continue;
      draw_row(cr, *row, y);
      y += row->height;
      rules.push_back(y);
    }
    column_bottom = y;
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

void draw_code(cairo_t* cr, const Sheet& sheet, int page) {
  const Receipt& r = sheet.receipt;
  if (r.code.empty()) return;
  const Page& p = sheet.layout.pages[page];
  draw_qr(cr, r.code, p.code_box.x, p.code_box.y, p.code_box.width);
  set_colour(cr, kInk);
  const Fitted& caption = sheet.text.fit_once("驗證碼 " + r.code_key, sheet.look.faces, 8, kMinSize,
                                              p.code_caption.width, p.code_caption.height);
  show(cr, caption, p.code_caption.x, p.code_caption.y + (p.code_caption.height - caption.height) / 2);
}

void draw_mark(cairo_t* cr, const Sheet& sheet, int page) {
  const Receipt& r = sheet.receipt;
  if (!r.mark) return;
  const Mark& mark = *r.mark;
  const auto roc = roc_date(mark.date.year, mark.date.month, mark.date.day);
  const std::string day = roc ? roc_date_text(*roc) : "";
  const char* faces = sheet.look.faces;
  if (mark.kind == Mark::Kind::Reprint) {
    // A small box in the top left corner, above the seller's block: 補印, which one, the day
    // (on two lines if need be, never below 7 pt).
    constexpr double x = kLeft, y = kEdge + 2, w = 106, h = 37;
    const std::string which = mark.count > 0 ? "補印　第 " + std::to_string(mark.count) + " 次" : "補印";
    ink(cr, x - 1, y - 1, w + 2, h + 2, 0.9, [&] {
      cairo_set_line_width(cr, 1.2);
      cairo_rectangle(cr, x + 0.6, y + 0.6, w - 1.2, h - 1.2);
      cairo_stroke(cr);
      const Fitted& word =
          sheet.text.fit_once(which, faces, 11, 9, w - 8, 15, PANGO_ALIGN_CENTER, mark.count > 0 ? 0 : 6);
      show(cr, word, x + 4, y + 2);
      std::string compact = day;  // 中華民國115年12月9日: one line in the box
      std::erase(compact, ' ');
      const Fitted& when = sheet.text.fit_once(compact, faces, 7.5, kMinSize, w - 8, 19, PANGO_ALIGN_CENTER);
      show(cr, when, x + 4, y + 16 + (19 - when.height) / 2);
    });
    return;
  }
  // Void: a large 作廢, under it the reason (wrapped between words) and the day on a line of
  // its own, in translucent red multiplied over the print, so every word under it still
  // reads; tilted, and kept clear of the stamps on the last page.
  const Fitted& word = sheet.text.fit_once("作廢", faces, 120, 40, 360, 170, PANGO_ALIGN_CENTER, 40);
  const Fitted& reason = sheet.text.fit_once(mark.reason.empty() ? "" : "作廢原因：" + mark.reason, faces, 13,
                                             kMinSize, 320, 36, PANGO_ALIGN_CENTER);
  const Fitted& when = sheet.text.fit_once(day, faces, 13, kMinSize, 320, 18, PANGO_ALIGN_CENTER);
  constexpr double kTilt = -0.28, w = 340;
  const double reason_height = mark.reason.empty() ? 0 : reason.height;
  const double h = word.height + reason_height + when.height + 12;
  const double c = std::cos(kTilt), s = std::abs(std::sin(kTilt));
  const double wide = w * c + (h + 4) * s, tall = w * s + (h + 4) * c;
  // Where it may lie: above the band of stamps and code, or between the code's caption and
  // the stamps, whichever holds it larger.
  const Page& p = sheet.layout.pages[page];
  struct Area {
    double x0, y0, x1, y1;
  };
  const Area places[] = {{kEdge, kEdge, kPageWidth - kEdge, p.band_top + kStampGap - 3},
                         {p.code_caption.right() + 3, kEdge, stamps_left(r) - 3, kPageHeight - kEdge}};
  double scale = 0, cx = 0, cy = 0;
  for (const auto& [x0, y0, x1, y1] : places) {
    const double fit = std::min({1.0, (x1 - x0) / wide, (y1 - y0) / tall});
    if (fit > scale) {
      scale = fit;
      cx = (x0 + x1) / 2;
      cy = std::clamp(250.0, y0 + tall * fit / 2, y1 - tall * fit / 2);
    }
  }
  ink(cr, kEdge, kEdge, kPageWidth - 2 * kEdge, kPageHeight - 2 * kEdge, 0.55, [&] {
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_scale(cr, scale, scale);
    cairo_rotate(cr, kTilt);
    const double top = -h / 2;
    show(cr, word, -180, top + 2);
    if (reason_height > 0) show(cr, reason, -160, top + 4 + word.height);
    show(cr, when, -160, top + 6 + word.height + reason_height);
    cairo_set_line_width(cr, 4);
    cairo_rectangle(cr, -w / 2, top - 4, w, h + 4);
    cairo_stroke(cr);
    cairo_restore(cr);
  });
}

}  // namespace receiptora::render::detail
