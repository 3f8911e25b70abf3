#include "receipt_requests.hpp"

#include <optional>

#include "receiptora/receipt_checks.hpp"
#include "receiptora_py/convert.hpp"
#include "receiptora_py/display_form.hpp"
#include "receiptora_py/book_errors.hpp"
#include "receiptora_py/receipt_request.hpp"

namespace quillmarkers {

namespace py = pybind11;
namespace fs = std::filesystem;
namespace store = receiptora::store;

namespace {

constexpr size_t kReprLimit = 10000;  // characters of a request kept in the log
// Characters of one typed text on a receipt. Far above any real name, it keeps a hostile
// request (megabytes in one field) from holding the worker for minutes of layout.
constexpr size_t kTextLimit = 5000;

size_t characters(const std::string& utf8) {
  size_t count = 0;
  for (unsigned char c : utf8) count += (c & 0xC0) != 0x80;
  return count;
}

// The typed texts: not too long, and without NUL, which neither the receipt nor the ledger's
// cells can carry (a spreadsheet ends the cell there).
void check_texts(const receiptora::Receipt& receipt) {
  auto check = [](const std::string& text, const std::string& what) {
    if (characters(text) > kTextLimit)
      throw py::value_error(what + " 有 " + std::to_string(characters(text)) + " 個字，收據一欄最多 " +
                            std::to_string(kTextLimit) + " 個字");
    if (text.find('\0') != std::string::npos)
      throw py::value_error(what + " 含有 NUL 字元（\\0），收據與收據清冊都不能記下，請刪除後再開立");
  };
  check(receipt.buyer, "\"買受人\"");
  check(receipt.buyer_tax_id, "\"買受人統一編號\"");
  for (size_t i = 0; i < receipt.items.size(); ++i) {
    check(receipt.items[i].name, "\"品名\"[" + std::to_string(i) + "]");
    check(receipt.items[i].note, "\"備註\"[" + std::to_string(i) + "]");
  }
}

}  // namespace

Prepared prepare(py::handle request) {
  Prepared prepared;
  prepared.receipt = receiptora_py::receipt_from_request(request, "", {});
  check_texts(prepared.receipt);
  // Refused before anything is claimed: no number is used for it.
  mpz_class total;
  for (const receiptora::Item& item : prepared.receipt.items) total += item.quantity * item.unit_price;
  if (std::optional<std::string> refusal = receiptora::total_refusal(total)) throw py::value_error(*refusal);
  prepared.exemption_stamp_unset =
      request.attr("get")(receiptora::request_keys::kShowExemptionStamp).is_none();
  prepared.owner_seal_unset = request.attr("get")(receiptora::request_keys::kShowOwnerSeal).is_none();
  py::object folder = request.attr("get")("存檔路徑");
  if (!py::isinstance<py::str>(folder) || py::len(folder) == 0)
    throw py::type_error("存檔路徑 應為資料夾名稱，不能空白");
  const std::string raw = py::bytes(py::module_::import("os").attr("fsencode")(folder));
  prepared.root = fs::path(raw);
  std::optional<receiptora::Date> date = prepared.receipt.date;
  if (!date) {  // not printed, but the number still carries the receipt's day
    py::dict dated = py::module_::import("builtins").attr("dict")(request);
    dated["顯示日期"] = true;
    date = receiptora_py::receipt_from_request(dated, "", {}).date;
  }
  if (!date) throw py::value_error("收據請求沒有日期");
  prepared.day = {date->year, date->month, date->day};
  return prepared;
}

namespace {

// repr() of a request, also when it holds an int too long for Python's str conversion, cut
// to kReprLimit characters.
std::string request_repr(py::handle value) { return receiptora_py::display_form(value, kReprLimit); }

}  // namespace

void RaiseStored::operator()() const {
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
  throw py::error_already_set();
}

py::object as_python_error(const std::exception&) {
  // Called while the exception is handled: its kind (receiptora_py/book_errors.hpp), else the
  // boundary's one policy.
  receiptora_py::set_book_error();
  return py::error_already_set().value();
}

void log_failure(py::handle error_log, py::object error, py::handle request, const std::string& note) {
  try {
    if (!note.empty()) error.attr("add_note")(note);
    if (request) error.attr("add_note")("收據請求：" + request_repr(request));
    py::object raise = py::cast(RaiseStored{error});
    raise.attr("__qualname__") = "Receipt_Worker";  // the name the log shows
    error_log.attr("try_except_log")(raise)();
  } catch (py::error_already_set& failure) {
    // The log itself failed: the failure still reaches stderr through Python's hook.
    failure.discard_as_unraisable("logging a receipt failure");
  }
}

}  // namespace quillmarkers
