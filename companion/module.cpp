// quillmarkers_model: the widget kit (Customtkinter_Model) and the error log (Try_Except_Model).
#include "kit.hpp"
#include "worker.hpp"

namespace {

namespace py = pybind11;

// The kit object: its attributes are the widget classes.
struct CustomtkinterModel {};

}  // namespace

// pybind11 sets itself up through PyGILState_Ensure, which in a sub-interpreter of Python 3.11
// waits for ever on the main interpreter's thread state. The entry point pybind11 generates is
// therefore renamed, and the real one below refuses every interpreter but the main one first.
#define PyInit_quillmarkers_model init_in_main_interpreter
PYBIND11_MODULE(quillmarkers_model, m) {
  m.doc() = "Receiptora's widget kit on customtkinter, and its error log";
  quillmarkers::register_error_log(m);
  quillmarkers::register_set_button(m);
  quillmarkers::register_set_table(m);
  quillmarkers::register_entry_table(m);
  quillmarkers::register_calendar(m);
  quillmarkers::register_worker(m);

  py::class_<CustomtkinterModel> kit(m, "Customtkinter_Model",
                                     "The widget kit: its attributes are the widget classes.");
  kit.def(py::init<>());
  for (const char* name : {"Set_Button", "Set_Table", "Entry_Table", "CTkCalendar"})
    kit.attr(name) = m.attr(name);
}
#undef PyInit_quillmarkers_model

extern "C" PYBIND11_EXPORT PyObject* PyInit_quillmarkers_model() {
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    PyErr_SetString(PyExc_ImportError,
                    "quillmarkers_model can only be loaded into the main interpreter of the process.");
    return nullptr;
  }
  return init_in_main_interpreter();
}
