#include "text_fit.hpp"

#include <glib.h>
#include <hb-ot.h>

#include "receiptora/render/templates.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace receiptora::render::detail {

// Within a long run without spaces (a 10,000-digit amount, a name typed without a break)
// every character is followed by a zero-width space: pango wraps such a run in linear
// time, but searches a run with no break opportunity at quadratic cost. The zero-width
// space draws nothing.
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

TextFitter::TextFitter() {
  // pango keeps one cairo font map per thread, so renders on several threads share nothing.
  context_.reset(pango_font_map_create_context(pango_cairo_font_map_get_default()));
  cairo_font_options_t* options = cairo_font_options_create();
  // Unhinted metrics: the PDF and the picture get the same layout at any scale.
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  pango_cairo_context_set_font_options(context_.get(), options);
  cairo_font_options_destroy(options);
  pango_cairo_context_set_resolution(context_.get(), 72);  // font sizes in points
  pango_context_set_base_dir(context_.get(), PANGO_DIRECTION_LTR);
  pango_context_set_language(context_.get(), pango_language_from_string("zh-tw"));
}

PangoFont* TextFitter::font(const char* description) const {
  auto found = fonts_.find(description);
  if (found == fonts_.end()) {
    PangoFontDescription* desc = pango_font_description_from_string(description);
    pango_font_description_set_size(desc, 10 * PANGO_SCALE);
    found = fonts_.emplace(description, pango_context_load_font(context_.get(), desc)).first;
    pango_font_description_free(desc);
  }
  return found->second.get();
}

