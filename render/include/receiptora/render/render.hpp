// Draws a Receipt as a printable PDF (A5 landscape, embedded subset fonts, real text) and as
// a PNG at 150 dpi for chat apps. Safe to call from several threads at once; never touches
// Python, so callers may release the GIL around it.
#pragma once

#include <string>
#include <vector>

#include "receiptora/receipt.hpp"

namespace receiptora::render {

// The whole document as bytes. Throws std::runtime_error when cairo reports a failure.
std::string render_pdf(const Receipt& receipt);
std::string render_png(const Receipt& receipt);

struct Rendered {
  std::string pdf;
  std::string png;
};
// Both documents of one receipt, the same bytes as render_pdf and render_png give, for less
// work: the texts are laid out once and drawn on both surfaces.
Rendered render_both(const Receipt& receipt);

// One picture per page, each 1240 × 874 (a chat app that limits a picture's long side still
// shows a page of a long receipt legibly), with the PDF: laid out once.
struct RenderedPages {
  std::string pdf;
  std::vector<std::string> pngs;  // page 1 first
};
RenderedPages render_pages(const Receipt& receipt);

// Whether the seller profile can show each stamp: the 免用統一發票章 needs a 商號名稱 or a
// picture, the owner's seal a 負責人 or a picture.
bool can_draw_exemption_stamp(const SellerProfile& seller);
bool can_draw_owner_seal(const SellerProfile& seller);

// What the receipt leaves out that the shop should know about, one sentence each in
// Traditional Chinese naming the file and the field to fill: a stamp asked for but not
// drawn because the seller profile has nothing to put in it, and the seller notes below.
// Empty when all is drawn.
std::vector<std::string> receipt_warnings(const Receipt& receipt);
// What the seller profile leaves the receipt without, one sentence each, without the
// receipt's number (the same for every receipt of the shop): the fields the drawn 免用統一發票
// 專用章 lacks (統一編號, 負責人, 地址), a field too long for the header or the stamp, cut with ….
std::vector<std::string> seller_notes(const Receipt& receipt);

}  // namespace receiptora::render
