// GUI(Queue_All_variable, Event_All_variable): builds the main window, runs its event loop
// and tells the receipt worker to finish when the operator closes it.
#include <Python.h>

#include "guards.hpp"
#include "module_names.hpp"
#include "platform.hpp"
#include "registration.hpp"
#include "window_state.hpp"

namespace gui {

namespace {

using namespace pybind11::literals;

constexpr const char* kFontFamily = "Microsoft JhengHei";

py::object ctk() { return global("customtkinter"); }

py::object font(int size) {
  return ctk().attr(name("CTkFont"))("family"_a = kFontFamily, "size"_a = size, "weight"_a = "bold");
}

py::object frame(py::handle parent, const py::dict& options) {
  return ctk().attr(name("CTkFrame"))(parent, **options);
}

// Prints an error of a guarded block as one line on standard output, and goes on.
template <class F>
void print_and_go_on(F&& block) {
  on_exception(std::forward<F>(block), [](py::handle error) { py::print(error); });
}

void build_root(WindowState& s) {
  s.app = ctk().attr(name("CTk"))();
  s.app.attr(name("title"))("Receiptora軟體");
  for (int column : {0, 1, 2}) s.app.attr(name("grid_columnconfigure"))(column, "weight"_a = 1);
  s.app.attr(name("resizable"))(false, false);
  print_and_go_on([&] { platform::set_window_icon(s.app, platform::resource_path("logo.ico")); });
}

// The outer panels FF, AA, BB, DD, EE on the root grid, then the inner panels.
struct Panels {
  py::object FF, AA, BB, DD, EE;
  py::list frame;
};

Panels build_panels(WindowState& s) {
  Panels p;
  auto outer = [&](int row, int column, int span, py::tuple padx, py::tuple pady, const char* sticky) {
    py::object panel = frame(s.app, py::dict("fg_color"_a = "transparent"));
    panel.attr(name("grid"))("row"_a = row, "column"_a = column, "columnspan"_a = span, "padx"_a = padx,
                             "pady"_a = pady, "sticky"_a = sticky);
    return panel;
  };
  p.FF = outer(0, 0, 2, py::make_tuple(10, 5), py::make_tuple(10, 5), "nsew");
  p.AA = outer(1, 0, 1, py::make_tuple(10, 5), py::make_tuple(5, 0), "nsew");
  p.BB = outer(1, 1, 1, py::make_tuple(0, 10), py::make_tuple(5, 0), "nsew");
  p.DD = outer(2, 0, 2, py::make_tuple(10, 10), py::make_tuple(5, 0), "ew");
  p.EE = outer(3, 0, 2, py::make_tuple(10, 10), py::make_tuple(5, 10), "ew");

  for (int i = 0; i < 7; ++i) p.frame.append(py::none());
  auto inner = [&](int index, py::handle parent, py::dict options) {
    p.frame[py::int_(index)] = frame(parent, options);
    return p.frame[py::int_(index)].cast<py::object>();
  };
  inner(0, p.DD, py::dict("width"_a = 700, "height"_a = 300))
      .attr(name("grid"))("row"_a = 0, "column"_a = 0, "sticky"_a = "new");
  py::object buyer = inner(1, p.AA, py::dict("width"_a = 395, "height"_a = 100));
  buyer.attr(name("grid"))("row"_a = 0, "column"_a = 0, "sticky"_a = "new");
  inner(5, buyer, py::dict("width"_a = 395, "height"_a = 100, "fg_color"_a = "transparent"))
      .attr(name("place"))("x"_a = 10, "y"_a = 10);
  inner(2, p.BB, py::dict("width"_a = 300, "height"_a = 100))
      .attr(name("grid"))("row"_a = 0, "column"_a = 0, "sticky"_a = "new");
  inner(3, p.EE, py::dict("width"_a = 700, "height"_a = 100))
      .attr(name("grid"))("row"_a = 0, "column"_a = 0, "sticky"_a = "new");
  inner(4, p.FF, py::dict("height"_a = 10, "fg_color"_a = "transparent"))
      .attr(name("grid"))("row"_a = 0, "column"_a = 0, "sticky"_a = "nsew");
  inner(6, p.FF, py::dict("height"_a = 10, "fg_color"_a = "transparent"))
      .attr(name("grid"))("row"_a = 0, "column"_a = 1, "sticky"_a = "nsew");
  return p;
}

// The two logo pictures and the product title; a missing picture skips the rest.
void build_logo_bar(py::handle logo_bar) {
  // Read the picture whole and close its file, so no handle stays open per window.
  auto open_picture = [](const py::str& path) {
    py::object opened = global("Image").attr(name("open"))(path);
    py::object loaded;
    try {
      loaded = opened.attr(name("copy"))();
    } catch (py::error_already_set&) {
      opened.attr(name("close"))();
      throw;
    }
    opened.attr(name("close"))();
    return loaded;
  };
  auto picture = [&](const char* file, int width, int height) {
    py::str path = platform::resource_path(file);
    return ctk().attr(name("CTkImage"))("light_image"_a = open_picture(path),
                                        "dark_image"_a = open_picture(path),
                                        "size"_a = py::make_tuple(width, height));
  };
  auto logo_button = [&](py::handle image, int column, py::tuple padx) {
    ctk()
        .attr(name("CTkButton"))(logo_bar, "image"_a = image, "text"_a = "", "state"_a = "disabled",
                                 "width"_a = 50, "fg_color"_a = "transparent")
        .attr(name("grid"))("row"_a = 0, "column"_a = column, "padx"_a = padx, "sticky"_a = "w");
  };
  py::object my_image = picture("logo.png", 50, 50);
  logo_button(my_image, 0, py::make_tuple(0, 5));
  py::object lettering = picture("logo(僅文字).png", 120, 30);
  logo_button(lettering, 1, py::make_tuple(0, 15));
  ctk()
      .attr(name("CTkLabel"))(logo_bar, "text"_a = "Receiptora軟體", "font"_a = font(20))
      .attr(name("grid"))("row"_a = 0, "column"_a = 2, "sticky"_a = "nsew");
}

void build_bottom_bar(WindowState& s, Panels& p) {
  py::object content = frame(p.EE, py::dict("fg_color"_a = "transparent"));
  p.frame[py::int_(3)] = content;  // the bottom content frame takes index 3 over
  content.attr(name("grid"))("row"_a = 0, "column"_a = 0, "pady"_a = py::make_tuple(0, 5));
  py::object tkinter = global("tkinter");
  s.mylabel_time_text = tkinter.attr(name("StringVar"))();
  s.mylabel_time_text.attr(name("set"))("總額0元");
  tkinter
      .attr(name("Label"))(content, "textvariable"_a = s.mylabel_time_text, "bg"_a = "#2b2b2b",
                           "fg"_a = "white", "font"_a = font(30))
      .attr(name("grid"))("row"_a = 0, "column"_a = 0, "sticky"_a = "nsew");
}

void build_tables(WindowState& s, Panels& p) {
  s.entry_table = global("Entry_Table")(p.frame[py::int_(0)]);
  s.entry_table.attr(name("add_entry_name"))("商品名稱", 200);
  s.entry_table.attr(name("add_entry_name"))("商品數量", 100);
  s.entry_table.attr(name("add_entry_name"))("商品單價", 100);
  s.entry_table.attr(name("add_entry_name"))("商品總額", 200, "state"_a = "disabled");
  s.entry_table.attr(name("add_table"))(7);

  s.set_table = global("Set_Table")(p.frame[py::int_(5)]);
  s.set_table.attr(name("add_entry_name"))("買受人");
  s.set_table.attr(name("add_entry_name"))("統一編號");
}

void build_buttons(const State& state, Panels& p) {
  WindowState& s = *state;
  py::object button_event_001 = make_output_request(state);
  py::object button_event_003 = make_open_output_folder();
  py::object button_event_004 = make_date_window(state);
  py::object button_event_005 = global("try_except_log")(make_open_help_page());

  py::object add_button = s.set_button.attr(name("add_button"));
  add_button(p.BB, "button_name"_a = "輸出單據", "text"_a = "輸出單據", "button_event"_a = button_event_001,
             "size"_a = py::make_tuple(25, 25), "padx"_a = 50, "pady"_a = 10, "sticky"_a = "",
             "width"_a = 140);
  py::object tool_bar = p.frame[py::int_(6)];
  auto picture_button = [&](const char* file, py::handle event, int left, int right) {
    add_button(tool_bar, "image_path"_a = platform::resource_path(file), "button_event"_a = event,
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
  s.PP = global("Parameters")();

  s.switch_var_001 = ctk().attr(name("StringVar"))("value"_a = "on");
  py::object switch_event_001 = make_switch_event(state);
  ctk()
      .attr(name("CTkSwitch"))(
          p.BB, "text"_a = "日期", "command"_a = switch_event_001, "variable"_a = s.switch_var_001,
          "onvalue"_a = "on", "offvalue"_a = "off", "bg_color"_a = "#2b2b2b",
          "font"_a = ctk().attr(name("CTkFont"))("family"_a = kFontFamily, "weight"_a = "bold"))
      .attr(name("grid"))("row"_a = 0, "column"_a = 0, "padx"_a = py::make_tuple(5, 0),
                          "pady"_a = py::make_tuple(5, 65), "sticky"_a = "w");
  switch_event_001();  // the record agrees with the switch before any event

  s.optionmenu_001 = ctk().attr(name("CTkOptionMenu"))(
      p.frame[py::int_(6)], "font"_a = font(13), "width"_a = 200, "height"_a = 20,
      "dynamic_resizing"_a = false, "values"_a = s.PP.attr(name("parameters"))[name("格式列表")]);
  s.optionmenu_001.attr(name("grid"))("row"_a = 1, "column"_a = 0, "padx"_a = py::make_tuple(70, 5),
                                      "pady"_a = py::make_tuple(5, 0), "sticky"_a = "nsew");

  py::object content = p.frame[py::int_(3)];
  auto checkbox = [&](const char* text, py::handle command, py::handle variable, py::tuple pady) {
    ctk()
        .attr(name("CTkCheckBox"))(content, "text"_a = text, "command"_a = command, "variable"_a = variable,
                                   "onvalue"_a = "on", "offvalue"_a = "off", "bg_color"_a = "#2b2b2b")
        .attr(name("grid"))("row"_a = 0, "column"_a = 0, "padx"_a = py::make_tuple(550, 5), "pady"_a = pady);
  };
  py::object checkbox_event_1 = make_checkbox_event_1(state);
  // Created false: neither "on" nor "off", so the box starts unchecked.
  s.check_var_1 = ctk().attr(name("StringVar"))("value"_a = false);
  checkbox("免用統一發票章", checkbox_event_1, s.check_var_1, py::make_tuple(0, 30));
  py::object checkbox_event_2 = make_checkbox_event_2(state);
  s.check_var_2 = ctk().attr(name("StringVar"))("value"_a = false);
  checkbox("負責人章\u3000\u3000\u3000", checkbox_event_2, s.check_var_2, py::make_tuple(30, 0));
}

// customtkinter keeps every window it has seen in class-level registries, so a closed
// window (with its Tcl interpreter) would otherwise live as long as the process. Its
// pending timers (the next refresh tick among them) are cancelled too: Tcl runs the timers
// of every interpreter of the thread, so they would fire inside the next window's loop.
void forget_closed_window(py::handle app) {
  try {
    py::object tcl = app.attr(name("tk"));
    for (py::handle id : tcl.attr(name("splitlist"))(tcl.attr(name("call"))("after", "info")))
      tcl.attr(name("call"))("after", "cancel", id);
  } catch (py::error_already_set&) {
  }
  try {
    py::list apps = ctk().attr(name("AppearanceModeTracker")).attr(name("app_list"));
    while (apps.contains(app)) apps.attr(name("remove"))(app);
    py::dict scaling = ctk().attr(name("ScalingTracker")).attr(name("window_dpi_scaling_dict"));
    py::object interpreter = app.attr(name("tk"));
    for (py::handle window : py::list(scaling.attr(name("keys"))())) {
      if (py::object(window.attr(name("tk"))).is(interpreter)) PyDict_DelItem(scaling.ptr(), window.ptr());
    }
  } catch (py::error_already_set&) {
    // Only memory is at stake; the window itself is closed already.
  }
}

void run_window(const State& state) {
  WindowState& s = *state;
  s.set_button = global("Set_Button")();
  ctk().attr(name("set_appearance_mode"))("dark");
  ctk().attr(name("set_default_color_theme"))("blue");
  platform::quiet_toolkit_polls();
  build_root(s);
  Panels panels = build_panels(s);
  print_and_go_on([&] { build_logo_bar(panels.frame[py::int_(4)]); });
  build_bottom_bar(s, panels);
  build_tables(s, panels);
  build_buttons(state, panels);
  build_options(state, panels);
  s.aa = global("try_except_log")(make_refresh(state));
  s.app.attr(name("after"))(500, s.aa);
  s.app.attr(name("mainloop"))();
  forget_closed_window(s.app);

  if (!standalone()) {
    s.Queue_All_variable[name("end")].attr(name("put"))(py::none());
    s.Event_All_variable[name("end")].attr(name("set"))();
    s.Queue_All_variable[name("get_receipt")].attr(name("put"))(py::none());
  }
}

// Python's own wording for a wrong call, before anything is built.
bool read_arguments(PyObject* args, PyObject* kwargs, PyObject* out[2]) {
  static const char* const names[2] = {"Queue_All_variable", "Event_All_variable"};
  const Py_ssize_t positional = PyTuple_GET_SIZE(args);
  Py_ssize_t given = positional;
  if (positional > 2) {
    PyErr_Format(PyExc_TypeError, "GUI() takes exactly 2 positional arguments (%zd given)", positional);
    return false;
  }
  out[0] = out[1] = nullptr;
  for (Py_ssize_t i = 0; i < positional; ++i) out[i] = PyTuple_GET_ITEM(args, i);
  if (kwargs) {
    PyObject *key, *value;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      int index = -1;
      for (int i = 0; i < 2; ++i)
        if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, names[i]) == 0) index = i;
      if (index < 0) {
        PyErr_Format(PyExc_TypeError, "GUI() got an unexpected keyword argument '%S'", key);
        return false;
      }
      if (out[index]) {
        PyErr_Format(PyExc_TypeError, "GUI() got multiple values for keyword argument '%s'", names[index]);
        return false;
      }
      out[index] = value;
      ++given;
    }
  }
  if (!out[0] || !out[1]) {
    PyErr_Format(PyExc_TypeError, "GUI() takes exactly 2 positional arguments (%zd given)", given);
    return false;
  }
  return true;
}

PyObject* entry_function(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* arguments[2];
  if (!read_arguments(args, kwargs, arguments)) return nullptr;
  auto state = std::make_shared<WindowState>();
  state->Queue_All_variable = py::reinterpret_borrow<py::object>(arguments[0]);
  state->Event_All_variable = py::reinterpret_borrow<py::object>(arguments[1]);
  try {
    run_window(state);
    state->release();
    Py_RETURN_NONE;
  } catch (py::error_already_set& e) {
    e.restore();
  } catch (py::builtin_exception& e) {
    e.set_error();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  }
  // A window whose start-up failed has no event loop: close it rather than leave it dead.
  if (state->app && !state->app.is_none()) {
    py::error_scope keep_error;
    try {
      state->app.attr(name("destroy"))();
    } catch (py::error_already_set&) {
    }
    forget_closed_window(state->app);
  }
  state->release();
  return nullptr;
}

PyMethodDef g_entry = {"GUI", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry_function)),
                       METH_VARARGS | METH_KEYWORDS, nullptr};

}  // namespace

void register_entry_function() {
  py::str module_name("GUI");
  PyObject* function = PyCFunction_NewEx(&g_entry, nullptr, module_name.ptr());
  if (!function) throw py::error_already_set();
  set_global("GUI", py::reinterpret_steal<py::object>(function));
}

}  // namespace gui
