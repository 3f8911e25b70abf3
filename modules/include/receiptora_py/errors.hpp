// The one error policy where C++ meets Python: the C++ exception being handled becomes the
// Python error it stands for.
#pragma once

#include <Python.h>
#include <pybind11/pybind11.h>

#include <exception>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>

namespace receiptora_py {

namespace py = pybind11;

// Call inside a catch block; afterwards the Python error is set:
//   a Python error carried by pybind11     restored as it is
//   pybind11's own exception types         their Python types (TypeError, KeyError, ...)
//   std::filesystem::filesystem_error      OSError with its errno and paths (so FileNotFoundError,
//                                          PermissionError, ... as Python's own file calls raise)
//   std::system_error of an errno          OSError with its errno
//   std::bad_alloc                         MemoryError
//   std::invalid_argument, domain_error,   ValueError (as pybind11 itself translates them)
//     length_error, range_error
//   std::out_of_range                      IndexError
//   std::overflow_error                    OverflowError
//   any other std::exception               RuntimeError with its message
//   anything else                          SystemError
// A Python error already pending when a C++ exception struck becomes the new error's cause.
namespace errors_detail {

// Sets OSError(errno, message[, filename[, None, filename2]]); OSError picks the subclass
// for the errno itself. False when the code is no errno.
inline bool set_os_error(const std::error_code& code, const char* message, const std::filesystem::path* first,
                         const std::filesystem::path* second) {
  if (code.category() != std::generic_category() && code.category() != std::system_category()) return false;
  py::object cause;
  if (PyErr_Occurred()) cause = py::error_already_set().value();
  try {
    py::list args;
    args.append(code.value());
    args.append(py::str(message));
    auto add_path = [&](const std::filesystem::path* path) {
      py::bytes raw(path->string());
      args.append(py::module_::import("os").attr("fsdecode")(raw));
    };
    if (first && !first->empty()) {
      add_path(first);
      if (second && !second->empty()) {
        args.append(py::none());  // winerror
        add_path(second);
      }
    }
    py::object error = py::reinterpret_borrow<py::object>(PyExc_OSError)(*py::tuple(args));
    if (cause) PyException_SetCause(error.ptr(), cause.release().ptr());
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
  } catch (py::error_already_set& failure) {
    failure.restore();  // building the OSError failed (no memory, say): that error it is
  }
  return true;
}

}  // namespace errors_detail

inline void set_python_error() noexcept {
  auto raise = [](PyObject* type, const char* message) {
    if (PyErr_Occurred()) {
      py::raise_from(type, message);
    } else {
      PyErr_SetString(type, message);
    }
  };
  try {
    throw;
  } catch (py::error_already_set& error) {
    error.restore();
  } catch (py::builtin_exception& error) {
    error.set_error();
  } catch (const std::filesystem::filesystem_error& error) {
    if (!errors_detail::set_os_error(error.code(), error.what(), &error.path1(), &error.path2()))
      raise(PyExc_RuntimeError, error.what());
  } catch (const std::system_error& error) {
    if (!errors_detail::set_os_error(error.code(), error.what(), nullptr, nullptr))
      raise(PyExc_RuntimeError, error.what());
  } catch (const std::bad_alloc& error) {
    raise(PyExc_MemoryError, error.what());
  } catch (const std::invalid_argument& error) {
    raise(PyExc_ValueError, error.what());
  } catch (const std::domain_error& error) {
    raise(PyExc_ValueError, error.what());
  } catch (const std::length_error& error) {
    raise(PyExc_ValueError, error.what());
  } catch (const std::out_of_range& error) {
    raise(PyExc_IndexError, error.what());
  } catch (const std::range_error& error) {
    raise(PyExc_ValueError, error.what());
  } catch (const std::overflow_error& error) {
    raise(PyExc_OverflowError, error.what());
  } catch (const std::exception& error) {
    raise(PyExc_RuntimeError, error.what());
  } catch (...) {
    raise(PyExc_SystemError, "an unknown C++ exception");
  }
}

// The handled C++ exception as a Python error object that can be inspected and rethrown.
inline py::error_already_set as_python_error() noexcept {
  set_python_error();
  return py::error_already_set();
}

// Makes this policy (or `SetError`, one that refines it: book_errors.hpp) the one pybind11
// applies when a C++ exception leaves a function of the calling extension module; call once
// while the module initialises.
template <void (*SetError)() noexcept = set_python_error>
inline void use_error_policy_in_this_module() {
  py::register_local_exception_translator([](std::exception_ptr error) {
    if (!error) return;
    try {
      std::rethrow_exception(error);
    } catch (...) {
      SetError();
    }
  });
}

}  // namespace receiptora_py