void TextFitter::fall_back(PangoAttrList* attrs, const std::string& text, const char* family) const {
  const char* fallback = fallback_face(family);
  if (!fallback ||
      std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return;
  PangoFont* primary = font(family);
  PangoFont* other = font(fallback);
  if (!primary || !other) return;
  PangoFontDescription* desc = pango_font_description_from_string(fallback);
  const auto needs = [&](gunichar c) {
    // Marks that draw nothing (zero-width spaces, variation selectors) stay with their run.
    const bool invisible =
        c < 0x3000 ? (c <= ' ' || (c >= 0x200b && c <= 0x200f) || c == 0x2060) : (c >= 0xfe00 && c <= 0xfe0f);
    return !invisible && !pango_font_has_char(primary, c) && pango_font_has_char(other, c);
  };
  const char* begin = text.c_str();
  for (const char* p = begin; *p;) {
    if (!needs(g_utf8_get_char(p))) {
      p = g_utf8_next_char(p);
      continue;
    }
    const char* end = p;
    while (*end && needs(g_utf8_get_char(end))) end = g_utf8_next_char(end);
    PangoAttribute* attr = pango_attr_font_desc_new(desc);
    attr->start_index = static_cast<guint>(p - begin);
    attr->end_index = static_cast<guint>(end - begin);
    pango_attr_list_insert(attrs, attr);
    p = end;
  }
  pango_font_description_free(desc);
}

Fitted TextFitter::make(const std::string& text, const char* family, double size, double width,
                        PangoAlignment align, double letter_spacing, bool markup) const {
  Fitted f;
  f.layout.reset(pango_layout_new(context_.get()));
  PangoLayout* l = f.layout.get();
  pango_layout_set_auto_dir(l, FALSE);
  if (markup) {
    pango_layout_set_markup(l, text.c_str(), -1);
  } else {
    pango_layout_set_text(l, text.c_str(), static_cast<int>(text.size()));
  }
  PangoAttrList* attrs = pango_attr_list_new();
  if (letter_spacing > 0) {
    pango_attr_list_insert(attrs,
                           pango_attr_letter_spacing_new(static_cast<int>(letter_spacing * PANGO_SCALE)));
    f.spaced = true;
  }
  if (!markup) fall_back(attrs, text, family);
  pango_layout_set_attributes(l, attrs);
  pango_attr_list_unref(attrs);
  pango_layout_set_width(l, static_cast<int>(width * PANGO_SCALE));
  pango_layout_set_wrap(l, PANGO_WRAP_WORD_CHAR);
  pango_layout_set_alignment(l, align);
  resize(f, family, size);
  return f;
}

void TextFitter::measure(Fitted& f) {
  int w = 0, h = 0;
  pango_layout_get_size(f.layout.get(), &w, &h);
  f.width = f.scale * w / PANGO_SCALE;
  f.height = f.scale * h / PANGO_SCALE;
}

void TextFitter::rescale(Fitted& f, double width, double scale) {
  f.scale = scale;
  pango_layout_set_width(f.layout.get(), static_cast<int>(width / scale * PANGO_SCALE));
  measure(f);
}

void TextFitter::resize(Fitted& f, const char* family, double size) {
  PangoFontDescription* desc = pango_font_description_from_string(family);
  pango_font_description_set_size(desc, static_cast<int>(size * PANGO_SCALE));
  pango_layout_set_font_description(f.layout.get(), desc);
  pango_font_description_free(desc);
  measure(f);
}

Fitted TextFitter::fit(const std::string& text, const char* family, double size, double floor, double width,
                       double max_height, PangoAlignment align, double letter_spacing,
                       bool past_floor) const {
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

Fitted TextFitter::figures(const std::string& text, const char* family, double size, double wrapped,
                           double width, double max_height) const {
  // One line, as large as fits: a line's width goes with its size.
  const double natural = make(text, family, size, -1, PANGO_ALIGN_RIGHT).width;
  const double one_line = natural <= width ? size : size * width / natural * 0.999;
  if (one_line >= kMinSize) {
    Fitted f = make(text, family, one_line, width, PANGO_ALIGN_RIGHT);
    if (f.width <= width + 0.01 && pango_layout_get_line_count(f.layout.get()) == 1) return f;
  }
  // Wrapped after commas: the groups counted from the right, as many to a line as fit, so
  // only the first line may be short.
  std::vector<std::string> groups;
  for (size_t at = 0;;) {
    const size_t comma = text.find(',', at);
    groups.push_back(text.substr(at, comma == std::string::npos ? std::string::npos : comma + 1 - at));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  Fitted f;
  for (size = wrapped;;) {
    const double comma = make(",", family, size, -1, PANGO_ALIGN_LEFT).width;
    const double group = make("000,", family, size, -1, PANGO_ALIGN_LEFT).width;
    size_t per_line = std::max<size_t>(1, static_cast<size_t>(width / group));
    for (;; --per_line) {
      std::string lines;
      for (size_t g = 0; g < groups.size(); ++g) {
        if (g > 0 && (groups.size() - g) % per_line == 0) lines += '\n';
        lines += groups[g];
      }
      f = make(lines, family, size, -1, PANGO_ALIGN_LEFT);
      if (f.width <= width + 0.01 || per_line == 1) break;
    }
    f.hang = comma;
    f.box = width;
    if ((f.height <= max_height && f.width <= width + 0.01) || size <= kMinSize) break;
    size = std::max(kMinSize, size * std::max(0.5, std::min(0.92, std::sqrt(max_height / f.height))));
  }
  // Still too large at the smallest size (thousands of digits): drawn scaled into the box.
  const double scale = std::min({1.0, max_height / f.height, width / f.width});
  if (scale < 1) {
    f.scale = scale;
    f.box = width / scale;
    f.width *= scale;
    f.height *= scale;
  }
  f.width = std::min(f.width, width);
  return f;
}

namespace {

std::string key(const std::string& text, const char* family, std::initializer_list<double> numbers) {
  std::string k = text;
  k.append(1, '\0').append(family).append(1, '\0');
  for (double n : numbers) k.append(reinterpret_cast<const char*>(&n), sizeof n);
  return k;
}

// Draws a letter-spaced layout glyph by glyph, each run as one cluster of its whole text:
// the PDF then says what the run reads (an ActualText span), and readers find 「合計」 as
// one word, where the gaps between the glyphs alone would read 「合 計」.
bool show_as_words(cairo_t* cr, PangoLayout* layout) {
  struct Run {
    cairo_scaled_font_t* font;
    const char* text;
    int bytes;
    std::vector<cairo_glyph_t> glyphs;
  };
  std::vector<Run> runs;
  const char* text = pango_layout_get_text(layout);
  PangoLayoutIter* iter = pango_layout_get_iter(layout);
  bool drawable = true;
  do {
    PangoLayoutRun* run = pango_layout_iter_get_run_readonly(iter);
    if (!run) continue;
    PangoGlyphString* g = run->glyphs;
    PangoRectangle logical;
    pango_layout_iter_get_run_extents(iter, nullptr, &logical);
    const double baseline = pango_layout_iter_get_baseline(iter) / double(PANGO_SCALE);
    double x = logical.x / double(PANGO_SCALE);
    Run out{pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(run->item->analysis.font)),
            text + run->item->offset,
            run->item->length,
            {}};
    drawable = out.font != nullptr;
    for (int i = 0; drawable && i < g->num_glyphs; ++i) {
      const PangoGlyphInfo& info = g->glyphs[i];
      drawable = !(info.glyph & PANGO_GLYPH_UNKNOWN_FLAG);
      if (info.glyph != PANGO_GLYPH_EMPTY) {
        out.glyphs.push_back({info.glyph, x + info.geometry.x_offset / double(PANGO_SCALE),
                              baseline + info.geometry.y_offset / double(PANGO_SCALE)});
      }
      x += info.geometry.width / double(PANGO_SCALE);
    }
    if (!out.glyphs.empty()) runs.push_back(std::move(out));
  } while (drawable && pango_layout_iter_next_run(iter));
  pango_layout_iter_free(iter);
  if (!drawable) return false;
  for (const Run& run : runs) {
    cairo_set_scaled_font(cr, run.font);
    const cairo_text_cluster_t cluster{run.bytes, static_cast<int>(run.glyphs.size())};
    cairo_show_text_glyphs(cr, run.text, run.bytes, run.glyphs.data(), static_cast<int>(run.glyphs.size()),
                           &cluster, 1, cairo_text_cluster_flags_t(0));
  }
  return true;
}

// Emoji come from a colour face, which cairo draws as pictures and leaves out of the PDF's
// text: under each such run goes a glyph of the body face in the paper's white, carrying
// the run's text, so a reader extracts, searches and copies the emoji too (and keeps the
// row in its order). A glyph without ink would be dropped by cairo; the picture covers this
// one. Only in a PDF: a picture has no text to carry.
bool colour_font(PangoFont* font) {
  hb_face_t* face = hb_font_get_face(pango_font_get_hb_font(font));
  return hb_ot_color_has_png(face) || hb_ot_color_has_layers(face);
}

bool on_pdf(cairo_t* cr) { return cairo_surface_get_type(cairo_get_target(cr)) == CAIRO_SURFACE_TYPE_PDF; }

void carry_emoji_text(cairo_t* cr, PangoLayout* layout) {
  if (!on_pdf(cr)) return;
  const char* text = pango_layout_get_text(layout);
  PangoFont* body = nullptr;
  PangoLayoutIter* iter = pango_layout_get_iter(layout);
  do {
    PangoLayoutRun* run = pango_layout_iter_get_run_readonly(iter);
    if (!run) continue;
    if (!colour_font(run->item->analysis.font)) continue;
    if (!body)
      body = pango_context_load_font(pango_layout_get_context(layout),
                                     pango_layout_get_font_description(layout));
    if (!body) break;
    cairo_scaled_font_t* font = pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(body));
    PangoRectangle logical;
    pango_layout_iter_get_run_extents(iter, nullptr, &logical);
    cairo_glyph_t* glyphs = nullptr;
    int count = 0;
    if (font &&
        cairo_scaled_font_text_to_glyphs(
            font, logical.x / double(PANGO_SCALE), pango_layout_iter_get_baseline(iter) / double(PANGO_SCALE),
            "一", -1, &glyphs, &count, nullptr, nullptr, nullptr) == CAIRO_STATUS_SUCCESS &&
        count == 1) {
      cairo_save(cr);
      cairo_set_source_rgb(cr, 1, 1, 1);
      cairo_set_scaled_font(cr, font);
      const cairo_text_cluster_t cluster{run->item->length, 1};
      cairo_show_text_glyphs(cr, text + run->item->offset, run->item->length, glyphs, 1, &cluster, 1,
                             cairo_text_cluster_flags_t(0));
      cairo_restore(cr);
    }
    cairo_glyph_free(glyphs);
  } while (pango_layout_iter_next_run(iter));
  pango_layout_iter_free(iter);
  if (body) g_object_unref(body);
}

// In a PDF cairo embeds a colour glyph as a picture of its size on the page, 72 pixels to the
// inch: blurry on paper. There each colour run is painted instead as a picture drawn at
// kEmojiPpi, and pango draws the layout with that run's glyphs empty (put back afterwards:
// the picture of the same layout draws them itself). Equal runs share one picture in the file.
constexpr double kEmojiPpi = 600;

class EmojiPictures {
 public:
  EmojiPictures(cairo_t* cr, PangoLayout* layout) {
    if (!on_pdf(cr)) return;
    constexpr double k = kEmojiPpi / 72;
    PangoLayoutIter* iter = pango_layout_get_iter(layout);
    do {
      PangoLayoutRun* run = pango_layout_iter_get_run(iter);
      if (!run || !colour_font(run->item->analysis.font)) continue;
      PangoRectangle ink, logical;
      pango_layout_iter_get_run_extents(iter, &ink, &logical);
      constexpr double unit = PANGO_SCALE;
      // The run's ink and room, out to whole points: the picture holds all of the glyphs.
      const double x0 = std::floor(std::min(ink.x, logical.x) / unit);
      const double y0 = std::floor(std::min(ink.y, logical.y) / unit);
      const double x1 = std::ceil(std::max(ink.x + ink.width, logical.x + logical.width) / unit);
      const double y1 = std::ceil(std::max(ink.y + ink.height, logical.y + logical.height) / unit);
      const double baseline = pango_layout_iter_get_baseline(iter) / unit;
      cairo_surface_t* picture =
          cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(std::ceil((x1 - x0) * k)),
                                     static_cast<int>(std::ceil((y1 - y0) * k)));
      cairo_t* pc = cairo_create(picture);
      cairo_scale(pc, k, k);
      cairo_move_to(pc, logical.x / unit - x0, baseline - y0);
      pango_cairo_show_glyph_string(pc, run->item->analysis.font, run->glyphs);
      cairo_destroy(pc);
      PangoFontDescription* font = pango_font_describe(run->item->analysis.font);
      char* described = pango_font_description_to_string(font);
      std::string id = std::string("receiptora-emoji ") + described;
      g_free(described);
      pango_font_description_free(font);
      for (int i = 0; i < run->glyphs->num_glyphs; ++i) {
        PangoGlyphInfo& glyph = run->glyphs->glyphs[i];
        id += " " + std::to_string(glyph.glyph) + ":" + std::to_string(glyph.geometry.width) + ":" +
              std::to_string(glyph.geometry.x_offset) + ":" + std::to_string(glyph.geometry.y_offset);
        hidden_.emplace_back(&glyph, glyph.glyph);
        glyph.glyph = PANGO_GLYPH_EMPTY;
      }
      auto* kept = new std::string(std::move(id));
      cairo_surface_set_mime_data(
          picture, CAIRO_MIME_TYPE_UNIQUE_ID, reinterpret_cast<const unsigned char*>(kept->data()),
          kept->size(), [](void* data) { delete static_cast<std::string*>(data); }, kept);
      cairo_save(cr);
      cairo_translate(cr, x0, y0);
      cairo_scale(cr, 1 / k, 1 / k);
      cairo_set_source_surface(cr, picture, 0, 0);
      cairo_paint(cr);
      cairo_restore(cr);
      cairo_surface_destroy(picture);
    } while (pango_layout_iter_next_run(iter));
    pango_layout_iter_free(iter);
  }
  ~EmojiPictures() {
    for (auto& [glyph, id] : hidden_) glyph->glyph = id;
  }
  EmojiPictures(const EmojiPictures&) = delete;
  EmojiPictures& operator=(const EmojiPictures&) = delete;

 private:
  std::vector<std::pair<PangoGlyphInfo*, PangoGlyph>> hidden_;
};

}  // namespace

