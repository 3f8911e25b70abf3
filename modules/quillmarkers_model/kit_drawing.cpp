#include "kit_drawing.hpp"

#include <cmath>
#include <string>
#include <vector>

namespace quillmarkers {

using namespace py::literals;

std::optional<Outline> outline_of(py::handle widget, bool border_needed) {
  py::object engine = ctk().attr("DrawEngine");
  if (!py::str("font_shapes").equal(engine.attr("preferred_drawing_method"))) return std::nullopt;
  py::object own_engine = widget.attr("_draw_engine");
  if (!py::bool_(own_engine.attr("_round_width_to_even_numbers")) ||
      !py::bool_(own_engine.attr("_round_height_to_even_numbers")))
    return std::nullopt;
  auto scaled = [&](const char* attribute) -> std::optional<long> {
    py::object value = widget.attr("_apply_widget_scaling")(widget.attr(attribute));
    if (!PyLong_Check(value.ptr()) && !PyFloat_Check(value.ptr())) return std::nullopt;
    const double number = value.cast<double>();
    if (number < 0 || number > 1e6 || number != std::floor(number)) return std::nullopt;
    return static_cast<long>(number);
  };
  const auto width = scaled("_current_width"), height = scaled("_current_height");
  const auto corner = scaled("_corner_radius"), border = scaled("_border_width");
  if (!width || !height || !corner || !border) return std::nullopt;
  Outline o{*width / 2 * 2, *height / 2 * 2, *corner, *border, 0};
  if (o.corner * 2 > o.width || o.corner * 2 > o.height) return std::nullopt;
  o.inner = o.corner >= o.border ? o.corner - o.border : 0;
  if ((border_needed && o.border <= 0) || o.inner <= 0 || o.width <= 2 * o.corner ||
      o.height <= 2 * o.corner || o.width - 2 * o.border <= 2 * o.inner ||
      o.height - 2 * o.border <= 2 * o.inner)
    return std::nullopt;
  return o;
}

py::list draw_rounded_rectangle(py::handle canvas, const Outline& o, py::handle border, py::handle inside) {
  py::list ids;
  py::object circle_ids = canvas.attr("_aa_circle_canvas_ids");
  py::object create_text = canvas.attr("create_text");
  py::object create_rectangle = canvas.attr("create_rectangle");
  // Two font circles on top of each other, one turned half way, as create_aa_circle makes them.
  auto corner = [&](const char* name, const char* part, const char* parts, long x, long y, long radius,
                    py::handle fill) {
    py::object character = canvas.attr("_get_char_from_radius")(radius);
    py::tuple font = py::make_tuple("CustomTkinter_shapes_font", -radius * 2);
    for (int angle : {0, 180}) {
      py::str tag(std::string(name) + (angle == 0 ? "_a" : "_b"));
      py::object id = create_text(
          x, y, "text"_a = character, "anchor"_a = "center", "fill"_a = fill, "font"_a = font,
          "tags"_a = py::make_tuple(tag, part, parts, "ctk_aa_circle_font_element"), "angle"_a = angle);
      circle_ids.attr("add")(id);
      ids.append(id);
    }
  };
  auto rectangle = [&](const char* name, const char* part, const char* parts, long x0, long y0, long x1,
                       long y1, py::handle fill) {
    ids.append(create_rectangle(x0, y0, x1, y1, "tags"_a = py::make_tuple(name, part, parts), "width"_a = 0,
                                "fill"_a = fill, "outline"_a = fill));
  };

  // Border first, then the inside over it: the stacking the stock drawing ends with.
  const long w = o.width, h = o.height, c = o.corner, b = o.border, i = o.inner;
  if (b > 0) {
    corner("border_oval_1", "border_corner_part", "border_parts", c, c, c, border);
    corner("border_oval_2", "border_corner_part", "border_parts", w - c, c, c, border);
    corner("border_oval_3", "border_corner_part", "border_parts", w - c, h - c, c, border);
    corner("border_oval_4", "border_corner_part", "border_parts", c, h - c, c, border);
    rectangle("border_rectangle_1", "border_rectangle_part", "border_parts", 0, c, w, h - c, border);
    rectangle("border_rectangle_2", "border_rectangle_part", "border_parts", c, 0, w - c, h, border);
  }
  corner("inner_oval_1", "inner_corner_part", "inner_parts", b + i, b + i, i, inside);
  corner("inner_oval_2", "inner_corner_part", "inner_parts", w - b - i, b + i, i, inside);
  corner("inner_oval_3", "inner_corner_part", "inner_parts", w - b - i, h - b - i, i, inside);
  corner("inner_oval_4", "inner_corner_part", "inner_parts", b + i, h - b - i, i, inside);
  rectangle("inner_rectangle_1", "inner_rectangle_part", "inner_parts", b + i, b, w - b - i, h - b, inside);
  rectangle("inner_rectangle_2", "inner_rectangle_part", "inner_parts", b, b + i, w - b, h - i - b, inside);
  return ids;
}

namespace {

// Where each item of a one-pass drawing stands for outline o, in the order they were made:
// a circle's centre (two numbers) or a rectangle's corners (four).
std::vector<std::vector<long>> places(const Outline& o) {
  const long w = o.width, h = o.height, c = o.corner, b = o.border, i = o.inner;
  std::vector<std::vector<long>> at;
  auto circle = [&](long x, long y) { at.insert(at.end(), 2, {x, y}); };
  if (b > 0) {
    circle(c, c), circle(w - c, c), circle(w - c, h - c), circle(c, h - c);
    at.push_back({0, c, w, h - c});
    at.push_back({c, 0, w - c, h});
  }
  circle(b + i, b + i), circle(w - b - i, b + i), circle(w - b - i, h - b - i), circle(b + i, h - b - i);
  at.push_back({b + i, b, w - b - i, h - b});
  at.push_back({b, b + i, w - b, h - i - b});
  return at;
}

// A resize of a widget still showing its one-pass drawing: the same items moved by id, what
// customtkinter's redraw does after finding each of them by tag. False when the corners or the
// border changed, or the new size needs items added or removed: customtkinter redraws then.
bool move_in_one_pass(py::handle widget, bool border_needed) {
  py::object drawn = py::getattr(widget, "_kit_items", py::none());
  if (drawn.is_none()) return false;
  const auto o = outline_of(widget, border_needed);
  if (!o || !py::make_tuple(o->corner, o->border).equal(drawn[py::int_(0)])) return false;
  py::list ids = drawn[py::int_(1)];
  const auto at = places(*o);
  if (at.size() != py::len(ids)) return false;
  py::object canvas = widget.attr("_canvas");
  py::object coords = py::module_::import("tkinter").attr("Canvas").attr("coords");
  for (size_t k = 0; k < at.size(); ++k) {
    py::tuple place(at[k].size());
    for (size_t n = 0; n < at[k].size(); ++n) place[n] = at[k][n];
    coords(canvas, ids[k], *place);
  }
  return true;
}

}  // namespace

void draw_first_in_one_pass(py::handle cls, const char* base, FirstDrawing draw_first, bool border_needed) {
  cls.attr("_draw") = py::cpp_function(
      [base, draw_first, border_needed](py::object self, py::object no_color_updates) {
        const bool first = !py::hasattr(self, "_kit_drawn");
        if (first) self.attr("_kit_drawn") = true;
        const bool size_only = py::bool_(no_color_updates);
        if (first ? draw_first(self, size_only) : size_only && move_in_one_pass(self, border_needed)) return;
        self.attr("_kit_items") = py::none();  // customtkinter's drawing may make items anew
        ctk().attr(base).attr("_draw")(self, no_color_updates);
      },
      py::name("_draw"), py::is_method(cls), py::arg("no_color_updates") = false);
}

py::object one_pass_class(ClassStorage& storage, const char* name, const char* base, const char* doc,
                          FirstDrawing draw_first, bool border_needed) {
  return storage
      .call_once_and_store_result([&] {
        py::object cls = kit_subclass(name, base, doc);
        draw_first_in_one_pass(cls, base, draw_first, border_needed);
        return cls;
      })
      .get_stored();
}

void remember_one_pass(py::handle widget, const Outline& o, py::list ids) {
  widget.attr("_kit_items") = py::make_tuple(py::make_tuple(o.corner, o.border), std::move(ids));
}

}  // namespace quillmarkers
