// Where the window differs between Windows and our Linux machines: the output folder,
// the file manager, the fonts folders, the window icon, resource paths and the help page.
#pragma once

#include <pybind11/pybind11.h>

namespace gui::platform {

namespace py = pybind11;

// The help page, in its secure and its plain form (same host, port and path).
inline constexpr const char* kHelpPageSecure = "https://quillmarkers.github.io/Receiptora/help/";
inline constexpr const char* kHelpPagePlain = "http://quillmarkers.github.io/Receiptora/help/";

// The folder the receipts are saved in (core's output_folder), as a str.
py::str output_folder();

// Opens the output folder in the file manager without waiting for it.
void open_output_folder();

// The folders searched for installed fonts, each to be listed without recursion. On Linux:
// fontconfig's folders, and one where each Windows font file a template needs (simhei.ttf)
// stands for the face the renderer draws that template with, present only when it is installed.
py::list font_folders();

// The folder of the module's own file.
py::str module_folder();

// A file in the template folder 格式範本 beside the module.
py::str resource_path(const char* file_name);

// Sets a window's icon from logo.ico.
void set_window_icon(py::handle window, py::handle icon_path);

}  // namespace gui::platform
