#include "kit.hpp"

#include <optional>
#include <string>

namespace quillmarkers {

py::module_ ctk() { return py::module_::import("customtkinter"); }

namespace {

// Chosen once per process: the families Tk offers do not change while it runs.
std::optional<std::string> g_cjk_family;
bool g_family_checked = false;

const std::optional<std::string>& cjk_family() {
  if (!g_family_checked) {
    static const char* const kPreferred[] = {
        "Noto Sans CJK TC", "Noto Sans TC",       "Microsoft JhengHei UI", "Microsoft JhengHei",
        "PingFang TC",      "Source Han Sans TC", "Noto Sans CJK SC",      "WenQuanYi Zen Hei"};
    py::set families(py::module_::import("tkinter.font").attr("families")());
    for (const char* family : kPreferred) {
      if (families.contains(family)) {
        g_cjk_family = family;
        break;
      }
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
  const auto& family = cjk_family();
  if (family) return ctk().attr("CTkFont")("family"_a = *family, "size"_a = size, "weight"_a = weight);
  return ctk().attr("CTkFont")("size"_a = size, "weight"_a = weight);
}

}  // namespace quillmarkers
