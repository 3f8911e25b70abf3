// Try_Except_Model: wraps callbacks so an exception escaping them is written to the error
// log and to stderr instead of reaching Tk (which would print it and carry on anyway).
#include <cerrno>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "kit.hpp"
#include "receiptora/log_file.hpp"
#include "receiptora_py/errors.hpp"
#include "receiptora_py/guards.hpp"

namespace quillmarkers {

using receiptora::append_to_log;
using receiptora::default_log_path;
using receiptora::local_iso_timestamp;

namespace {

namespace fs = std::filesystem;

struct ErrorLog {
  py::str path;
};

// The log path as the file system wants it: os.fsencode keeps undecodable names intact.
std::optional<fs::path> to_fs_path(const py::str& path) {
  std::optional<fs::path> out;
  receiptora_py::silently([&] {
    py::bytes encoded = py::module_::import("os").attr("fsencode")(path);
    std::string raw = encoded;
#ifdef _WIN32
    out = fs::path(std::u8string(raw.begin(), raw.end()));
#else
    out = fs::path(raw);
#endif
  });
  return out;
}

py::str path_to_str(const fs::path& path) {
#ifdef _WIN32
  const std::u8string u8 = path.generic_u8string();
  return py::str(std::string(u8.begin(), u8.end()));
#else
  return py::module_::import("os").attr("fsdecode")(py::bytes(path.string()));
#endif
}

// pybind11 functions are builtins bound to an internal record object, so their __qualname__
// reads "pybind11_detail_function_record_….aa"; their __name__ is the name they were given.
bool is_pybind11_function(py::handle function) {
  if (PyMethod_Check(function.ptr())) function = PyMethod_GET_FUNCTION(function.ptr());
  if (!PyCFunction_Check(function.ptr())) return false;
  PyObject* self = PyCFunction_GET_SELF(function.ptr());
  return self != nullptr && py::detail::is_function_record_PyObject(self);
}

// The attribute as a non-empty text, if it is one.
std::optional<std::string> name_attribute(py::handle function, const char* attribute) {
  std::optional<std::string> out;
  receiptora_py::silently([&] {
    if (!py::hasattr(function, attribute)) return;
    std::string name = py::str(function.attr(attribute));
    if (!name.empty()) out = name;
  });
  return out;
}

std::string describe(py::handle function) {
  if (!is_pybind11_function(function)) {
    if (auto name = name_attribute(function, "__qualname__")) return *name;
  }
  if (auto name = name_attribute(function, "__name__")) return *name;
  std::string shown = "<callable>";
  receiptora_py::silently([&] { shown = py::repr(function); });
  return shown;
}

void write_stderr(const std::string& text) {
  // A broken stderr must not turn a logged error into a new one.
  receiptora_py::silently([&] {
    py::object err = py::module_::import("sys").attr("stderr");
    if (err.is_none()) return;
    err.attr("write")(py::str(text.data(), text.size()));
    err.attr("flush")();
  });
}

// One entry: "=== <time> <where>", the details, a blank line.
std::string entry(const std::string& where, const std::string& details) {
  std::string text = "=== " + local_iso_timestamp() + " " + where + "\n" + details;
  if (text.empty() || text.back() != '\n') text += '\n';
  return text + '\n';
}

void record(const ErrorLog& log, py::handle function, const std::string& details) {
  const std::string text = entry(describe(function), details);
  write_stderr(text);
  if (auto path = to_fs_path(log.path)) append_to_log(*path, text);
}

std::string format_exception(py::error_already_set& error) {
  std::string text;
  receiptora_py::silently([&] {
    // An error raised in C, with no Python frame between, has no traceback.
    py::object trace = error.trace() ? py::reinterpret_borrow<py::object>(error.trace()) : py::none();
    py::list lines =
        py::module_::import("traceback").attr("format_exception")(error.type(), error.value(), trace);
    text = py::str("").attr("join")(lines).cast<std::string>();
  });
  return text.empty() ? std::string(error.what()) + "\n" : text;
}

// The callable handed back by try_except_log.
struct LoggedCall {
  py::object function;
  std::shared_ptr<ErrorLog> log;

  template <class F>
  void visit(F&& f) const {
    f(function);
  }
  void clear() { function = py::none(); }

  py::object call() {
    try {
      return function();
    } catch (...) {
      py::error_already_set error = receiptora_py::as_python_error();
      // Ctrl+C and sys.exit() are requests, not faults: let them through.
      if (error.matches(PyExc_KeyboardInterrupt) || error.matches(PyExc_SystemExit)) throw error;
      record(*log, function, format_exception(error));
    }
    return py::none();
  }
};

struct TryExceptModel {
  std::shared_ptr<ErrorLog> log = std::make_shared<ErrorLog>(ErrorLog{path_to_str(default_log_path())});
};

}  // namespace

void log_error(const std::string& where, py::handle error) {
  std::string details;
  receiptora_py::silently([&] {
    details = py::str(py::type::handle_of(error).attr("__name__")).cast<std::string>() + ": " +
              py::str(error).cast<std::string>();
  });
  record(ErrorLog{path_to_str(default_log_path())}, py::str(where), details);
}

void register_error_log(py::module_& m) {
  py::class_<LoggedCall>(m, "Logged_Call", py::dynamic_attr(), collectable<LoggedCall, true>(),
                         "A callback whose exceptions go to the error log.")
      .def("__call__", &LoggedCall::call);

  py::class_<TryExceptModel>(m, "Try_Except_Model", "The error log.")
      .def(py::init<>())
      .def(
          "try_except_log",
          [](const TryExceptModel& self, py::object function) {
            if (!PyCallable_Check(function.ptr())) throw py::type_error("try_except_log needs a callable");
            // __name__ and __wrapped__ as on a functools.wraps wrapper (tkinter's after()
            // names its Tcl command after __name__).
            py::object wrapper = py::cast(LoggedCall{function, self.log});
            wrapper.attr("__name__") = py::getattr(function, "__name__", py::str(describe(function)));
            wrapper.attr("__wrapped__") = function;
            return wrapper;
          },
          py::arg("function"),
          "A callable without arguments that runs function(); an exception escaping it is "
          "logged (timestamp, name, traceback) and written to stderr, and None is returned.")
      .def(
          "write",
          [](const TryExceptModel& self, const std::string& where, const std::string& details) {
            const auto path = to_fs_path(self.log->path);
            errno = 0;
            if (path && append_to_log(*path, entry(where, details))) return;
            // The caller says so: a log that silently stays empty would pass for "nothing failed".
            errno = errno ? errno : EIO;
            PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, self.log->path.ptr());
            throw py::error_already_set();
          },
          py::arg("where"), py::arg("details"),
          "Appends an entry (time stamp, where, details) to the log file alone; raises OSError naming the "
          "log when it cannot be written.")
      .def_property(
          "log_path", [](const TryExceptModel& self) { return self.log->path; },
          [](TryExceptModel& self, py::object path) {
            py::module_ os = py::module_::import("os");
            self.log->path = os.attr("fsdecode")(os.attr("fspath")(path));
          },
          "The log file; its folder is created when an error is written.");
}

}  // namespace quillmarkers
