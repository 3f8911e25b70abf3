#include "cat_art.hpp"

#include <cairo.h>

#include <algorithm>
#include <cmath>

#include "elements.hpp"
#include "page_layout.hpp"

namespace receiptora::render::detail {

namespace {

void paw(cairo_t* cr, double x, double y, double s, double angle) {
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_rotate(cr, angle);
  cairo_scale(cr, s, s);
  set_colour(cr, tint(0.22));
  cairo_save(cr);
  cairo_scale(cr, 1.15, 1.0);
  cairo_arc(cr, 0, 1.5, 2.6, 0, 2 * M_PI);
  cairo_restore(cr);
  cairo_fill(cr);
  const double toes[4][2] = {{-3.3, -2.0}, {-1.2, -3.8}, {1.2, -3.8}, {3.3, -2.0}};
  for (const auto& t : toes) {
    cairo_arc(cr, t[0], t[1], 1.05, 0, 2 * M_PI);
    cairo_fill(cr);
  }
  cairo_restore(cr);
}

// Fills the current path, then draws its outline in ink.
void fill_and_outline(cairo_t* cr, Rgb fill) {
  set_colour(cr, fill);
  cairo_fill_preserve(cr);
  set_colour(cr, kInk);
  cairo_stroke(cr);
}

// The title frame: a rounded box with two ears on its top line, each with a pink inside.
void title_frame(cairo_t* cr) {
  const double cx = kPageWidth / 2, x0 = cx - 118, x1 = cx + 118, y0 = 21, y1 = 55;
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_set_line_width(cr, 1.1);
  for (double ex : {x0 + 36, x1 - 36}) {
    cairo_move_to(cr, ex - 14, y0 + 1);
    cairo_line_to(cr, ex - 5, y0 - 5.2);
    cairo_line_to(cr, ex + 12, y0 + 1);
    cairo_close_path(cr);
    fill_and_outline(cr, {1, 1, 1});
    cairo_move_to(cr, ex - 8, y0 + 0.5);
    cairo_line_to(cr, ex - 4.5, y0 - 2.5);
    cairo_line_to(cr, ex + 5, y0 + 0.5);
    cairo_close_path(cr);
    set_colour(cr, tint(0.3));
    cairo_fill(cr);
  }
  const double r = 8;
  cairo_new_sub_path(cr);
  cairo_arc(cr, x1 - r, y0 + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x1 - r, y1 - r, r, 0, M_PI / 2);
  cairo_arc(cr, x0 + r, y1 - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x0 + r, y0 + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
  set_colour(cr, kInk);
  cairo_stroke(cr);
}

// A cat sitting on (bx, by), seen from the front, `s` times its drawn size (62 pt tall).
void sitting_cat(cairo_t* cr, double bx, double by, double s) {
  cairo_save(cr);
  cairo_translate(cr, bx, by);
  cairo_scale(cr, s, s);
  cairo_set_line_width(cr, 1.2);
  // Tail curling round to the right.
  cairo_move_to(cr, 14, -3);
  cairo_curve_to(cr, 34, -2, 36, -22, 26, -28);
  set_colour(cr, kInk);
  cairo_stroke(cr);
  // Body.
  cairo_move_to(cr, -16, -1);
  cairo_curve_to(cr, -20, -20, -12, -34, 0, -36);
  cairo_curve_to(cr, 12, -34, 20, -20, 16, -1);
  cairo_close_path(cr);
  fill_and_outline(cr, {1, 1, 1});
  // Front paws.
  for (double px : {-6.0, 6.0}) {
    cairo_move_to(cr, px, -14);
    cairo_line_to(cr, px, -1);
    cairo_stroke(cr);
  }
  // Head with ears.
  const double hy = -44;
  for (int side : {-1, 1}) {
    cairo_move_to(cr, side * 4, hy - 9);
    cairo_line_to(cr, side * 11, hy - 17);
    cairo_line_to(cr, side * 12, hy - 5);
    cairo_close_path(cr);
    fill_and_outline(cr, tint(0.3));
  }
  cairo_new_sub_path(cr);
  cairo_save(cr);
  cairo_translate(cr, 0, hy);
  cairo_scale(cr, 1.15, 1.0);
  cairo_arc(cr, 0, 0, 11, 0, 2 * M_PI);
  cairo_restore(cr);
  fill_and_outline(cr, {1, 1, 1});
  // Eyes, nose, whiskers.
  for (int side : {-1, 1}) {
    cairo_arc(cr, side * 4.5, hy - 1.5, 1.3, 0, 2 * M_PI);
    cairo_fill(cr);
  }
  cairo_move_to(cr, -1.6, hy + 2.5);
  cairo_line_to(cr, 1.6, hy + 2.5);
  cairo_line_to(cr, 0, hy + 4.2);
  cairo_close_path(cr);
  set_colour(cr, tint(0.6));
  cairo_fill(cr);
  set_colour(cr, kInk);
  cairo_set_line_width(cr, 0.5);
  for (int side : {-1, 1}) {
    for (double dy : {-1.0, 1.5}) {
      cairo_move_to(cr, side * 6, hy + 4);
      cairo_line_to(cr, side * 17, hy + 4 + dy * 1.8);
      cairo_stroke(cr);
    }
  }
  cairo_restore(cr);
}

}  // namespace

void draw_cat_art(cairo_t* cr, const ArtworkPlace& place) {
  cairo_save(cr);
  title_frame(cr);
  // Paw prints walking up to the frame, right of the corner a reprint mark takes.
  paw(cr, 138, 40, 1.4, -0.4);
  paw(cr, 152, 26, 1.4, -0.2);
  paw(cr, 166, 42, 1.4, -0.4);
  if (place.last_page && place.band_bottom - place.band_top >= kCatArtRoom - 0.01) {
    const double by = place.band_bottom - 1.5;
    sitting_cat(cr, place.band_left + 34, by, 1);
    for (int i = 0; i < 4; ++i) {
      const double x = place.band_left + 84 + i * 22;
      if (x + 8 < place.band_right) paw(cr, x, by - 6 - (i % 2) * 6, 1.1, 1.4);
    }
  }
  cairo_restore(cr);
}

}  // namespace receiptora::render::detail
