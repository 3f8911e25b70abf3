// The cat template's artwork.
#pragma once

#include "receiptora/render/templates.hpp"

namespace receiptora::render::detail {

// Room the sitting cat and its paw prints need under the totals.
inline constexpr double kCatArtRoom = 70;

// The title frame with ears and paw prints on every page; on the last page a sitting cat
// and a trail of paw prints in the band under the totals.
void draw_cat_art(cairo_t* cr, const ArtworkPlace& place);

}  // namespace receiptora::render::detail
