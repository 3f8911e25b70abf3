// receiptora._render: a receipt request rendered as PDF or PNG bytes, for the tools, the
// tests and the benchmarks. The GIL is released while cairo and pango draw.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <tuple>

#include "receiptora/receipt_texts.hpp"
#include "receiptora/render/render.hpp"
#include "receiptora/templates.hpp"
#include "receiptora_py/errors.hpp"
#include "receiptora_py/main_interpreter.hpp"
#include "receiptora_py/receipt_request.hpp"

namespace py = pybind11;
namespace render = receiptora::render;

namespace {

// A copy's mark: None, or {"kind": "void" | "reprint", "date": (year, month, day), "reason": str,
// "count": which reprint}.
std::optional<receiptora::Mark> mark_of(py::handle mark) {
  if (mark.is_none()) return std::nullopt;
  const py::dict d = py::cast<py::dict>(mark);
  receiptora::Mark out;
  const std::string kind = py::cast<std::string>(d["kind"]);
  if (kind != "void" && kind != "reprint") throw py::value_error("mark kind must be 'void' or 'reprint'");
  out.kind = kind == "void" ? receiptora::Mark::Kind::Void : receiptora::Mark::Kind::Reprint;
  const auto [year, month, day] = py::cast<std::tuple<int, int, int>>(d["date"]);
  if (!receiptora::roc_date(year, month, day)) throw py::value_error("mark date is no day");
  out.date = {year, month, day};
  if (d.contains("reason")) out.reason = py::cast<std::string>(d["reason"]);
  if (d.contains("count")) out.count = py::cast<int>(d["count"]);
  return out;
}

receiptora::Receipt receipt_of(py::handle request, std::string number, py::handle seller,
                               std::string created_at, py::handle mark = py::none()) {
  receiptora::Receipt receipt = receiptora_py::receipt_from_request(request, std::move(number),
                                                                    receiptora_py::seller_from_dict(seller));
  receipt.created_at = std::move(created_at);
  receipt.mark = mark_of(mark);
  return receipt;
}

template <std::string (*Render)(const receiptora::Receipt&)>
py::bytes rendered(py::handle request, std::string number, py::handle seller, std::string created_at,
                   py::handle mark) {
  const receiptora::Receipt receipt =
      receipt_of(request, std::move(number), seller, std::move(created_at), mark);
  std::string out;
  {
    py::gil_scoped_release unlocked;
    out = Render(receipt);
  }
  return py::bytes(out);
}

py::tuple rendered_both(py::handle request, std::string number, py::handle seller, std::string created_at,
                        py::handle mark) {
  const receiptora::Receipt receipt =
      receipt_of(request, std::move(number), seller, std::move(created_at), mark);
  render::Rendered out;
  {
    py::gil_scoped_release unlocked;
    out = render::render_both(receipt);
  }
  return py::make_tuple(py::bytes(out.pdf), py::bytes(out.png));
}

py::tuple rendered_pages(py::handle request, std::string number, py::handle seller, std::string created_at,
                         py::handle mark) {
  const receiptora::Receipt receipt =
      receipt_of(request, std::move(number), seller, std::move(created_at), mark);
  render::RenderedPages out;
  {
    py::gil_scoped_release unlocked;
    out = render::render_pages(receipt);
  }
  py::list pngs;
  for (const std::string& png : out.pngs) pngs.append(py::bytes(png));
  return py::make_tuple(py::bytes(out.pdf), pngs);
}

py::list warnings(py::handle request, std::string number, py::handle seller) {
  py::list out;
  for (const std::string& w : render::receipt_warnings(receipt_of(request, std::move(number), seller, "")))
    out.append(py::str(w));
  return out;
}

}  // namespace

// Loaded only into the main interpreter (see main_interpreter.hpp).
#define PyInit__render pybind11_entry_point
PYBIND11_MODULE(_render, m) {
  m.doc() = "Receiptora's receipt renderer";
  receiptora_py::use_error_policy_in_this_module();
  py::list names;
  for (const receiptora::TemplateInfo& t : receiptora::templates())
    names.append(py::str(t.name.data(), t.name.size()));
  m.attr("TEMPLATES") = py::tuple(names);  // the templates' names, the default first
  m.def("render_pdf", &rendered<render::render_pdf>, py::arg("request"), py::arg("number"), py::arg("seller"),
        py::arg("created_at") = "", py::arg("mark") = py::none(),
        "The receipt as PDF bytes (A5 landscape). `seller` holds 商號名稱 統一編號 負責人 地址 電話 and "
        "optionally 免用統一發票章圖檔 / 負責人章圖檔; `created_at` is the ISO 8601 creation date (empty: "
        "now); `mark`, for a copy, is {'kind': 'void' or 'reprint', 'date': (y, m, d), 'reason': str, "
        "'count': n}.");
  m.def("render_png", &rendered<render::render_png>, py::arg("request"), py::arg("number"), py::arg("seller"),
        py::arg("created_at") = "", py::arg("mark") = py::none(), "The receipt as a 150 dpi PNG picture.");
  m.def("render_both", &rendered_both, py::arg("request"), py::arg("number"), py::arg("seller"),
        py::arg("created_at") = "", py::arg("mark") = py::none(),
        "(PDF bytes, PNG bytes) of the receipt, laid out once for both; what issuing a receipt does.");
  m.def("render_pages", &rendered_pages, py::arg("request"), py::arg("number"), py::arg("seller"),
        py::arg("created_at") = "", py::arg("mark") = py::none(),
        "(PDF bytes, [PNG bytes of each page]) of the receipt: one 1240×874 picture per page.");
  m.def("receipt_warnings", &warnings, py::arg("request"), py::arg("number"), py::arg("seller"),
        "What the receipt leaves out that the shop should know (a stamp asked for with nothing to put in "
        "it), one sentence each naming 賣方資料.toml and the field to fill.");
}
#undef PyInit__render

extern "C" PYBIND11_EXPORT PyObject* PyInit__render() {
  return receiptora_py::in_main_interpreter("receiptora._render", pybind11_entry_point);
}
