#include "draw.hpp"

#include <stdexcept>
#include <string>

#include "elements.hpp"
#include "receiptora/receipt_texts.hpp"
#include "receiptora/render/templates.hpp"
#include "text_fit.hpp"

namespace receiptora::render::detail {

namespace {

std::string date_text(const Receipt& r) {
  if (!r.date) return "";
  const auto roc = roc_date(r.date->year, r.date->month, r.date->day);
  if (!roc) {
    throw std::invalid_argument("收據日期 " + std::to_string(r.date->year) + "-" +
                                std::to_string(r.date->month) + "-" + std::to_string(r.date->day) +
                                " 不是民國 1 年至 200 年間存在的日子");
  }
  return roc_date_text(*roc);
}

}  // namespace

struct Document::Impl {
  const Receipt& receipt;
  const TemplateInfo& look;
  const TemplateDrawing& drawing;
  TextFitter text;
  Header header;
  ExemptionStamp stamp;
  Layout layout;
  Sheet sheet;

  explicit Impl(const Receipt& r)
      : receipt(r),
        look(template_info(r.layout)),
        drawing(template_drawing(r.layout)),
        header(lay_out_header(r, look, text, date_text(r))),
        stamp(lay_out_exemption_stamp(r, look, text)),
        layout(lay_out(r, text, look.faces, std::max(stamps_room(r, stamp), drawing.art_room),
                       std::max(kTableTop, header.bottom + 2), page_band(stamps_room(r, stamp)))),
        sheet{r, look, drawing, text, layout, header, stamp} {}

  void draw_page(cairo_t* cr, int page, unsigned layers) const {
    const Page& p = layout.pages[page];
    if (layers & kPrint) {
      if (drawing.artwork) {
        // Right of the code box and its caption, left of the stamps.
        ArtworkPlace place{
            page, p.end, p.band_top, kBottom, p.code_caption.right() + 6, stamps_left(receipt) - 6};
        drawing.artwork(cr, place);
      }
      draw_header(cr, sheet, page);
      draw_table(cr, sheet, page);
    }
    if (layers & kCode) draw_code(cr, sheet, page);
    if (layers & kStamps) draw_stamps(cr, sheet, p.band_top);
    if (layers & kMark) draw_mark(cr, sheet, page);
  }
};

Document::Document(const Receipt& receipt) : impl_(std::make_unique<Impl>(receipt)) {}
Document::~Document() = default;
int Document::pages() const { return static_cast<int>(impl_->layout.pages.size()); }
const Layout& Document::layout() const { return impl_->layout; }
void Document::draw_page(cairo_t* cr, int page, unsigned layers) const { impl_->draw_page(cr, page, layers); }

}  // namespace receiptora::render::detail
