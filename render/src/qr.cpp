#include "qr.hpp"

#include <qrencode.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace receiptora::render::detail {

namespace {

struct Modules {
  std::string text;
  int width = 0;
  std::vector<unsigned char> data;  // libqrencode's bytes: bit 0 set for a dark module
};

// The code's modules. A receipt draws the same code on every page of its PDF and its picture:
// the last code encoded on this thread is kept, so each receipt pays for one encoding.
const Modules& modules_of(const std::string& text) {
  thread_local Modules last;
  if (last.width > 0 && last.text == text) return last;
  // Level L keeps the modules largest in a small square; libqrencode picks the compact
  // alphanumeric mode for upper-case letters, digits and the dots of a code.
  std::unique_ptr<QRcode, decltype(&QRcode_free)> qr(
      QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_L, QR_MODE_8, 1), &QRcode_free);
  if (!qr) throw std::runtime_error("驗證碼無法編成 QR 碼");
  last.width = 0;
  last.data.assign(qr->data, qr->data + static_cast<size_t>(qr->width) * qr->width);
  last.text = text;
  last.width = qr->width;
  return last;
}

}  // namespace

void draw_qr(cairo_t* cr, const std::string& text, double x, double y, double size) {
  const Modules& qr = modules_of(text);
  const int n = qr.width;
  cairo_save(cr);
  double unused = 0;
  cairo_user_to_device(cr, &x, &y);
  cairo_user_to_device_distance(cr, &size, &unused);
  double module = size / n;
  if (cairo_surface_get_type(cairo_get_target(cr)) == CAIRO_SURFACE_TYPE_IMAGE && module >= 2) {
    module = std::floor((size - 1) / n);  // whole pixels: no grey seams between modules
    x = std::ceil(x);
    y = std::ceil(y);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);  // edges on pixel boundaries: nothing to smooth
  }
  cairo_identity_matrix(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  // Dark modules as few rectangles: a run of a row, extended down over the rows where the
  // same modules are dark too. A small PDF, and no seams.
  std::vector<bool> covered(static_cast<size_t>(n) * n, false);
  auto dark = [&](int row, int col) {
    return (qr.data[static_cast<size_t>(row) * n + col] & 1) && !covered[static_cast<size_t>(row) * n + col];
  };
  for (int row = 0; row < n; ++row)
    for (int col = 0; col < n;) {
      if (!dark(row, col)) {
        ++col;
        continue;
      }
      const int start = col;
      while (col < n && dark(row, col)) ++col;
      int rows = 1;
      while (row + rows < n) {
        bool all = true;
        for (int c = start; c < col && all; ++c) all = dark(row + rows, c);
        if (!all) break;
        ++rows;
      }
      for (int r = row; r < row + rows; ++r)
        for (int c = start; c < col; ++c) covered[static_cast<size_t>(r) * n + c] = true;
      cairo_rectangle(cr, x + start * module, y + row * module, (col - start) * module, rows * module);
    }
  cairo_fill(cr);
  cairo_restore(cr);
}

}  // namespace receiptora::render::detail
