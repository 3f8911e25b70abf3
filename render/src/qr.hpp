// A QR code (libqrencode) drawn as filled rectangles, for receipts and the verification card.
#pragma once

#include <cairo.h>

#include <string>

namespace receiptora::render::detail {

// `text` as a QR code of error correction level L filling the square at (x, y) of side
// `size` (user units), its quiet zone left to the caller. On a picture the modules lie on whole
// pixels, so a scan reads them sharp. Throws std::runtime_error when the text does not fit.
void draw_qr(cairo_t* cr, const std::string& text, double x, double y, double size);

}  // namespace receiptora::render::detail
