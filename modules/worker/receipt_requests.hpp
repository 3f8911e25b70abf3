// What the receipt worker and the batch issue share: a request taken from Python and made
// ready to render, and a failure written to the error log together with its request.
#pragma once

#include <pybind11/pybind11.h>

#include <exception>
#include <filesystem>
#include <string>

#include "receiptora/receipt.hpp"
#include "receiptora/store/numbering.hpp"

namespace quillmarkers {

// A request ready to render: everything taken from Python.
struct Prepared {
  receiptora::Receipt receipt;
  std::filesystem::path root;
  receiptora::store::Day day;
  // A stamp switch given as None: to be shown when the seller profile can draw it.
  bool exemption_stamp_unset = false, owner_seal_unset = false;
};

// Reads a receipt request; raises ValueError or TypeError (as pybind11 exceptions) for a
// malformed one, and refuses texts too long for a receipt and a total of 0 or below.
Prepared prepare(pybind11::handle request);

// A callable that raises a stored exception: handed to try_except_log, it puts a failure
// into the error log in the log's own format. Registered with the module by the worker.
struct RaiseStored {
  pybind11::object error;
  void operator()() const;
};

// The exception object the C++ failure being handled stands for; call only in its handler.
pybind11::object as_python_error(const std::exception& error);

// Writes `error` with the request and a note to the error log (and stderr), through the
// companion's own error log so every failure looks the same there.
void log_failure(pybind11::handle error_log, pybind11::object error, pybind11::handle request,
                 const std::string& note);

}  // namespace quillmarkers
