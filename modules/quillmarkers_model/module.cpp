// quillmarkers_model: the widget kit (Customtkinter_Model) and the error log (Try_Except_Model).
#include <string>

#include "kit.hpp"
#include "receiptora_py/errors.hpp"
#include "receiptora_py/main_interpreter.hpp"
#include "window_guards.hpp"

namespace {

namespace py = pybind11;

// The kit object: its attributes are the widget classes.
struct CustomtkinterModel {};

}  // namespace

// Loaded only into the main interpreter (see main_interpreter.hpp).
#define PyInit_quillmarkers_model pybind11_entry_point
PYBIND11_MODULE(quillmarkers_model, m) {
  m.doc() = "Receiptora's widget kit on customtkinter, and its error log";
  receiptora_py::use_error_policy_in_this_module();
  quillmarkers::register_error_log(m);
  quillmarkers::register_set_button(m);
  quillmarkers::register_set_table(m);
  quillmarkers::register_entry_table(m);
  quillmarkers::register_calendar(m);
  quillmarkers::register_suggestions(m);
  quillmarkers::register_window_guards(m);
  // The worker and the batch issue render receipts: they live in receiptora._worker, imported
  // when first asked for, so the window alone loads no renderer library.
  m.def(
      "__getattr__",
      [](const std::string& name) -> py::object {
        if (name == "Receipt_Worker" || name == "issue_receipts")
          return py::module_::import("receiptora._worker").attr(name.c_str());
        throw py::attribute_error("module 'quillmarkers_model' has no attribute '" + name + "'");
      },
      py::arg("name"));

  py::class_<CustomtkinterModel> kit(m, "Customtkinter_Model",
                                     "The widget kit: its attributes are the widget classes.");
  kit.def(py::init<>());
  for (const char* name : {"Set_Button", "Set_Table", "Entry_Table", "CTkCalendar"})
    kit.attr(name) = m.attr(name);
  // customtkinter's classes built with their final options once; made (and customtkinter
  // imported) on first use, so a process without a window never imports the toolkit.
  kit.def_property_readonly_static("CTkFrame", [](py::handle) { return quillmarkers::kit_frame_class(); });
  kit.def_property_readonly_static("CTkOptionMenu",
                                   [](py::handle) { return quillmarkers::kit_option_menu_class(); });
}
#undef PyInit_quillmarkers_model

extern "C" PYBIND11_EXPORT PyObject* PyInit_quillmarkers_model() {
  return receiptora_py::in_main_interpreter("quillmarkers_model", pybind11_entry_point);
}
