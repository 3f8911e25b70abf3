#include "display_form.hpp"

#include "receiptora_py/convert.hpp"

namespace gui {

namespace py = pybind11;

namespace {

void append(std::string& out, py::handle value) {
  PyObject* obj = value.ptr();
  if (PyDict_CheckExact(obj)) {
    out += '{';
    bool first = true;
    for (auto item : py::reinterpret_borrow<py::dict>(value)) {
      if (!first) out += ", ";
      first = false;
      append(out, item.first);
      out += ": ";
      append(out, item.second);
    }
    out += '}';
  } else if (PyList_CheckExact(obj)) {
    out += '[';
    const Py_ssize_t n = PyList_GET_SIZE(obj);
    for (Py_ssize_t i = 0; i < n; ++i) {
      if (i) out += ", ";
      append(out, PyList_GET_ITEM(obj, i));
    }
    out += ']';
  } else if (PyLong_CheckExact(obj)) {
    out += receiptora::decimal_text(receiptora_py::to_mpz(value));
  } else {
    out += py::repr(value).cast<std::string>();
  }
}

}  // namespace

std::string display_form(py::handle value) {
  std::string out;
  append(out, value);
  return out;
}

}  // namespace gui
