#include "module_names.hpp"
#include "registration.hpp"

namespace gui {

void bind_imports() {
  set_global("os", py::module_::import("os"));
  set_global("tkinter", py::module_::import("tkinter"));
  set_global("customtkinter", py::module_::import("customtkinter"));
  set_global("webbrowser", py::module_::import("webbrowser"));
  set_global("datetime", py::module_::import("datetime"));
  set_global("Image", py::module_::import("PIL.Image"));  // from PIL import Image
  set_global("subprocess", py::module_::import("subprocess"));
  set_global("messagebox", py::module_::import("tkinter.messagebox"));

  py::object quillmarkers = py::module_::import("quillmarkers_model");
  set_global("quillmarkers", quillmarkers);
  py::object kit = quillmarkers.attr("Customtkinter_Model")();
  set_global("customtkinter_model", kit);
  set_global("Set_Table", kit.attr("Set_Table"));
  set_global("Set_Button", kit.attr("Set_Button"));
  set_global("CTkCalendar", kit.attr("CTkCalendar"));
  py::object log = quillmarkers.attr("Try_Except_Model")();
  set_global("try_except", log);
  set_global("try_except_log", log.attr("try_except_log"));
}

}  // namespace gui
