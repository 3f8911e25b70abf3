#include "receiptora/render/render.hpp"

#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "draw.hpp"
#include "elements.hpp"
#include "pdf_tidy.hpp"
#include "receiptora/local_time.hpp"
#include "png_encode.hpp"
#include "receiptora/render/templates.hpp"
#include "text_fit.hpp"

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

// A creation date without a zone is local time: it gets the local zone, so a reader in
// another zone sees the right moment.
std::string with_zone(const std::string& iso) {
  const size_t time = iso.find('T');
  if (time == std::string::npos || iso.back() == 'Z' || iso.find_first_of("+-", time) != std::string::npos) {
    return iso;
  }
  std::tm local{};
  if (!strptime(iso.c_str(), "%Y-%m-%dT%H:%M:%S", &local)) return iso;
  local.tm_isdst = -1;
  std::mktime(&local);  // the zone in force on that day
  return iso + iso_zone(local);
}

constexpr double kDpi = 150;

std::string pdf_of(const Receipt& receipt, const detail::Document& document) {
  std::string out;
  SurfacePtr surface(cairo_pdf_surface_create_for_stream(append, &out, kPageWidth, kPageHeight));
  check(cairo_surface_status(surface.get()), "PDF surface");
  std::string title = "免用統一發票收據 " + receipt.number;
  if (receipt.mark) title += receipt.mark->kind == Mark::Kind::Void ? " 作廢" : " 補印";
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, title.c_str());
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_AUTHOR, receipt.seller.name.c_str());
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR, "Receiptora");
  const std::string created =
      receipt.created_at.empty() ? local_iso_timestamp_with_zone() : with_zone(receipt.created_at);
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATE_DATE, created.c_str());
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_MOD_DATE, created.c_str());
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
  detail::tidy_pdf(out);
  return out;
}

// Pages [first, first + count) of the document, one below the other in one picture.
std::string png_of(const detail::Document& document, int first, int count) {
  const double scale = kDpi / 72;
  const int width = static_cast<int>(std::lround(kPageWidth * scale));
  const int page_height = static_cast<int>(std::lround(kPageHeight * scale));
  // Pages of a long receipt stand one below the other in one picture, as far as a picture
  // can reach (cairo's limit is 32767 pixels); a longer receipt is refused, never cut short.
  constexpr int kMaxPictureHeight = 32767;
  if (count > kMaxPictureHeight / page_height) {
    throw std::length_error("收據有 " + std::to_string(count) + " 頁，一張圖片放不下（最多 " +
                            std::to_string(kMaxPictureHeight / page_height) +
                            " 頁）；請改用 PDF，它包含每一頁");
  }
  // White paper from the start: one pass over the pixels, where a cleared surface painted
  // white would take two.
  const int height = page_height * count;
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width);
  const size_t bytes = static_cast<size_t>(stride) * height;
  const auto paper = std::make_unique_for_overwrite<unsigned char[]>(bytes);
  std::memset(paper.get(), 0xff, bytes);
  SurfacePtr surface(
      cairo_image_surface_create_for_data(paper.get(), CAIRO_FORMAT_RGB24, width, height, stride));
  check(cairo_surface_status(surface.get()), "picture surface");
  {
    ContextPtr cr(cairo_create(surface.get()));
    for (int page = 0; page < count; ++page) {
      cairo_save(cr.get());
      cairo_translate(cr.get(), 0, page * page_height);
      cairo_rectangle(cr.get(), 0, 0, width, page_height);
      cairo_clip(cr.get());
      cairo_scale(cr.get(), scale, scale);
      document.draw_page(cr.get(), first + page);
      cairo_restore(cr.get());
    }
    check(cairo_status(cr.get()), "picture drawing");
  }
  return detail::encode_png(surface.get(), kDpi);
}

}  // namespace

std::string render_pdf(const Receipt& receipt) { return pdf_of(receipt, detail::Document(receipt)); }

std::string render_png(const Receipt& receipt) {
  const detail::Document document(receipt);
  return png_of(document, 0, document.pages());
}

bool can_draw_exemption_stamp(const SellerProfile& seller) {
  Receipt r;
  r.seller = seller;
  r.exemption_stamp = true;
  return detail::draws_exemption_stamp(r);
}

bool can_draw_owner_seal(const SellerProfile& seller) {
  Receipt r;
  r.seller = seller;
  r.owner_seal = true;
  return detail::draws_owner_seal(r);
}

std::vector<std::string> receipt_warnings(const Receipt& receipt) {
  std::vector<std::string> out;
  const std::string profile = "賣方資料.toml";
  if (receipt.exemption_stamp && !detail::draws_exemption_stamp(receipt)) {
    out.push_back("收據 " + receipt.number + " 未蓋免用統一發票專用章：" + profile +
                  " 的「商號名稱」是空的，請填寫商號名稱（或「免用統一發票章圖檔」）。");
  }
  if (receipt.owner_seal && !detail::draws_owner_seal(receipt)) {
    out.push_back("收據 " + receipt.number + " 未蓋負責人章：" + profile +
                  " 的「負責人」是空的，請填寫負責人姓名（或「負責人章圖檔」）。");
  }
  for (std::string& note : seller_notes(receipt)) out.push_back(std::move(note));
  return out;
}

std::vector<std::string> seller_notes(const Receipt& receipt) {
  std::vector<std::string> out;
  const SellerProfile& s = receipt.seller;
  const auto blank = [](const std::string& t) { return t.find_first_not_of(" \t") == std::string::npos; };
  if (detail::draws_exemption_stamp(receipt) && s.exemption_stamp_image.empty()) {
    std::string missing;
    for (const auto& [key, value] :
         {std::pair{"統一編號", &s.tax_id}, {"負責人", &s.owner}, {"地址", &s.address}})
      if (blank(*value)) missing += std::string(missing.empty() ? "" : "、") + "「" + key + "」";
    if (!missing.empty()) out.push_back("免用統一發票專用章缺" + missing + "：請在賣方資料.toml 填寫。");
  }
  const detail::TextFitter text;
  const TemplateInfo& look = template_info(receipt.layout);
  std::vector<std::string> cut = detail::lay_out_header(receipt, look, text, "").cut;
  for (const std::string& key : detail::lay_out_exemption_stamp(receipt, look, text).cut)
    if (std::find(cut.begin(), cut.end(), key) == cut.end()) cut.push_back(key);
  for (const std::string& key : cut)
    out.push_back("賣方資料.toml 的「" + key + "」太長，收據上只印得下前段（以 … 截斷），請縮短。");
  return out;
}

Rendered render_both(const Receipt& receipt) {
  const detail::Document document(receipt);
  Rendered out;
  out.pdf = pdf_of(receipt, document);
  out.png = png_of(document, 0, document.pages());
  return out;
}

RenderedPages render_pages(const Receipt& receipt) {
  const detail::Document document(receipt);
  RenderedPages out;
  out.pdf = pdf_of(receipt, document);
  for (int page = 0; page < document.pages(); ++page) out.pngs.push_back(png_of(document, page, 1));
  return out;
}

}  // namespace receiptora::render
