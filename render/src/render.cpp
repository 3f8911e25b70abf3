#include "receiptora/render/render.hpp"

#include <cairo-pdf.h>
#include <cairo.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>

#include "draw.hpp"
#include "png_encode.hpp"

namespace receiptora::render {

namespace {

using detail::kPageHeight;
using detail::kPageWidth;

struct SurfaceDestroy {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDestroy {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDestroy>;
using ContextPtr = std::unique_ptr<cairo_t, ContextDestroy>;

void check(cairo_status_t status, const char* what) {
  if (status != CAIRO_STATUS_SUCCESS) {
    throw std::runtime_error(std::string(what) + ": " + cairo_status_to_string(status));
  }
}

cairo_status_t append(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

std::string local_now_iso8601() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

constexpr double kDpi = 150;

std::string pdf_of(const Receipt& receipt, const detail::Document& document) {
  std::string out;
  SurfacePtr surface(cairo_pdf_surface_create_for_stream(append, &out, kPageWidth, kPageHeight));
  check(cairo_surface_status(surface.get()), "PDF surface");
  const std::string title = "免用統一發票收據 " + receipt.number;
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, title.c_str());
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_AUTHOR, receipt.seller.name.c_str());
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR, "Receiptora");
  const std::string created = receipt.created_at.empty() ? local_now_iso8601() : receipt.created_at;
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATE_DATE, created.c_str());
  {
    ContextPtr cr(cairo_create(surface.get()));
    for (int page = 0; page < document.pages(); ++page) {
      document.draw_page(cr.get(), page);
      cairo_show_page(cr.get());
    }
    check(cairo_status(cr.get()), "PDF drawing");
  }
  cairo_surface_finish(surface.get());
  check(cairo_surface_status(surface.get()), "PDF output");
  return out;
}

std::string png_of(const detail::Document& document) {
  const double scale = kDpi / 72;
  const int width = static_cast<int>(std::lround(kPageWidth * scale));
  const int page_height = static_cast<int>(std::lround(kPageHeight * scale));
  // Pages of a long receipt stand one below the other in one picture, as far as a picture
  // can reach (cairo's limit is 32767 pixels); a longer receipt is refused, never cut short.
  constexpr int kMaxPictureHeight = 32767;
  if (document.pages() > kMaxPictureHeight / page_height) {
    throw std::length_error("a receipt of " + std::to_string(document.pages()) +
                            " pages is too long for one picture; its PDF holds it all");
  }
  // White paper from the start: one pass over the pixels, where a cleared surface painted
  // white would take two.
  const int height = page_height * document.pages();
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width);
  const size_t bytes = static_cast<size_t>(stride) * height;
  const auto paper = std::make_unique_for_overwrite<unsigned char[]>(bytes);
  std::memset(paper.get(), 0xff, bytes);
  SurfacePtr surface(
      cairo_image_surface_create_for_data(paper.get(), CAIRO_FORMAT_RGB24, width, height, stride));
  check(cairo_surface_status(surface.get()), "picture surface");
  {
    ContextPtr cr(cairo_create(surface.get()));
    for (int page = 0; page < document.pages(); ++page) {
      cairo_save(cr.get());
      cairo_translate(cr.get(), 0, page * page_height);
      cairo_rectangle(cr.get(), 0, 0, width, page_height);
      cairo_clip(cr.get());
      cairo_scale(cr.get(), scale, scale);
      document.draw_page(cr.get(), page);
      cairo_restore(cr.get());
    }
    check(cairo_status(cr.get()), "picture drawing");
  }
  return detail::encode_png(surface.get(), kDpi);
}

}  // namespace

std::string render_pdf(const Receipt& receipt) { return pdf_of(receipt, detail::Document(receipt)); }

std::string render_png(const Receipt& receipt) { return png_of(detail::Document(receipt)); }

Rendered render_both(const Receipt& receipt) {
  const detail::Document document(receipt);
  Rendered out;
  out.pdf = pdf_of(receipt, document);
  out.png = png_of(document);
  return out;
}

}  // namespace receiptora::render
