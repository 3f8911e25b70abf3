// The kinds of failure the host tells apart, as Python exception classes: a damaged book, a
// book from a newer program, a book that may only be read, a receipt the book does not hold,
// a receipt the book refuses to change, a ledger line not written, a printer that did not take
// the job, a seller profile that names no shop. Each is a subclass of ReceiptoraError, itself
// a ValueError, so a caller that caught the ValueError these used to be keeps working; a
// failure of the disk or a device is an OSError too, a receipt not found a KeyError too.
//
// The classes exist once per process, made by receiptora._numbers (the module every other
// imports cheaply, linking only the core); each module that raises them binds them under the
// same names, so receiptora._book.BookDamaged is receiptora._numbers.BookDamaged, and the host
// catches them by class, never by reading a message.
#pragma once

#include <Python.h>
#include <pybind11/pybind11.h>

#include <string>

namespace receiptora_py {

namespace py = pybind11;

enum class ErrorKind {
  BookDamaged,        // SQLite cannot read the book (malformed, not a database)
  BookNewer,          // written by a newer version of the program
  BookReadOnly,       // a write asked of a book opened for reading
  ReceiptNotFound,    // no receipt of that number
  ReceiptRefused,     // already void, never issued: the book refuses the change
  LedgerNotWritten,   // the book holds the change; the ledger lacks its line until the next start
  PrinterFailed,      // the job did not reach a printer's queue
  ProfileIncomplete,  // the seller profile names no shop: nothing can be issued
};

namespace error_kinds_detail {

enum class Also { Nothing, OSError, KeyError };

struct KindInfo {
  ErrorKind kind;
  const char* name;
  Also also;
  const char* doc;
};

inline constexpr KindInfo kKinds[] = {
    {ErrorKind::BookDamaged, "BookDamaged", Also::Nothing, "The receipt book cannot be read: it is damaged."},
    {ErrorKind::BookNewer, "BookNewer", Also::Nothing, "The receipt book was written by a newer Receiptora."},
    {ErrorKind::BookReadOnly, "BookReadOnly", Also::Nothing, "A write asked of a book opened for reading."},
    {ErrorKind::ReceiptNotFound, "ReceiptNotFound", Also::KeyError,
     "The book holds no receipt of that number."},
    {ErrorKind::ReceiptRefused, "ReceiptRefused", Also::Nothing,
     "The book refuses the change: the receipt is void already, or was never issued."},
    {ErrorKind::LedgerNotWritten, "LedgerNotWritten", Also::OSError,
     "The book holds the change, but 收據清冊.csv lacks its line until the next start writes it."},
    {ErrorKind::PrinterFailed, "PrinterFailed", Also::OSError, "The print did not reach a printer's queue."},
    {ErrorKind::ProfileIncomplete, "ProfileIncomplete", Also::Nothing,
     "The seller profile 賣方資料.toml names no shop (商號名稱): no receipt can be issued."},
};

inline const KindInfo& info(ErrorKind kind) {
  for (const KindInfo& k : kKinds)
    if (k.kind == kind) return k;
  return kKinds[0];
}

inline constexpr const char* kHome = "receiptora._numbers";

}  // namespace error_kinds_detail

// Makes the classes on `home`; only receiptora._numbers calls it, while it initialises.
inline void define_error_kinds(py::module_& home) {
  using namespace error_kinds_detail;
  auto make = [](const std::string& name, py::tuple bases, const char* doc) {
    const std::string qualified = std::string(kHome) + "." + name;
    PyObject* made = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases.ptr(), nullptr);
    if (!made) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(made);
  };
  py::object base = make(
      "ReceiptoraError", py::make_tuple(py::handle(PyExc_ValueError)),
      "A failure of Receiptora that the host tells apart by its class; str() is the message, in Chinese.");
  home.attr("ReceiptoraError") = base;
  for (const KindInfo& k : kKinds) {
    // OSError first, so its errno, strerror and str() are the ones used.
    py::tuple bases = k.also == Also::OSError    ? py::tuple(py::make_tuple(py::handle(PyExc_OSError), base))
                      : k.also == Also::KeyError ? py::tuple(py::make_tuple(py::handle(PyExc_KeyError), base))
                                                 : py::tuple(py::make_tuple(base));
    home.attr(k.name) = make(k.name, bases, k.doc);
  }
}

// The class of a kind (imports receiptora._numbers on first use).
inline py::object error_class(ErrorKind kind) {
  return py::module_::import(error_kinds_detail::kHome).attr(error_kinds_detail::info(kind).name);
}

// Binds ReceiptoraError and every kind on the module `m` under their names.
inline void bind_error_kinds(py::module_& m) {
  py::module_ home = py::module_::import(error_kinds_detail::kHome);
  m.attr("ReceiptoraError") = home.attr("ReceiptoraError");
  for (const auto& kind : error_kinds_detail::kKinds) m.attr(kind.name) = home.attr(kind.name);
}

// A Python error of `kind` with `message`, as an object (to hand over, as the batch's problems
// are) or set as the pending error (to raise: throw py::error_already_set() after it). An
// OSError kind carries `errno_value` when it is not 0, so its subclass checks still work.
inline py::object error_of(ErrorKind kind, const std::string& message, int errno_value = 0) {
  py::object type = error_class(kind);
  if (errno_value != 0) return type(errno_value, message);
  return type(message);
}

[[noreturn]] inline void raise_error(ErrorKind kind, const std::string& message, int errno_value = 0) {
  py::object error = error_of(kind, message, errno_value);
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
  throw py::error_already_set();
}

}  // namespace receiptora_py
