// Python text and integers <-> the core's UTF-32 text and GMP integers.
#pragma once

#include <Python.h>
#include <pybind11/pybind11.h>

#include <gmpxx.h>

#include <memory>
#include <string>
#include <vector>

#include "receiptora/whole_number.hpp"

namespace receiptora_py {

namespace py = pybind11;

// The code points of a str, lone surrogates included (they are simply no digits).
inline std::u32string to_u32(py::handle text) {
  if (!PyUnicode_Check(text.ptr())) throw py::type_error("expected str");
  const Py_ssize_t length = PyUnicode_GetLength(text.ptr());
  std::u32string out(static_cast<size_t>(length), U'\0');
  if (length > 0 && !PyUnicode_AsUCS4(text.ptr(), reinterpret_cast<Py_UCS4*>(out.data()), length, 0)) {
    throw py::error_already_set();
  }
  return out;
}

// Every text of an iterable of str, in order.
inline std::vector<std::u32string> to_u32_texts(py::handle texts) {
  std::vector<std::u32string> out;
  if (PyList_Check(texts.ptr()) || PyTuple_Check(texts.ptr())) out.reserve(py::len(texts));
  for (py::handle text : texts) out.push_back(to_u32(text));
  return out;
}

inline py::str to_str(std::u32string_view text) {
  PyObject* s =
      PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, text.data(), static_cast<Py_ssize_t>(text.size()));
  if (!s) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(s);
}

// A Python int of any size, built from bytes so Python's limit on decimal
// conversions (4300 digits) never applies.
inline py::int_ to_int(const mpz_class& value) {
  if (value.fits_slong_p()) return py::reinterpret_steal<py::int_>(PyLong_FromLong(value.get_si()));
  const std::string bytes = receiptora::magnitude_bytes_le(value);
  PyObject* magnitude =
      _PyLong_FromByteArray(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), 1, 0);
  if (!magnitude) throw py::error_already_set();
  auto result = py::reinterpret_steal<py::int_>(magnitude);
  if (value < 0) {
    PyObject* negated = PyNumber_Negative(magnitude);
    if (!negated) throw py::error_already_set();
    result = py::reinterpret_steal<py::int_>(negated);
  }
  return result;
}

// The Python int as a GMP integer, again through bytes.
inline mpz_class to_mpz(py::handle value) {
  PyObject* obj = value.ptr();
  if (!PyLong_Check(obj)) throw py::type_error("expected int");
  const int sign = _PyLong_Sign(obj);
  if (sign == 0) return 0;
  // int's own absolute value: an int subclass may override __abs__ to return anything.
  py::int_ magnitude = py::reinterpret_steal<py::int_>(PyLong_Type.tp_as_number->nb_absolute(obj));
  if (!magnitude) throw py::error_already_set();
  const size_t bits = _PyLong_NumBits(magnitude.ptr());
  const size_t count = bits / 8 + 1;
  std::string buffer(count, '\0');
  if (_PyLong_AsByteArray(reinterpret_cast<PyLongObject*>(magnitude.ptr()),
                          reinterpret_cast<unsigned char*>(buffer.data()), count, 1, 0) < 0) {
    throw py::error_already_set();
  }
  mpz_class out;
  mpz_import(out.get_mpz_t(), count, -1, 1, 0, 0, buffer.data());
  if (sign < 0) out = -out;
  return out;
}

}  // namespace receiptora_py
