// The picture buttons: open the output folder, the date window, the help page.
#include "guards.hpp"
#include "module_names.hpp"
#include "platform.hpp"
#include "receiptora/captions.hpp"
#include "window_state.hpp"

namespace gui {

using namespace pybind11::literals;

py::object make_open_output_folder() {
  return py::cpp_function([] { platform::open_output_folder(); });
}

py::object make_date_window(const State& state) {
  return py::cpp_function([state] {
    py::object setting_window = global("customtkinter").attr(name("CTkToplevel"))();
    py::str icon = platform::resource_path("logo.ico");
    setting_window.attr(name("after"))(
        250, py::cpp_function([setting_window, icon] { platform::set_window_icon(setting_window, icon); }));
    setting_window.attr(name("attributes"))("-topmost", true);
    // In front once, then an ordinary window.
    setting_window.attr(name("after"))(100, py::cpp_function([setting_window] {
                                         setting_window.attr(name("attributes"))("-topmost", false);
                                       }));
    setting_window.attr(name("title"))("日期");
    setting_window.attr(name("geometry"))("250x250");
    py::object calendar = global("CTkCalendar")(setting_window, "calendar_button"_a = true);
    set_global("calendar", calendar);
    calendar.attr(name("grid"))("row"_a = 0, "column"_a = 0, "sticky"_a = "new");
    py::str key(day_key_of(state->PP.attr(name("parameters"))));
    calendar.attr(name("data"))[name("日曆按鈕")][key].attr(name("configure"))("fg_color"_a =
                                                                                   name("#3B8ED0"));
  });
}

py::object make_open_help_page() {
  return py::cpp_function(
      [] {
        py::object open = global("webbrowser").attr(name("open"));
        bool opened = false;
        silently([&] {
          open(platform::kHelpPageSecure);
          opened = true;
        });
        if (!opened) open(platform::kHelpPagePlain);  // its failure goes to the error log
      },
      py::name("button_event_005"));
}

}  // namespace gui
