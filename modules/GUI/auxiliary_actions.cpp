// The picture buttons that open something outside the window: the output folder and the
// help page (the date window is in chosen_day.cpp).
#include "guards.hpp"
#include "module_names.hpp"
#include "platform.hpp"
#include "window_state.hpp"

namespace gui {

using namespace pybind11::literals;

py::object make_open_output_folder() {
  return py::cpp_function([] { platform::open_output_folder(); });
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
