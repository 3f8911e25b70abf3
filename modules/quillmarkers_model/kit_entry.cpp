// Kit_Entry: customtkinter's CTkEntry with its first drawing made in one pass (kit_drawing.hpp):
// 20 canvas items, about 150 Tk calls per entry in the stock drawing, most of the window's
// start-up.
#include "kit.hpp"
#include "kit_drawing.hpp"

namespace quillmarkers {

namespace {

using namespace py::literals;

// The first drawing, with the colours CTkEntry._draw gives. False: left to the stock drawing.
bool draw_first_time(py::handle entry, bool no_color_updates) {
  if (no_color_updates) return false;
  const auto o = outline_of(entry, /*border_needed=*/true);
  if (!o) return false;
  auto colour = [&](const char* attribute) {
    return entry.attr("_apply_appearance_mode")(entry.attr(attribute));
  };
  py::object background = colour("_bg_color");
  py::object inside = colour("_fg_color");
  if (py::str("transparent").equal(inside)) inside = background;
  py::object border = colour("_border_color");
  py::object text =
      colour(py::bool_(entry.attr("_placeholder_text_active")) ? "_placeholder_text_color" : "_text_color");

  py::object canvas = entry.attr("_canvas");
  draw_rounded_rectangle(canvas, *o, border, inside);

  canvas.attr("configure")("bg"_a = background);
  entry.attr("_entry").attr("configure")(
      "bg"_a = inside, "disabledbackground"_a = inside, "readonlybackground"_a = inside,
      "highlightcolor"_a = inside, "fg"_a = text, "disabledforeground"_a = text, "insertbackground"_a = text);
  return true;
}

}  // namespace

py::object kit_entry_class() {
  PYBIND11_CONSTINIT static ClassStorage storage;
  return one_pass_class(storage, "Kit_Entry", "CTkEntry",
                        "A CTkEntry whose first drawing is made in one pass.", draw_first_time);
}

}  // namespace quillmarkers
