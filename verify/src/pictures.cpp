// Reading QR codes out of pictures and PDFs: GdkPixbuf loads the picture, poppler draws the
// PDF's pages, zbar finds the codes in the grey pixels.
#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <poppler.h>
#include <zbar.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "receiptora/verify/verify.hpp"

namespace receiptora::verify {

namespace {

using namespace zbar;  // the C API, which zbar.h declares in namespace zbar for C++

struct Unref {
  void operator()(void* p) const { g_object_unref(p); }
};

std::string message_of(GError* error) {
  std::string text = error ? error->message : "";
  if (error) g_error_free(error);
  return text;
}

std::vector<std::string> scan(const unsigned char* pixels, int width, int height) {
  std::vector<std::string> out;
  zbar_image_scanner_t* scanner = zbar_image_scanner_create();
  zbar_image_scanner_set_config(scanner, ZBAR_NONE, ZBAR_CFG_ENABLE, 0);
  zbar_image_scanner_set_config(scanner, ZBAR_QRCODE, ZBAR_CFG_ENABLE, 1);
  zbar_image_t* image = zbar_image_create();
  zbar_image_set_format(image, zbar_fourcc('Y', '8', '0', '0'));
  zbar_image_set_size(image, static_cast<unsigned>(width), static_cast<unsigned>(height));
  zbar_image_set_data(image, pixels, static_cast<unsigned long>(width) * height, nullptr);
  if (zbar_scan_image(scanner, image) > 0)
    for (const zbar_symbol_t* symbol = zbar_image_first_symbol(image); symbol;
         symbol = zbar_symbol_next(symbol))
      out.emplace_back(zbar_symbol_get_data(symbol), zbar_symbol_get_data_length(symbol));
  zbar_image_destroy(image);
  zbar_image_scanner_destroy(scanner);
  return out;
}

// `pixels` scaled by `factor` (bilinear).
std::vector<unsigned char> scaled(const unsigned char* pixels, int width, int height, double factor, int& w,
                                  int& h) {
  w = std::max(1, static_cast<int>(width * factor));
  h = std::max(1, static_cast<int>(height * factor));
  std::vector<unsigned char> out(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    const double sy = std::min(height - 1.0, y / factor);
    const int y0 = static_cast<int>(sy), y1 = std::min(height - 1, y0 + 1);
    const double fy = sy - y0;
    for (int x = 0; x < w; ++x) {
      const double sx = std::min(width - 1.0, x / factor);
      const int x0 = static_cast<int>(sx), x1 = std::min(width - 1, x0 + 1);
      const double fx = sx - x0;
      auto at = [&](int xx, int yy) {
        return static_cast<double>(pixels[static_cast<size_t>(yy) * width + xx]);
      };
      const double top = at(x0, y0) * (1 - fx) + at(x1, y0) * fx,
                   bottom = at(x0, y1) * (1 - fx) + at(x1, y1) * fx;
      out[static_cast<size_t>(y) * w + x] = static_cast<unsigned char>(top * (1 - fy) + bottom * fy + 0.5);
    }
  }
  return out;
}

// `pixels` sharpened (an unsharp mask over a box of 2r+1 pixels): the edges of a blurred
// photo's modules stand out again for zbar's threshold.
std::vector<unsigned char> sharpened(const unsigned char* pixels, int width, int height, int r,
                                     double amount) {
  const size_t w = static_cast<size_t>(width) + 1;
  std::vector<long> sum(w * (static_cast<size_t>(height) + 1), 0);  // integral image
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      sum[(y + 1) * w + x + 1] = pixels[static_cast<size_t>(y) * width + x] + sum[y * w + x + 1] +
                                 sum[(y + 1) * w + x] - sum[y * w + x];
  std::vector<unsigned char> out(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    const int y0 = std::max(0, y - r), y1 = std::min(height, y + r + 1);
    for (int x = 0; x < width; ++x) {
      const int x0 = std::max(0, x - r), x1 = std::min(width, x + r + 1);
      const double mean =
          static_cast<double>(sum[y1 * w + x1] - sum[y0 * w + x1] - sum[y1 * w + x0] + sum[y0 * w + x0]) /
          ((y1 - y0) * (x1 - x0));
      const double v = pixels[static_cast<size_t>(y) * width + x];
      out[static_cast<size_t>(y) * width + x] =
          static_cast<unsigned char>(std::clamp(v + amount * (v - mean), 0.0, 255.0));
    }
  }
  return out;
}

// Grey pixels of a cairo image surface (RGB24 or ARGB32 over white).
std::vector<unsigned char> grey_of(cairo_surface_t* surface) {
  cairo_surface_flush(surface);
  const int width = cairo_image_surface_get_width(surface), height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  std::vector<unsigned char> grey(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < width; ++x) {
      const uint32_t p = row[x];
      grey[static_cast<size_t>(y) * width + x] = static_cast<unsigned char>(
          (((p >> 16) & 255) * 299 + ((p >> 8) & 255) * 587 + (p & 255) * 114) / 1000);
    }
  }
  return grey;
}

// The characters right of each 合計 on its line, in order along the line.
void totals_on_page(PopplerPage* page, const char* text, std::vector<std::string>& totals) {
  PopplerRectangle* boxes = nullptr;
  guint count = 0;
  if (!poppler_page_get_text_layout(page, &boxes, &count)) return;
  std::vector<const char*> chars;  // where each character of the text begins
  for (const char* p = text; *p; p = g_utf8_next_char(p)) chars.push_back(p);
  const size_t n = std::min<size_t>(chars.size(), count);
  auto char_at = [&](size_t i) {
    const char* end = i + 1 < chars.size() ? chars[i + 1] : chars[i] + std::strlen(chars[i]);
    return std::string(chars[i], end);
  };
  for (size_t i = 0; i + 1 < n; ++i) {
    if (char_at(i) != "合" || char_at(i + 1) != "計") continue;
    const PopplerRectangle& word = boxes[i + 1];
    std::vector<std::pair<double, std::string>> right;
    for (size_t j = 0; j < n; ++j) {
      const PopplerRectangle& box = boxes[j];
      const double middle = (box.y1 + box.y2) / 2;
      if (j != i && j != i + 1 && box.x1 >= word.x2 - 0.5 && middle > word.y1 && middle < word.y2)
        right.emplace_back(box.x1, char_at(j));
    }
    std::stable_sort(right.begin(), right.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string line;
    for (const auto& [x, c] : right) line += c;
    totals.push_back(line);
  }
  g_free(boxes);
}

}  // namespace

std::vector<std::string> codes_in_grey(const unsigned char* pixels, int width, int height) {
  std::vector<std::string> found = scan(pixels, width, height);
  if (!found.empty()) return found;
  // A photo: its modules may be a pixel or two (zbar reads them better enlarged), blurred
  // (sharpened they read again), or the photo very large (halved it reads faster and as well).
  const bool huge = static_cast<double>(width) * height > 16e6;
  int w = 0, h = 0;
  if (!huge) {
    const std::vector<unsigned char> larger = scaled(pixels, width, height, 2, w, h);
    if (!(found = scan(larger.data(), w, h)).empty()) return found;
    if (!(found = scan(sharpened(pixels, width, height, 2, 2).data(), width, height)).empty()) return found;
    if (!(found = scan(sharpened(larger.data(), w, h, 3, 2).data(), w, h)).empty()) return found;
  }
  const std::vector<unsigned char> smaller = scaled(pixels, width, height, 0.5, w, h);
  return scan(smaller.data(), w, h);
}

std::vector<std::string> codes_in_picture(const fs::path& file) {
  GError* error = nullptr;
  std::unique_ptr<GdkPixbuf, Unref> loaded(gdk_pixbuf_new_from_file(file.c_str(), &error));
  if (!loaded) throw std::runtime_error("無法讀取圖片 " + file.string() + "：" + message_of(error));
  std::unique_ptr<GdkPixbuf, Unref> picture(gdk_pixbuf_apply_embedded_orientation(loaded.get()));
  GdkPixbuf* p = picture ? picture.get() : loaded.get();
  const int width = gdk_pixbuf_get_width(p), height = gdk_pixbuf_get_height(p);
  const int stride = gdk_pixbuf_get_rowstride(p), channels = gdk_pixbuf_get_n_channels(p);
  const bool alpha = gdk_pixbuf_get_has_alpha(p);
  const unsigned char* data = gdk_pixbuf_read_pixels(p);
  std::vector<unsigned char> grey(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const unsigned char* px = data + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * channels;
      int value = channels >= 3 ? (px[0] * 299 + px[1] * 587 + px[2] * 114) / 1000 : px[0];
      if (alpha) value = (value * px[channels - 1] + 255 * (255 - px[channels - 1])) / 255;  // over white
      grey[static_cast<size_t>(y) * width + x] = static_cast<unsigned char>(value);
    }
  return codes_in_grey(grey.data(), width, height);
}

PdfContents read_pdf(const fs::path& file) {
  GError* error = nullptr;
  gchar* uri = g_filename_to_uri(fs::absolute(file).c_str(), nullptr, &error);
  if (!uri) throw std::runtime_error("無法開啟 PDF " + file.string() + "：" + message_of(error));
  std::unique_ptr<PopplerDocument, Unref> document(poppler_document_new_from_file(uri, nullptr, &error));
  g_free(uri);
  if (!document) throw std::runtime_error("無法讀取 PDF " + file.string() + "：" + message_of(error));
  PdfContents out;
  const int pages = poppler_document_get_n_pages(document.get());
  for (int i = 0; i < pages; ++i) {
    std::unique_ptr<PopplerPage, Unref> page(poppler_document_get_page(document.get(), i));
    if (!page) continue;
    if (gchar* text = poppler_page_get_text(page.get())) {
      out.text += text;
      out.text += '\n';
      totals_on_page(page.get(), text, out.totals);
      g_free(text);
    }
    // 200 dpi: a code's module is then 4 pixels or more, and a page only 3 MB of pixels.
    double width = 0, height = 0;
    poppler_page_get_size(page.get(), &width, &height);
    constexpr double kScale = 200.0 / 72;
    cairo_surface_t* surface = cairo_image_surface_create(
        CAIRO_FORMAT_RGB24, static_cast<int>(width * kScale), static_cast<int>(height * kScale));
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_scale(cr, kScale, kScale);
    poppler_page_render(page.get(), cr);
    cairo_destroy(cr);
    const std::vector<unsigned char> grey = grey_of(surface);
    for (std::string& code :
         scan(grey.data(), cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface)))
      if (std::find(out.codes.begin(), out.codes.end(), code) == out.codes.end())
        out.codes.push_back(std::move(code));
    cairo_surface_destroy(surface);
  }
  return out;
}

}  // namespace receiptora::verify
