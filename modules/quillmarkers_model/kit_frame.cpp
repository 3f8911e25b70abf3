// The kit's CTkFrame and CTkOptionMenu, built with their final options once. A frame's first
// drawing is made in one pass (kit_drawing.hpp): 10 canvas items, about 70 Tk calls each in the
// stock drawing. An option menu's first drawing is customtkinter's own, without the
// update_idletasks at its end: that call lays out and redraws the whole half-built window,
// which lays itself out again when it is first shown (over 1,200 Tk calls in the receipt
// window). Later drawings are customtkinter's own, update included.
#include "kit.hpp"
#include "kit_drawing.hpp"

namespace quillmarkers {

namespace {

using namespace py::literals;

// The first drawing, with the colours CTkFrame._draw gives. False: left to the stock drawing.
bool draw_frame_first_time(py::handle frame, bool) {
  if (!frame.attr("_background_corner_colors").is_none() ||
      !frame.attr("_overwrite_preferred_drawing_method").is_none())
    return false;
  const auto o = outline_of(frame, /*border_needed=*/false);
  if (!o) return false;
  auto colour = [&](const char* attribute) {
    return frame.attr("_apply_appearance_mode")(frame.attr(attribute));
  };
  py::object background = colour("_bg_color");
  py::object inside =
      py::str("transparent").equal(frame.attr("_fg_color")) ? background : colour("_fg_color");
  py::object canvas = frame.attr("_canvas");
  remember_one_pass(frame, *o, draw_rounded_rectangle(canvas, *o, colour("_border_color"), inside));
  canvas.attr("configure")("bg"_a = background);
  return true;
}

// customtkinter's first drawing of the menu, with the canvas's update_idletasks a no-op.
bool draw_menu_first_time(py::handle menu, bool no_color_updates) {
  py::object canvas = menu.attr("_canvas");
  canvas.attr("update_idletasks") = py::cpp_function([] {});
  try {
    ctk().attr("CTkOptionMenu").attr("_draw")(menu, no_color_updates);
  } catch (...) {
    py::delattr(canvas, "update_idletasks");
    throw;
  }
  py::delattr(canvas, "update_idletasks");
  return true;
}

}  // namespace

py::object kit_frame_class() {
  PYBIND11_CONSTINIT static ClassStorage storage;
  return one_pass_class(storage, "Kit_Frame", "CTkFrame",
                        "A CTkFrame whose first drawing is made in one pass.", draw_frame_first_time);
}

py::object kit_option_menu_class() {
  PYBIND11_CONSTINIT static ClassStorage storage;
  return one_pass_class(storage, "Kit_Option_Menu", "CTkOptionMenu",
                        "A CTkOptionMenu whose first drawing lays out nothing else.", draw_menu_first_time);
}

}  // namespace quillmarkers
