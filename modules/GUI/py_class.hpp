// Building Python classes whose methods are C++ functions.
#pragma once

#include <pybind11/pybind11.h>

#include <utility>

namespace gui {

namespace py = pybind11;

// A C++ callable as a function that binds as a method (receives self) when placed in a class.
// Never name it "__init__": pybind11 takes a function of that name for one of its own constructors.
template <class F>
py::object method(F&& f, const char* name) {
  py::cpp_function function(std::forward<F>(f), py::name(name));
  PyObject* bound = PyInstanceMethod_New(function.ptr());
  if (!bound) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(bound);
}

// type(name, bases, namespace) with __module__ "GUI".
inline py::object make_class(const char* name, py::tuple bases, py::dict namespace_) {
  namespace_["__module__"] = "GUI";
  namespace_["__qualname__"] = name;
  return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type))(name, bases,
                                                                                       namespace_);
}

}  // namespace gui
