// PNG encoding of a rendered receipt picture, small and fast: a receipt is black and grey
// print with red ink, so each pixel maps to a 256-colour palette of grey × red; a picture
// with other colours (a stamp picture in another ink) is written as plain RGB instead.
#pragma once

#include <cairo.h>

#include <string>

namespace receiptora::render::detail {

// `image` is a CAIRO_FORMAT_RGB24 surface; `dpi` is written into the file.
std::string encode_png(cairo_surface_t* image, double dpi);

}  // namespace receiptora::render::detail
