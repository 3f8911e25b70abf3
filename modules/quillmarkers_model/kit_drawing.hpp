// First drawings in one pass: customtkinter draws a widget's rounded rectangle by creating
// each canvas item empty, then finding it by tag, moving, resizing and colouring it (about
// 70 Tk calls for a frame, 150 for an entry). The kit's widgets create each item once with its
// final place, size, colour and tags, the very items and stacking order the stock drawing
// leaves behind, so every later redraw (a resize, a colour or scaling change) is
// customtkinter's own and finds what it expects.
#pragma once

#include <pybind11/gil_safe_call_once.h>

#include <optional>

#include "kit.hpp"

namespace quillmarkers {

// The rounded rectangle as the draw engine lays it out for the font-shape method.
struct Outline {
  long width, height, corner, border, inner;
};

// Only the common case is drawn in one pass: integral sizes (no fractional scaling), a border
// when border_needed, and room for all four corners; nullopt leaves it to the stock drawing.
std::optional<Outline> outline_of(py::handle widget, bool border_needed);

// The border's items (when it has one) and then the inside's, as the draw engine leaves them.
// Returns their ids in the order made.
py::list draw_rounded_rectangle(py::handle canvas, const Outline& o, py::handle border, py::handle inside);

// Notes the items of widget's one-pass drawing, so a later resize moves them by id.
void remember_one_pass(py::handle widget, const Outline& o, py::list ids);

// Gives cls (a subclass of customtkinter's `base`) a _draw whose first call runs
// draw_first(self, no_color_updates); a later resize (no colour updates) of a drawing noted
// by remember_one_pass moves its items. Otherwise customtkinter's own _draw runs.
using FirstDrawing = bool (*)(py::handle self, bool no_color_updates);
void draw_first_in_one_pass(py::handle cls, const char* base, FirstDrawing draw_first,
                            bool border_needed = false);

// The kit's class `name`, derived from customtkinter's `base` and drawn as above; made once per
// process into storage.
using ClassStorage = py::gil_safe_call_once_and_store<py::object>;
py::object one_pass_class(ClassStorage& storage, const char* name, const char* base, const char* doc,
                          FirstDrawing draw_first, bool border_needed = false);

}  // namespace quillmarkers
