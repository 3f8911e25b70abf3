// The one-line display form of a value, as Python's repr() writes it but with integers of any
// length written in full (repr refuses ints past 4300 digits): the printed request line, and
// a request's note in the error log.
#pragma once

#include <Python.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <string>

#include "receiptora/whole_number.hpp"
#include "receiptora_py/convert.hpp"
#include "receiptora_py/guards.hpp"

namespace receiptora_py {

namespace py = pybind11;

namespace display_detail {

// Dictionaries and lists are walked (exactly those types; a subclass may repr itself
// otherwise), ints written through GMP, anything else by its repr(). With a limit, the walk
// stops once the text is longer, a long str is cut before its repr is made, and a value whose
// repr() fails is named by its type instead.
inline void append(std::string& out, py::handle value, std::optional<size_t> limit) {
  if (limit && out.size() > *limit) return;
  PyObject* obj = value.ptr();
  if (PyDict_CheckExact(obj)) {
    out += '{';
    bool first = true;
    for (auto item : py::reinterpret_borrow<py::dict>(value)) {
      if (!first) out += ", ";
      first = false;
      append(out, item.first, limit);
      out += ": ";
      append(out, item.second, limit);
    }
    out += '}';
  } else if (PyList_CheckExact(obj)) {
    out += '[';
    const py::list list = py::reinterpret_borrow<py::list>(value);
    for (size_t i = 0; i < list.size(); ++i) {
      if (i) out += ", ";
      append(out, list[i], limit);
    }
    out += ']';
  } else if (PyLong_CheckExact(obj)) {
    out += receiptora::decimal_text(to_mpz(value));
  } else if (!limit) {
    out += py::repr(value).cast<std::string>();
  } else {
    std::string shown = "<" + std::string(Py_TYPE(obj)->tp_name) + " without repr>";
    silently([&] {
      if (PyUnicode_Check(obj) && PyUnicode_GetLength(obj) > static_cast<Py_ssize_t>(*limit)) {
        shown = py::repr(value[py::slice(0, static_cast<Py_ssize_t>(*limit), 1)]).cast<std::string>() + "…";
      } else {
        shown = py::repr(value).cast<std::string>();
      }
    });
    out += shown;
  }
}

}  // namespace display_detail

// The whole display form; an error of a repr() propagates.
inline std::string display_form(py::handle value) {
  std::string out;
  display_detail::append(out, value, std::nullopt);
  return out;
}

// The display form cut to about `limit` bytes (at a whole character), saying how long it was.
inline std::string display_form(py::handle value, size_t limit) {
  std::string out;
  display_detail::append(out, value, limit);
  if (out.size() > limit) {
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;  // whole characters
    out = out.substr(0, cut) + "… (cut; " + std::to_string(out.size()) + " bytes in all)";
  }
  return out;
}

}  // namespace receiptora_py
