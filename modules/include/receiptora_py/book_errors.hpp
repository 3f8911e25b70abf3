// The book's and issuing's failures as the error kinds the host tells apart
// (error_kinds.hpp). For the modules that link the store and issuing libraries: _book, _shop
// and _worker.
#pragma once

#include <exception>
#include <optional>

#include "receiptora/issuing/issue.hpp"
#include "receiptora/store/book.hpp"
#include "receiptora_py/error_kinds.hpp"
#include "receiptora_py/errors.hpp"

namespace receiptora_py {

// The kind of a failure of the book or of issuing; nothing for any other failure (a database
// error, a full disk …), which the one error policy translates.
inline std::optional<ErrorKind> book_error_kind(const std::exception& error) {
  using Book = receiptora::store::BookError;
  using Issue = receiptora::issuing::IssueError;
  if (const auto* book = dynamic_cast<const Book*>(&error)) {
    switch (book->kind()) {
      case Book::Kind::Unknown:
        return ErrorKind::ReceiptNotFound;
      case Book::Kind::AlreadyVoid:
      case Book::Kind::NotIssued:
        return ErrorKind::ReceiptRefused;
      case Book::Kind::Version:
        return ErrorKind::BookNewer;
      case Book::Kind::Corrupt:
        return ErrorKind::BookDamaged;
      case Book::Kind::ReadOnly:
        return ErrorKind::BookReadOnly;
      case Book::Kind::Database:
        return std::nullopt;
    }
  }
  if (const auto* issue = dynamic_cast<const Issue*>(&error)) {
    switch (issue->kind()) {
      case Issue::Kind::NoSeller:
        return ErrorKind::ProfileIncomplete;
      case Issue::Kind::LedgerNotWritten:
        return ErrorKind::LedgerNotWritten;
      case Issue::Kind::Other:
        return std::nullopt;
    }
  }
  return std::nullopt;
}

// The handled C++ exception as the Python error set: its kind's class when it has one, else
// what the one error policy makes of it. Call inside a catch block.
inline void set_book_error() noexcept {
  try {
    throw;
  } catch (const std::exception& error) {
    const std::optional<ErrorKind> kind = book_error_kind(error);
    if (!kind) return set_python_error();
    try {
      raise_error(*kind, error.what());
    } catch (py::error_already_set& raised) {
      raised.restore();
    } catch (...) {
      set_python_error();
    }
  } catch (...) {
    set_python_error();
  }
}

// Makes set_book_error the translation pybind11 applies to the calling module's functions and
// binds the error classes on it; _book, _shop and _worker call it while they initialise.
inline void use_book_error_kinds_in_this_module(py::module_& m) {
  use_error_policy_in_this_module<set_book_error>();
  bind_error_kinds(m);
}

}  // namespace receiptora_py
