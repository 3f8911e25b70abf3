// Element drawers: the header, the item table, the stamps and the copy marks, each drawn
// where the page layout puts it.
#pragma once

#include <cairo.h>

#include <string>
#include <vector>

#include "page_layout.hpp"
#include "receiptora/receipt.hpp"
#include "receiptora/render/templates.hpp"
#include "text_fit.hpp"

namespace receiptora::render::detail {

struct Rgb {
  double r, g, b;
};
// Every colour lies between white, black and the stamp red, so the picture encoder can map
// each pixel to a small palette (see png_encode.cpp).
inline constexpr Rgb kInk{0.08, 0.08, 0.08};
inline constexpr Rgb kRule{0.35, 0.35, 0.35};
inline constexpr Rgb kShade{0.93, 0.93, 0.93};
inline constexpr Rgb kStampRed{200 / 255.0, 30 / 255.0, 30 / 255.0};
// White tinted towards the stamp red: a = 0 white, a = 1 the red itself.
constexpr Rgb tint(double a) {
  return {1 - a * (1 - kStampRed.r), 1 - a * (1 - kStampRed.g), 1 - a * (1 - kStampRed.b)};
}
inline void set_colour(cairo_t* cr, Rgb c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

// The owner's seal face: a brush face with Taiwan's forms.
inline constexpr const char* kSealFaces = "AR PL UKai TW, AR PL UMing TW";

// Whether each stamp is drawn: asked for, and with something to show.
bool draws_exemption_stamp(const Receipt& receipt);
bool draws_owner_seal(const Receipt& receipt);

// A text laid out once per receipt, drawn on every page at its place.
struct Placed {
  Fitted fitted;
  double x = 0, y = 0;
};

// Under the title: the seller's block on the left, the buyer's and the date on the right,
// each as tall as its texts need. A field the seller profile leaves empty takes no line.
struct Header {
  std::vector<Placed> texts;
  std::vector<double> rules;     // the buyer's ruled lines
  double bottom = 0;             // under the lowest text
  std::vector<std::string> cut;  // the seller profile's keys of the fields cut short with …
};
// `date_text` empty: blanks to fill in by hand.
Header lay_out_header(const Receipt& receipt, const TemplateInfo& look, const TextFitter& text,
                      const std::string& date_text);

// The drawn 免用統一發票專用章: the shop's name, its filled fields, the stamp's title; as tall
// as they need. A stamp picture keeps the fixed box.
struct ExemptionStamp {
  std::vector<Placed> lines;  // from the stamp's top left
  double height = kExemptionHeight;
  std::vector<std::string> cut;  // the seller profile's keys of the fields cut short with …
};
ExemptionStamp lay_out_exemption_stamp(const Receipt& receipt, const TemplateInfo& look,
                                       const TextFitter& text);

// Height the stamps take under the totals (with the gap above them), 0 with none.
double stamps_room(const Receipt& receipt, const ExemptionStamp& stamp);

// What the drawers share for one receipt.
struct Sheet {
  const Receipt& receipt;
  const TemplateInfo& look;
  const TemplateDrawing& drawing;
  const TextFitter& text;
  const Layout& layout;
  const Header& header;
  const ExemptionStamp& stamp;
};

void draw_header(cairo_t* cr, const Sheet& sheet, int page);
// Returns the lowest line of the table.
double draw_table(cairo_t* cr, const Sheet& sheet, int page);
// Both stamps at the top of the band that starts at `top`, right-aligned.
void draw_stamps(cairo_t* cr, const Sheet& sheet, double top);
// The left end of the stamps drawn in the band (kRight with none).
double stamps_left(const Receipt& receipt);
// The receipt's verification code as a QR code filling the page's code box (modules on whole
// pixels on a picture, so a scan reads them sharp), with 驗證碼 and the key's group beside it.
void draw_code(cairo_t* cr, const Sheet& sheet, int page);
// 作廢 across the page (clear of the stamps) or 補印 in a corner.
void draw_mark(cairo_t* cr, const Sheet& sheet, int page);

}  // namespace receiptora::render::detail