const Fitted& TextFitter::fit_once(const std::string& text, const char* family, double size, double floor,
                                   double width, double max_height, PangoAlignment align,
                                   double letter_spacing) const {
  std::string k = key(text, family, {size, floor, width, max_height, double(align), letter_spacing, 0});
  auto found = kept_.find(k);
  if (found == kept_.end()) {
    found =
        kept_.emplace(std::move(k), fit(text, family, size, floor, width, max_height, align, letter_spacing))
            .first;
  }
  return found->second;
}

const Fitted& TextFitter::make_once(const std::string& text, const char* family, double size, double width,
                                    PangoAlignment align, bool markup) const {
  std::string k = key(text, family, {size, width, double(align), double(markup), 1});
  auto found = kept_.find(k);
  if (found == kept_.end()) {
    found = kept_.emplace(std::move(k), make(text, family, size, width, align, 0, markup)).first;
  }
  return found->second;
}

void show(cairo_t* cr, const Fitted& f, double x, double y) {
  cairo_save(cr);
  cairo_translate(cr, x, y);
  if (f.scale != 1) cairo_scale(cr, f.scale, f.scale);
  if (f.hang > 0) {
    // Each line's digits end at the same place; a trailing comma hangs past it.
    PangoLayout* layout = f.layout.get();
    const char* text = pango_layout_get_text(layout);
    PangoLayoutIter* iter = pango_layout_get_iter(layout);
    do {
      PangoLayoutLine* line = pango_layout_iter_get_line_readonly(iter);
      PangoRectangle logical;
      pango_layout_iter_get_line_extents(iter, nullptr, &logical);
      int end = logical.width;
      if (line->length > 0 && text[line->start_index + line->length - 1] == ',')
        pango_layout_line_index_to_x(line, line->start_index + line->length - 1, FALSE, &end);
      cairo_move_to(cr, f.box - f.hang - end / double(PANGO_SCALE),
                    pango_layout_iter_get_baseline(iter) / double(PANGO_SCALE));
      pango_cairo_show_layout_line(cr, line);
    } while (pango_layout_iter_next_line(iter));
    pango_layout_iter_free(iter);
    cairo_restore(cr);
    return;
  }
  // A spaced run that cannot be drawn glyph by glyph (a character no face has) is drawn by
  // pango, as every other text: still readable, only split into single characters.
  if (!f.spaced || !show_as_words(cr, f.layout.get())) {
    carry_emoji_text(cr, f.layout.get());
    const EmojiPictures pictures(cr, f.layout.get());
    cairo_move_to(cr, 0, 0);
    pango_cairo_show_layout(cr, f.layout.get());
  }
  cairo_restore(cr);
}

}  // namespace receiptora::render::detail
