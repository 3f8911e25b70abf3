// receiptora._render: a receipt request rendered as PDF or PNG bytes, for the tools, the
// tests and the benchmarks. The GIL is released while cairo and pango draw.
#include <pybind11/pybind11.h>

#include <string>

#include "receiptora/render/render.hpp"
#include "receiptora_py/main_interpreter.hpp"
#include "receiptora_py/receipt_request.hpp"

namespace py = pybind11;
namespace render = receiptora::render;

namespace {

render::Receipt receipt_of(py::handle request, std::string number, py::handle seller,
                           std::string created_at) {
  render::Receipt receipt = receiptora_py::receipt_from_request(request, std::move(number),
                                                                receiptora_py::seller_from_dict(seller));
  receipt.created_at = std::move(created_at);
  return receipt;
}

template <std::string (*Render)(const render::Receipt&)>
py::bytes rendered(py::handle request, std::string number, py::handle seller, std::string created_at) {
  const render::Receipt receipt = receipt_of(request, std::move(number), seller, std::move(created_at));
  std::string out;
  {
    py::gil_scoped_release unlocked;
    out = Render(receipt);
  }
  return py::bytes(out);
}

py::tuple rendered_both(py::handle request, std::string number, py::handle seller, std::string created_at) {
  const render::Receipt receipt = receipt_of(request, std::move(number), seller, std::move(created_at));
  render::Rendered out;
  {
    py::gil_scoped_release unlocked;
    out = render::render_both(receipt);
  }
  return py::make_tuple(py::bytes(out.pdf), py::bytes(out.png));
}

}  // namespace

// Loaded only into the main interpreter (see main_interpreter.hpp).
#define PyInit__render pybind11_entry_point
PYBIND11_MODULE(_render, m) {
  m.doc() = "Receiptora's receipt renderer";
  m.def("render_pdf", &rendered<render::render_pdf>, py::arg("request"), py::arg("number"), py::arg("seller"),
        py::arg("created_at") = "",
        "The receipt as PDF bytes (A5 landscape). `seller` holds 商號名稱 統一編號 負責人 地址 電話 and "
        "optionally 免用統一發票章圖檔 / 負責人章圖檔; `created_at` is the ISO 8601 creation date (empty: "
        "now).");
  m.def("render_png", &rendered<render::render_png>, py::arg("request"), py::arg("number"), py::arg("seller"),
        py::arg("created_at") = "", "The receipt as a 150 dpi PNG picture.");
  m.def("render_both", &rendered_both, py::arg("request"), py::arg("number"), py::arg("seller"),
        py::arg("created_at") = "",
        "(PDF bytes, PNG bytes) of the receipt, laid out once for both; what issuing a receipt does.");
}
#undef PyInit__render

extern "C" PYBIND11_EXPORT PyObject* PyInit__render() {
  return receiptora_py::in_main_interpreter("receiptora._render", pybind11_entry_point);
}
