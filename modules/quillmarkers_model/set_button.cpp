// Set_Button: creates named CTkButtons and keeps a record of the options set on each, so
// reading an option back is a dictionary look-up and setting an unchanged one costs nothing
// (the window re-sets its button caption every 500 ms).
#include <string_view>

#include "kit.hpp"
#include "receiptora_py/guards.hpp"
#include "receiptora_py/picture.hpp"

namespace quillmarkers {

namespace {

using namespace py::literals;

constexpr int kTextWidth = 140;
constexpr int kPictureWidth = 40;  // narrow, so picture buttons sharing a grid cell never overlap

bool is_grid_option(std::string_view key) {
  return key == "row" || key == "column" || key == "padx" || key == "pady" || key == "sticky" ||
         key == "rowspan" || key == "columnspan" || key == "ipadx" || key == "ipady";
}

// The kit's name for an option and customtkinter's.
std::string option_key(const std::string& key) { return key == "button_event" ? "command" : key; }

// A padding given as a pair becomes a tuple, which grid (and customtkinter's scaling) reads
// as (before, after); a single number stays as it is.
py::object padding(py::handle value) {
  if (py::isinstance<py::list>(value) || py::isinstance<py::tuple>(value))
    return py::tuple(py::reinterpret_borrow<py::object>(value));
  return py::reinterpret_borrow<py::object>(value);
}

py::object load_image(py::handle path, py::handle size) {
  py::object image = receiptora_py::read_picture(py::module_::import("PIL.Image"), path);
  return ctk().attr("CTkImage")("light_image"_a = image, "dark_image"_a = image,
                                "size"_a = py::tuple(py::reinterpret_borrow<py::object>(size)));
}

struct SetButton {
  py::dict buttons;  // name -> CTkButton
  py::dict records;  // name -> {option: value as last set}

  template <class F>
  void visit(F&& f) const {
    f(buttons);
    f(records);
  }
  void clear() {
    buttons = py::dict();
    records = py::dict();
  }

  py::object add_button(py::object parent, const py::kwargs& given) {
    py::dict options(given);
    py::object name = options.attr("pop")("button_name", py::none());
    py::object text = options.attr("pop")("text", py::str(""));
    py::object command = options.attr("pop")("button_event", py::none());
    if (command.is_none()) command = options.attr("pop")("command", py::none());
    py::object image_path = options.attr("pop")("image_path", py::none());
    py::object size = options.attr("pop")("size", py::make_tuple(25, 25));

    py::dict grid("row"_a = 0, "column"_a = 0);
    py::dict widget;
    for (auto [key, value] : options) {
      const std::string k = py::str(key);
      if (is_grid_option(k)) {
        grid[key] = (k == "padx" || k == "pady") ? padding(value) : py::reinterpret_borrow<py::object>(value);
      } else {
        widget[key] = value;
      }
    }
    const bool picture_only = !image_path.is_none() && py::len(text) == 0;
    if (!widget.contains("width")) widget["width"] = picture_only ? kPictureWidth : kTextWidth;
    if (!widget.contains("font")) widget["font"] = kit_font(13);
    widget["text"] = text;
    widget["command"] = command;
    if (!image_path.is_none()) widget["image"] = load_image(image_path, size);

    py::object button = ctk().attr("CTkButton")(parent, **widget);
    button.attr("grid")(**grid);

    if (!name.is_none()) {
      py::dict record(widget);
      record.attr("pop")("image", py::none());
      record["image_path"] = image_path;
      record["size"] = size;
      record.attr("update")(grid);
      buttons[name] = button;
      records[name] = record;
    }
    return button;
  }

  py::object button(py::handle name) const {
    if (!buttons.contains(name)) throw py::key_error(py::repr(name).cast<std::string>());
    return buttons[name];
  }

  py::object cget(py::handle name, const std::string& option) const {
    py::object widget = button(name);
    py::dict record = records[name];
    const std::string key = option_key(option);
    if (record.contains(key)) return record[py::str(key)];
    return widget.attr("cget")(key);
  }

  void configure(py::handle name, const py::kwargs& options) {
    py::object widget = button(name);
    py::dict record = records[name];
    py::dict updates, changed_widget, changed_grid;
    bool image_changed = false;

    for (auto [given_key, value] : options) {
      const std::string key = option_key(py::str(given_key));
      if (key == "button_name") throw py::value_error("a button's name cannot be changed");
      py::str k(key);
      updates[k] = value;  // the record always holds exactly what was set last

      bool unchanged = false;
      if (record.contains(k)) {
        unchanged = same_value(record[k], value);
      } else if (!is_grid_option(key) && key != "image_path" && key != "size") {
        receiptora_py::silently([&] { unchanged = same_value(widget.attr("cget")(k), value); });
      }
      if (unchanged) continue;

      if (key == "image_path" || key == "size") {
        image_changed = true;
      } else if (is_grid_option(key)) {
        changed_grid[k] =
            (key == "padx" || key == "pady") ? padding(value) : py::reinterpret_borrow<py::object>(value);
      } else {
        changed_widget[k] = value;
      }
    }

    if (image_changed) {
      auto current = [&](const char* key, py::object fallback) -> py::object {
        if (updates.contains(key)) return updates[key];
        if (record.contains(key)) return record[key];
        return fallback;
      };
      py::object path = current("image_path", py::none());
      changed_widget["image"] =
          path.is_none() ? py::none() : load_image(path, current("size", py::make_tuple(25, 25)));
    }
    if (py::len(changed_widget) > 0) widget.attr("configure")(**changed_widget);
    if (py::len(changed_grid) > 0) widget.attr("grid")(**changed_grid);
    record.attr("update")(updates);
  }
};

}  // namespace

void register_set_button(py::module_& m) {
  py::class_<SetButton>(m, "Set_Button", collectable<SetButton>(),
                        "Named buttons; needs no Tk root until add_button.")
      .def(py::init<>())
      .def("add_button", &SetButton::add_button, py::arg("parent"),
           "Creates a CTkButton in parent and grids it (row 0, column 0 unless given). Options: "
           "button_name, text, button_event, image_path, size, fg_color, width, row, column, "
           "padx, pady, sticky; others go to CTkButton. Returns the button.")
      .def("cget", &SetButton::cget, py::arg("button_name"), py::arg("option"),
           "The value last set for option on the named button.")
      .def("configure", &SetButton::configure, py::arg("button_name"),
           "Sets options on the named button, skipping those whose value is unchanged.")
      .def("button", &SetButton::button, py::arg("button_name"), "The named CTkButton.");
}

}  // namespace quillmarkers
