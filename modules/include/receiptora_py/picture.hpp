// Reading a picture file through Pillow without keeping the file open.
#pragma once

#include <pybind11/pybind11.h>

namespace receiptora_py {

namespace py = pybind11;

// Opens path with image_module.open (PIL.Image, or a stand-in bound in its place), turns
// the opened image into a loaded one with load(opened) and closes the file whatever
// happens, so no file handle outlives the call. An error of load wins over one of close.
template <class Load>
py::object read_picture(py::handle image_module, py::handle path, Load&& load) {
  py::object opened = image_module.attr("open")(path);
  py::object loaded;
  try {
    loaded = load(opened);
  } catch (...) {
    try {
      opened.attr("close")();
    } catch (py::error_already_set&) {
    }
    throw;
  }
  opened.attr("close")();
  return loaded;
}

// The picture's pixels as a copy that needs no open file.
inline py::object read_picture(py::handle image_module, py::handle path) {
  return read_picture(image_module, path, [](py::handle opened) { return opened.attr("copy")(); });
}

}  // namespace receiptora_py
