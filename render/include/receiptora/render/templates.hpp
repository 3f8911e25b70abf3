// The receipt templates, in one table: what each is called, which faces it sets the text in,
// how its title is set off, its artwork and the font the window checks for before issuing
// it. A new template is one entry here plus its artwork function.
#pragma once

#include <span>
#include <string_view>

#include "receiptora/render/receipt.hpp"

typedef struct _cairo cairo_t;

namespace receiptora::render {

// How the title is set off: two rules under it, or a frame the artwork draws round it.
enum class TitleStyle { DoubleRule, Framed };

// Where the artwork may draw on a page, in points (A5 landscape, origin top left).
struct ArtworkPlace {
  int page = 0;
  bool last_page = false;
  // On the last page: the free band under the totals, between the code box and the stamps.
  double band_top = 0, band_bottom = 0, band_left = 0, band_right = 0;
};

struct TemplateInfo {
  Template id;
  std::string_view name;  // as the window's menu and the request's 版本 say it
  // pango family list for the receipt's text, first choice first. Only faces with Taiwan's
  // standard glyph forms: fontconfig falls back to the others only for a character none has.
  const char* faces;
  // The face for characters none of `faces` has: one of the same style (a bold sans for a
  // Hei template, a Ming face for a Ming one), so such a character does not stand out.
  const char* fallback;
  std::string_view window_font;  // font file the window looks for first ("" none)
  TitleStyle title;
  double art_room;  // height the artwork needs under the totals on the last page (0: none)
  void (*artwork)(cairo_t* cr, const ArtworkPlace& place);  // drawn under everything else; may be null
};

std::span<const TemplateInfo> templates();
const TemplateInfo& template_info(Template id);
// The fallback face of the template whose `faces` these are, or null.
const char* fallback_face(const char* faces);
// The template of that name, or null.
const TemplateInfo* find_template(std::string_view name);

}  // namespace receiptora::render
