// receiptora._verify: `receiptora verify` and `receiptora key card` for the host. Thin: the
// rules live in the verify and store libraries; this converts and releases the GIL.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "receiptora/verify/verify.hpp"
#include "receiptora_py/errors.hpp"
#include "receiptora_py/main_interpreter.hpp"

namespace py = pybind11;
namespace fs = std::filesystem;
namespace verify = receiptora::verify;

// Loaded only into the main interpreter (see main_interpreter.hpp).
#define PyInit__verify pybind11_entry_point
PYBIND11_MODULE(_verify, m) {
  m.doc() = "Verifying Receiptora receipts from PDFs, pictures and codes";
  receiptora_py::use_error_policy_in_this_module();
  m.def(
      "verify",
      [](const std::string& folder, const std::vector<std::string>& inputs, const std::string& key) {
        std::vector<std::pair<bool, std::string>> answers;
        {
          py::gil_scoped_release unlocked;
          const verify::KeyChoice chosen = verify::choose_key(fs::path(folder), key);
          for (const std::string& input : inputs) {
            try {
              const verify::Answer answer = verify::verify(input, chosen, fs::path(folder));
              answers.emplace_back(answer.genuine, answer.text);
            } catch (const std::exception& error) {
              answers.emplace_back(false, std::string("無法驗證 ") + input + "：" + error.what());
            }
          }
        }
        // A file's name that is not UTF-8 shows with replacement characters.
        py::list out;
        for (const auto& [genuine, text] : answers)
          out.append(
              py::make_tuple(genuine, py::reinterpret_steal<py::str>(PyUnicode_DecodeUTF8(
                                          text.data(), static_cast<Py_ssize_t>(text.size()), "replace"))));
        return out;
      },
      py::arg("folder"), py::arg("inputs"), py::arg("key") = "",
      "Verifies each input (a PDF, a picture or a code's text); per input (genuine, answer in Chinese). "
      "Raises RuntimeError when no key can be had.");
  m.def(
      "key_card",
      [](const std::string& folder) {
        py::gil_scoped_release unlocked;
        std::vector<std::string> written;
        for (const fs::path& file : verify::write_key_card(fs::path(folder)))
          written.push_back(file.string());
        return written;
      },
      py::arg("folder"), "Writes 驗證卡.pdf and 驗證卡.png into the folder; returns their paths.");
}
#undef PyInit__verify

extern "C" PYBIND11_EXPORT PyObject* PyInit__verify() {
  return receiptora_py::in_main_interpreter("receiptora._verify", pybind11_entry_point);
}
