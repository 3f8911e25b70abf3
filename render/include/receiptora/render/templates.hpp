// How each receipt template is drawn: how its title is set off and its artwork. What a
// template is called and which faces set its text are core's (receiptora/templates.hpp).
#pragma once

#include "receiptora/templates.hpp"

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

struct TemplateDrawing {
  Template id;
  TitleStyle title;
  double art_room;  // height the artwork needs under the totals on the last page (0: none)
  void (*artwork)(cairo_t* cr, const ArtworkPlace& place);  // drawn under everything else; may be null
};

const TemplateDrawing& template_drawing(Template id);

}  // namespace receiptora::render
