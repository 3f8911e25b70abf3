// Text fitting: pango layouts of receipt texts, wrapped and shrunk into their boxes, and
// drawn as real text a PDF reader can search.
#pragma once

#include <cairo.h>
#include <pango/pangocairo.h>

#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace receiptora::render::detail {

struct GObjectUnref {
  void operator()(void* p) const { g_object_unref(p); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectUnref>;
using PangoContextPtr = std::unique_ptr<PangoContext, GObjectUnref>;

struct Fitted {
  LayoutPtr layout;
  double width = 0, height = 0;  // as drawn
  double scale = 1;              // drawing scale of the layout
  bool spaced = false;           // letter-spaced: drawn so that readers still see one word
  // Figures wrapped after their commas: each line drawn right-aligned in `box` (layout
  // units), a line's trailing comma hanging `hang` to the right of the others' last digits.
  double hang = 0, box = 0;
  explicit operator bool() const { return layout != nullptr; }
};

// The smallest size any receipt text is set in: smaller does not read on paper or a phone.
inline constexpr double kMinSize = 7;

// Text as typed made safe for pango: invalid UTF-8 repaired, control characters turned into
// spaces, long unbroken runs given break opportunities.
std::string clean(const std::string& text);
// The characters of UTF-8 text.
std::vector<std::string> characters(const std::string& text);

// Lays texts out for one receipt with the calling thread's font map, in Traditional
// Chinese (so fontconfig's fallback prefers Taiwan's glyph forms), with unhinted metrics:
// the same layout for the PDF and the picture.
class TextFitter {
 public:
  TextFitter();

  // `text` at `size` points, wrapped to `width`. `letter_spacing` in points.
  Fitted make(const std::string& text, const char* family, double size, double width, PangoAlignment align,
              double letter_spacing = 0, bool markup = false) const;
  // `text` within `width` × `max_height`: wrapped, and made smaller until it fits. Down to
  // `floor` points the size shrinks in small steps; past it (when `past_floor`), as far as
  // needed, drawn scaled, so nothing ever leaves its box or is cut.
  Fitted fit(const std::string& text, const char* family, double size, double floor, double width,
             double max_height, PangoAlignment align = PANGO_ALIGN_LEFT, double letter_spacing = 0,
             bool past_floor = true) const;
  // Figures with thousands separators ("40,011,335,200") right-aligned in `width`: on one
  // line, shrinking from `size` down to 7 pt; else wrapped after commas, so no digit group
  // is ever split and the continuation lines keep the groups in columns, at `wrapped` and,
  // if still taller than `max_height`, smaller down to 7 pt; past that drawn scaled.
  Fitted figures(const std::string& text, const char* family, double size, double wrapped, double width,
                 double max_height) const;
  // The same, kept: drawing the pages again (the picture after the PDF) shapes nothing twice.
  const Fitted& fit_once(const std::string& text, const char* family, double size, double floor, double width,
                         double max_height, PangoAlignment align = PANGO_ALIGN_LEFT,
                         double letter_spacing = 0) const;
  const Fitted& make_once(const std::string& text, const char* family, double size, double width,
                          PangoAlignment align, bool markup = false) const;

 private:
  static void measure(Fitted& f);
  static void resize(Fitted& f, const char* family, double size);
  static void rescale(Fitted& f, double width, double scale);

  // Characters `family` lacks and its template's fallback face has get that face.
  void fall_back(PangoAttrList* attrs, const std::string& text, const char* family) const;
  PangoFont* font(const char* description) const;

  PangoContextPtr context_;
  mutable std::map<std::string, Fitted> kept_;
  mutable std::map<std::string, std::unique_ptr<PangoFont, GObjectUnref>> fonts_;
};

// Draws `f` with its top left at (x, y).
void show(cairo_t* cr, const Fitted& f, double x, double y);

}  // namespace receiptora::render::detail
