// The main window's widgets: the root, the outer and inner panels, the logo bar, the total
// caption, the item table and buyer fields, the buttons, the switch, the template menu and
// the stamp check boxes. Runs once per window, so attribute names are not interned here.
#include "layout.hpp"

#include "guards.hpp"
#include "module_names.hpp"
#include "platform.hpp"
#include "receiptora_py/picture.hpp"
#include "toolkit.hpp"

namespace gui {

namespace {

using namespace pybind11::literals;
using toolkit::ctk;

constexpr const char* kFontFamily = "Microsoft JhengHei";

py::object font(int size) {
  return ctk().attr("CTkFont")("family"_a = kFontFamily, "size"_a = size, "weight"_a = "bold");
}

// The kit's frames and menu are customtkinter's, built with their final options once.
py::object kit_class(const char* name) { return global("customtkinter_model").attr(name); }

py::object frame(py::handle parent, const py::dict& options) {
  return kit_class("CTkFrame")(parent, **options);
}

void build_root(WindowState& s) {
  s.main_window = ctk().attr("CTk")("className"_a = "receiptora");  // the 收據 launcher's StartupWMClass
  s.main_window.attr("title")("Receiptora軟體");
  for (int column : {0, 1, 2}) s.main_window.attr("grid_columnconfigure")(column, "weight"_a = 1);
  s.main_window.attr("resizable")(false, false);
  print_and_go_on([&] { platform::set_window_icon(s.main_window, platform::resource_path("logo.ico")); });
}

// The window's panels, in the order they are made (creation order is Tk's stacking and Tab
// order). A backdrop is a rounded frame sharing a grid cell with the widgets drawn over it.
struct Panels {
  py::object top_panel;       // the logo bar and the tool bar
  py::object buyer_panel;     // the buyer fields over their backdrop
  py::object output_panel;    // the output button and the date switch over their backdrop
  py::object item_panel;      // the item table's backdrop
  py::object total_panel;     // the total bar over its backdrop
  py::object item_frame;      // holds the item table
  py::object buyer_frame;     // holds the buyer fields
  py::object total_backdrop;  // the rounded panel behind the total bar
  py::object logo_bar;
  py::object tool_bar;   // the picture buttons and the template menu
  py::object total_bar;  // the grand total and the stamp check boxes
};

Panels build_panels(WindowState& s) {
  Panels p;
  auto outer = [&](int row, int column, int span, py::tuple padx, py::tuple pady, const char* sticky) {
    py::object panel = frame(s.main_window, py::dict("fg_color"_a = "transparent"));
    panel.attr("grid")("row"_a = row, "column"_a = column, "columnspan"_a = span, "padx"_a = padx,
                       "pady"_a = pady, "sticky"_a = sticky);
    return panel;
  };
  p.top_panel = outer(0, 0, 2, py::make_tuple(10, 5), py::make_tuple(10, 5), "nsew");
  p.buyer_panel = outer(1, 0, 1, py::make_tuple(10, 5), py::make_tuple(5, 0), "nsew");
  p.output_panel = outer(1, 1, 1, py::make_tuple(0, 10), py::make_tuple(5, 0), "nsew");
  p.item_panel = outer(2, 0, 2, py::make_tuple(10, 10), py::make_tuple(5, 0), "ew");
  p.total_panel = outer(3, 0, 2, py::make_tuple(10, 10), py::make_tuple(5, 10), "ew");

  auto inner = [&](py::handle parent, py::dict options, const char* sticky) {
    py::object panel = frame(parent, options);
    panel.attr("grid")("row"_a = 0, "column"_a = 0, "sticky"_a = sticky);
    return panel;
  };
  p.item_frame = inner(p.item_panel, py::dict("width"_a = 700, "height"_a = 300), "new");
  py::object buyer_backdrop = inner(p.buyer_panel, py::dict("width"_a = 395, "height"_a = 100), "new");
  p.buyer_frame =
      frame(buyer_backdrop, py::dict("width"_a = 395, "height"_a = 100, "fg_color"_a = "transparent"));
  p.buyer_frame.attr("place")("x"_a = 10, "y"_a = 10);
  inner(p.output_panel, py::dict("width"_a = 300, "height"_a = 100), "new");  // the output backdrop
  p.total_backdrop = inner(p.total_panel, py::dict("width"_a = 700, "height"_a = 100), "new");
  p.logo_bar = inner(p.top_panel, py::dict("height"_a = 10, "fg_color"_a = "transparent"), "nsew");
  p.tool_bar = frame(p.top_panel, py::dict("height"_a = 10, "fg_color"_a = "transparent"));
  p.tool_bar.attr("grid")("row"_a = 0, "column"_a = 1, "sticky"_a = "nsew");
  return p;
}

// The two logo pictures and the product title; a missing picture skips the rest.
void build_logo_bar(py::handle logo_bar) {
  auto picture = [&](const char* file, int width, int height) {
    py::str path = platform::resource_path(file);
    return ctk().attr("CTkImage")("light_image"_a = receiptora_py::read_picture(global("Image"), path),
                                  "dark_image"_a = receiptora_py::read_picture(global("Image"), path),
                                  "size"_a = py::make_tuple(width, height));
  };
  auto logo_button = [&](py::handle image, int column, py::tuple padx) {
    ctk()
        .attr("CTkButton")(logo_bar, "image"_a = image, "text"_a = "", "state"_a = "disabled", "width"_a = 50,
                           "fg_color"_a = "transparent")
        .attr("grid")("row"_a = 0, "column"_a = column, "padx"_a = padx, "sticky"_a = "w");
  };
  py::object my_image = picture("logo.png", 50, 50);
  logo_button(my_image, 0, py::make_tuple(0, 5));
  py::object lettering = picture("logo(僅文字).png", 120, 30);
  logo_button(lettering, 1, py::make_tuple(0, 15));
  ctk()
      .attr("CTkLabel")(logo_bar, "text"_a = "Receiptora軟體", "font"_a = font(20))
      .attr("grid")("row"_a = 0, "column"_a = 2, "sticky"_a = "nsew");
}

// The grand-total caption on a transparent bar over the total backdrop, in the same grid cell.
void build_total_bar(WindowState& s, Panels& p) {
  p.total_bar = frame(p.total_panel, py::dict("fg_color"_a = "transparent"));
  p.total_bar.attr("grid")("row"_a = 0, "column"_a = 0, "pady"_a = py::make_tuple(0, 5));
  py::object tkinter = global("tkinter");
  s.grand_total_text = tkinter.attr("StringVar")();
  s.grand_total_text.attr("set")("總額0元");
  tkinter
      .attr("Label")(p.total_bar, "textvariable"_a = s.grand_total_text, "bg"_a = "#2b2b2b", "fg"_a = "white",
                     "font"_a = font(30))
      .attr("grid")("row"_a = 0, "column"_a = 0, "sticky"_a = "nsew");
}

void build_tables(WindowState& s, Panels& p) {
  s.item_table = global("Entry_Table")(p.item_frame);
  s.item_table.attr("add_entry_name")("商品名稱", 200);
  s.item_table.attr("add_entry_name")("商品數量", 100);
  s.item_table.attr("add_entry_name")("商品單價", 100);
  s.item_table.attr("add_entry_name")("商品總額", 200, "state"_a = "disabled");
  s.item_table.attr("add_table")(7);

  s.buyer_fields = global("Set_Table")(p.buyer_frame);
  py::object buyer = s.buyer_fields.attr("add_entry_name")("買受人");
  s.buyer_fields.attr("add_entry_name")("統一編號");
  buyer.attr("focus_set")();  // the operator types the buyer first, without a click
}

void build_buttons(const State& state, Panels& p) {
  WindowState& s = *state;
  py::object button_event_001 = make_output_request(state);
  py::object button_event_003 = make_open_output_folder();
  py::object button_event_004 = make_date_window(state);
  py::object button_event_005 = global("try_except_log")(make_open_help_page());

  py::object add_button = s.buttons.attr("add_button");
  add_button(p.output_panel, "button_name"_a = "輸出單據", "text"_a = "輸出單據",
             "button_event"_a = button_event_001, "size"_a = py::make_tuple(25, 25), "padx"_a = 50,
             "pady"_a = 10, "sticky"_a = "", "width"_a = 140);
  auto picture_button = [&](const char* file, py::handle event, int left, int right) {
    add_button(p.tool_bar, "image_path"_a = platform::resource_path(file), "button_event"_a = event,
               "size"_a = py::make_tuple(25, 25), "padx"_a = py::make_tuple(left, right), "row"_a = 0,
               "column"_a = 0, "fg_color"_a = "transparent");
  };
  // One shared cell; equal total padding (233) keeps them 50 px apart, help leftmost.
  picture_button("資料夾.png", button_event_003, 178, 55);
  picture_button("日曆001.png", button_event_004, 128, 105);
  picture_button("問號001.png", button_event_005, 78, 155);
}

void build_options(const State& state, Panels& p) {
  WindowState& s = *state;
  s.parameters_record = global("Parameters")();

  s.date_switch = ctk().attr("StringVar")("value"_a = "on");
  py::object switch_event_001 = make_date_toggle(state);
  ctk()
      .attr("CTkSwitch")(p.output_panel, "text"_a = "日期", "command"_a = switch_event_001,
                         "variable"_a = s.date_switch, "onvalue"_a = "on", "offvalue"_a = "off",
                         "bg_color"_a = "#2b2b2b",
                         "font"_a = ctk().attr("CTkFont")("family"_a = kFontFamily, "weight"_a = "bold"))
      .attr("grid")("row"_a = 0, "column"_a = 0, "padx"_a = py::make_tuple(5, 0),
                    "pady"_a = py::make_tuple(5, 65), "sticky"_a = "w");
  switch_event_001();  // the record agrees with the switch before any event

  s.template_menu = kit_class("CTkOptionMenu")(
      p.tool_bar, "font"_a = font(13), "width"_a = 200, "height"_a = 20, "dynamic_resizing"_a = false,
      "values"_a = s.parameters_record.attr("parameters")["格式列表"]);
  s.template_menu.attr("grid")("row"_a = 1, "column"_a = 0, "padx"_a = py::make_tuple(70, 5),
                               "pady"_a = py::make_tuple(5, 0), "sticky"_a = "nsew");

  auto checkbox = [&](const char* text, py::handle command, py::handle variable, py::tuple pady) {
    ctk()
        .attr("CTkCheckBox")(p.total_bar, "text"_a = text, "command"_a = command, "variable"_a = variable,
                             "onvalue"_a = "on", "offvalue"_a = "off", "bg_color"_a = "#2b2b2b")
        .attr("grid")("row"_a = 0, "column"_a = 0, "padx"_a = py::make_tuple(550, 5), "pady"_a = pady);
  };
  py::object checkbox_event_1 = make_exemption_stamp_toggle(state);
  // Created false: neither "on" nor "off", so the box starts unchecked.
  s.exemption_stamp_box = ctk().attr("StringVar")("value"_a = false);
  checkbox("免用統一發票章", checkbox_event_1, s.exemption_stamp_box, py::make_tuple(0, 30));
  py::object checkbox_event_2 = make_owner_seal_toggle(state);
  s.owner_seal_box = ctk().attr("StringVar")("value"_a = false);
  checkbox("負責人章\u3000\u3000\u3000", checkbox_event_2, s.owner_seal_box, py::make_tuple(30, 0));
}

}  // namespace

void build_window(const State& state) {
  WindowState& s = *state;
  build_root(s);
  Panels panels = build_panels(s);
  print_and_go_on([&] { build_logo_bar(panels.logo_bar); });
  build_total_bar(s, panels);
  build_tables(s, panels);
  build_buttons(state, panels);
  build_options(state, panels);
  // The finished window laid out and drawn at its size once, before the event loop: Tk's idle
  // work (ttk's theme set-up included) is done while the window surely exists.
  s.main_window.attr("update_idletasks")();
}

}  // namespace gui
