#include "receiptora/render/card.hpp"

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <memory>
#include <stdexcept>

#include "png_encode.hpp"
#include "qr.hpp"

namespace receiptora::render {

namespace {

constexpr double kWidth = 419.53, kHeight = 297.64;  // A6 landscape
constexpr double kMargin = 24, kCodeSize = 150;
constexpr const char* kFace = "WenQuanYi Zen Hei, AR PL UMing TW";

cairo_status_t append(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

// `s` with its top left at (x, y), wrapped to `width`; returns its height.
double text(cairo_t* cr, const std::string& s, double x, double y, double size, double width,
            const char* face = kFace) {
  std::unique_ptr<PangoLayout, decltype(&g_object_unref)> layout(pango_cairo_create_layout(cr),
                                                                 g_object_unref);
  std::unique_ptr<PangoFontDescription, decltype(&pango_font_description_free)> font(
      pango_font_description_from_string(face), pango_font_description_free);
  pango_font_description_set_absolute_size(font.get(), size * PANGO_SCALE);
  pango_layout_set_font_description(layout.get(), font.get());
  pango_layout_set_width(layout.get(), static_cast<int>(width * PANGO_SCALE));
  pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
  pango_layout_set_text(layout.get(), s.c_str(), -1);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, layout.get());
  int w = 0, h = 0;
  pango_layout_get_size(layout.get(), &w, &h);
  return static_cast<double>(h) / PANGO_SCALE;
}

void draw_card(cairo_t* cr, const KeyCard& card) {
  cairo_set_source_rgb(cr, 0.08, 0.08, 0.08);
  double y = kMargin;
  y += text(cr, "收據驗證卡", kMargin, y, 11, kWidth - 2 * kMargin) + 4;
  y += text(cr, card.name.empty() ? "（未填商號名稱）" : card.name, kMargin, y, 18, kWidth - 2 * kMargin) + 2;
  if (!card.tax_id.empty()) y += text(cr, "統一編號 " + card.tax_id, kMargin, y, 11, kWidth - 2 * kMargin);
  const double top = std::max(y + 12, 100.0);
  detail::draw_qr(cr, card.code, kMargin, top, kCodeSize);
  const double x = kMargin + kCodeSize + 18, width = kWidth - x - kMargin;
  cairo_set_source_rgb(cr, 0.08, 0.08, 0.08);
  double ty = top;
  ty += text(cr, "金鑰指紋", x, ty, 9, width) + 2;
  ty += text(cr,
             card.fingerprint.substr(0, 19) + "\n" +
                 card.fingerprint.substr(std::min<size_t>(20, card.fingerprint.size())),
             x, ty, 12, width, "DejaVu Sans Mono, monospace") +
        10;
  text(cr,
       "這家店開立的每張收據都印有驗證碼（QR 碼），由左邊這把金鑰簽章。用 receiptora verify --key "
       "驗證卡.png 收據.pdf（或收據的照片）即可查出收據是否為本店開立、內容是否被改過。",
       x, ty, 9, width);
}

}  // namespace

Rendered render_key_card(const KeyCard& card) {
  Rendered out;
  {
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
        cairo_pdf_surface_create_for_stream(append, &out.pdf, kWidth, kHeight), cairo_surface_destroy);
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE,
                                   ("收據驗證卡 " + card.name).c_str());
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR, "Receiptora");
    cairo_t* cr = cairo_create(surface.get());
    draw_card(cr, card);
    cairo_show_page(cr);
    const cairo_status_t status = cairo_status(cr);
    cairo_destroy(cr);
    cairo_surface_finish(surface.get());
    if (status != CAIRO_STATUS_SUCCESS) throw std::runtime_error(cairo_status_to_string(status));
  }
  constexpr double kDpi = 300, kScale = kDpi / 72;
  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> picture(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(kWidth * kScale),
                                 static_cast<int>(kHeight * kScale)),
      cairo_surface_destroy);
  cairo_t* cr = cairo_create(picture.get());
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_scale(cr, kScale, kScale);
  draw_card(cr, card);
  cairo_destroy(cr);
  out.png = detail::encode_png(picture.get(), kDpi);
  return out;
}

}  // namespace receiptora::render
