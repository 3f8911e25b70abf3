// A class option for pybind11 classes that hold Python objects in C++ members, shared by the
// widget kit and the receipt worker.
#pragma once

#include <pybind11/pybind11.h>

namespace receiptora_py {

namespace py = pybind11;

// Python's cycle collector cannot see Python objects held in C++ members, so a cycle through
// one (a button whose command refers back to the Set_Button that owns it) would never be
// freed. This class option makes such members visible: T::visit(f) calls f(py::handle) for
// each of them and T::clear() drops them. HasDict: the class is py::dynamic_attr().
template <class T, bool HasDict = false>
py::custom_type_setup collectable() {
  return py::custom_type_setup([](PyHeapTypeObject* heap_type) {
    PyTypeObject* type = &heap_type->ht_type;
    type->tp_flags |= Py_TPFLAGS_HAVE_GC;
    type->tp_traverse = [](PyObject* self, visitproc visit, void* arg) -> int {
      if constexpr (HasDict) {
        if (int result = py::detail::pybind11_traverse(self, visit, arg)) return result;
      } else {
        Py_VISIT(Py_TYPE(self));
      }
      if (!py::detail::is_holder_constructed(self)) return 0;
      int result = 0;
      py::cast<T&>(py::handle(self)).visit([&](py::handle member) {
        if (result == 0 && member.ptr() != nullptr) result = visit(member.ptr(), arg);
      });
      return result;
    };
    type->tp_clear = [](PyObject* self) -> int {
      if constexpr (HasDict) py::detail::pybind11_clear(self);
      if (py::detail::is_holder_constructed(self)) py::cast<T&>(py::handle(self)).clear();
      return 0;
    };
  });
}

}  // namespace receiptora_py
