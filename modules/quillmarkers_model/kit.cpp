#include "kit.hpp"

#include <optional>
#include <string>

#include "receiptora_py/guards.hpp"

namespace quillmarkers {

py::module_ ctk() { return py::module_::import("customtkinter"); }

namespace {

// Chosen once per process: the families Tk offers do not change while it runs.
std::optional<std::string> g_cjk_family;
bool g_family_checked = false;

// The face Tk draws Chinese with for the family the product's windows name (Microsoft
// JhengHei, Windows' Traditional Chinese UI face): itself where it is installed, else the face
// fontconfig falls back to for it. The kit's text then uses the same CJK face as the windows'
// own captions, so a window process maps one CJK font set, not two.
std::optional<std::string> windows_cjk_face() {
  std::optional<std::string> face;
  receiptora_py::silently([&] {
    py::object root = py::module_::import("tkinter").attr("_get_default_root")("use the kit's fonts");
    py::str family(root.attr("tk").attr("call")("font", "actual", py::make_tuple("Microsoft JhengHei", 13),
                                                "-family", "--", "收"));
    if (py::len(family) > 0) face = family.cast<std::string>();
  });
  return face;
}

const std::optional<std::string>& cjk_family() {
  if (!g_family_checked) {
    g_cjk_family = windows_cjk_face();
    static const char* const kPreferred[] = {
        "Noto Sans CJK TC", "Noto Sans TC",       "Microsoft JhengHei UI", "Microsoft JhengHei",
        "PingFang TC",      "Source Han Sans TC", "Noto Sans CJK SC",      "WenQuanYi Zen Hei"};
    py::set families(py::module_::import("tkinter.font").attr("families")());
    if (g_cjk_family && !families.contains(*g_cjk_family)) g_cjk_family.reset();
    for (const char* family : kPreferred) {
      if (g_cjk_family) break;
      if (families.contains(family)) g_cjk_family = family;
    }
    g_family_checked = true;
  }
  return g_cjk_family;
}

}  // namespace

py::object kit_subclass(const char* name, const char* base, const char* doc) {
  using namespace py::literals;
  py::object type = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type));
  return type(name, py::make_tuple(ctk().attr(base)),
              py::dict("__module__"_a = "quillmarkers_model", "__doc__"_a = doc));
}

py::object kit_font(int size, const char* weight) {
  using namespace py::literals;
  // One font per size and weight for each Tk root, kept on the root so it ends with it: every
  // Tk font resolves and caches its fontconfig fallbacks of its own.
  py::object root = py::module_::import("tkinter").attr("_get_default_root")("use the kit's fonts");
  py::object fonts = py::getattr(root, "_quillmarkers_fonts", py::none());
  if (fonts.is_none()) {
    fonts = py::dict();
    root.attr("_quillmarkers_fonts") = fonts;
  }
  py::tuple key = py::make_tuple(size, weight);
  if (PyObject* font = PyDict_GetItemWithError(fonts.ptr(), key.ptr()))
    return py::reinterpret_borrow<py::object>(font);
  if (PyErr_Occurred()) throw py::error_already_set();
  const auto& family = cjk_family();
  py::object font = family ? ctk().attr("CTkFont")("family"_a = *family, "size"_a = size, "weight"_a = weight)
                           : ctk().attr("CTkFont")("size"_a = size, "weight"_a = weight);
  fonts[key] = font;
  return font;
}

}  // namespace quillmarkers
