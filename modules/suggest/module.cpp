// receiptora._suggest: what a keystroke in a hooked entry does (the kit's bindings call
// typed, key and dismiss), over the book's counts (receiptora_suggest in store/).
#include <pybind11/stl.h>

#include <memory>
#include <string>

#include "receiptora/local_time.hpp"
#include "receiptora/store/suggestions.hpp"
#include "receiptora_py/errors.hpp"
#include "receiptora_py/main_interpreter.hpp"
#include "suggest_list.hpp"

namespace {

namespace py = pybind11;
namespace fs = std::filesystem;
using receiptora::store::SuggestionBook;
using receiptora::store::SuggestionKind;
namespace list = quillmarkers::suggest;

constexpr const char* kSeen = "_receiptora_seen";  // on the Tk entry: its text as last looked at

struct State {
  std::unique_ptr<SuggestionBook> book;
  std::string reported;  // the last failure written to the error log
};

State& state() {
  static State* s = new State{};
  return *s;
}

fs::path path_of(py::handle folder) {
  const std::string raw = py::bytes(py::module_::import("os").attr("fsencode")(folder));
  return fs::path(raw);
}

SuggestionKind kind_of(const std::string& kind) {
  if (kind == "buyer") return SuggestionKind::Buyer;
  if (kind == "item") return SuggestionKind::Item;
  throw py::value_error("a suggestion is of a buyer or an item, not " + kind);
}

std::string today() {
  char text[16];
  const std::tm now = receiptora::local_now();
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
  return text;
}

SuggestionBook& book_of(py::handle folder) {
  State& s = state();
  const fs::path path = path_of(folder);
  if (!s.book || s.book->folder() != path) s.book = std::make_unique<SuggestionBook>(path);
  return *s.book;
}

// A book that cannot be read is written to the error log once, not at every keystroke.
template <class F>
auto reporting(F&& f) -> decltype(f()) {
  try {
    auto result = f();
    state().reported.clear();
    return result;
  } catch (const std::exception& error) {
    list::hide();
    if (state().reported == error.what()) return {};
    state().reported = error.what();
    throw;
  }
}

// After the entry's own handling of a key: the text typed so far, suggested from.
void typed(py::object folder, std::string kind, py::object widget, py::object take) {
  py::object text = widget.attr("get")();
  py::object seen = py::getattr(widget, kSeen, py::str(""));
  if (text.equal(seen)) return;  // a key that did not change the text (Shift, an arrow …)
  widget.attr(kSeen) = text;
  auto rows =
      reporting([&] { return book_of(folder).suggest(kind_of(kind), text.cast<std::string>(), today()); });
  if (rows.empty()) return list::hide();
  list::show({py::weakref(widget), std::move(take), kind}, std::move(rows));
}

// Before the entry's own handling: the keys that work the list while it shows. "break" keeps
// the key from the entry.
py::object key(py::object widget, std::string keysym) {
  if (!list::showing_for(widget)) return py::none();
  const py::str handled("break");
  if (keysym == "Down") return list::move(1), handled;
  if (keysym == "Up") return list::move(-1), handled;
  if (keysym == "Escape") return list::hide(), handled;
  const int current = list::highlighted();
  if ((keysym == "Return" || keysym == "KP_Enter") && current >= 0) return list::take(current), handled;
  if ((keysym == "Delete" || keysym == "KP_Delete") && current >= 0) {
    const auto chosen = list::row(current);
    if (SuggestionBook* book = state().book.get())
      reporting([&] {
        book->set_hidden(kind_of(list::owner().kind), chosen.name, chosen.detail, true);
        return 0;
      });
    list::remove(current);
    return handled;
  }
  if (keysym == "Tab" || keysym == "ISO_Left_Tab" || keysym == "Return" || keysym == "KP_Enter") list::hide();
  return py::none();
}

}  // namespace

// Loaded only into the main interpreter (see main_interpreter.hpp).
#define PyInit__suggest pybind11_entry_point
PYBIND11_MODULE(_suggest, m) {
  m.doc() =
      "Receiptora's suggestions of buyers and items while typing (loaded by quillmarkers_model on first use)";
  receiptora_py::use_error_policy_in_this_module();
  m.def("typed", &typed, py::arg("folder"), py::arg("kind"), py::arg("widget"), py::arg("take"),
        "After a keystroke in a hooked entry: shows the book's suggestions for its text, or hides the list.");
  m.def("key", &key, py::arg("widget"), py::arg("keysym"),
        "Before a keystroke in a hooked entry: Down, Up, Return, Escape and Delete work the list.");
  m.def(
      "dismiss",
      [](py::object widget) {
        if (!list::showing_for(widget)) return;
        // Once Tk has settled where the keyboard went: the list closes unless it went to the
        // list itself (with focus following the pointer, moving onto the list to click it).
        widget.attr("after_idle")(py::cpp_function([weak = py::weakref(widget)] {
          py::object typed_in = weak();
          if (typed_in.is_none() || !list::showing_for(typed_in)) return;
          py::object focus = typed_in.attr("focus_get")();
          if (focus.is_none() || !list::is_list_window(focus)) list::hide();
        }));
      },
      py::arg("widget"), "The entry lost the keyboard: the list closes, unless the keyboard went to it.");
  m.def(
      "shown",
      [] {
        py::list rows;
        for (int i = 0; i < list::count(); ++i)
          rows.append(py::make_tuple(list::row(i).name, list::row(i).detail));
        return py::make_tuple(rows, list::highlighted());
      },
      "The rows the list shows, as (name, detail), and the highlighted one's index (-1: none).");
}
#undef PyInit__suggest

extern "C" PYBIND11_EXPORT PyObject* PyInit__suggest() {
  return receiptora_py::in_main_interpreter("receiptora._suggest", pybind11_entry_point);
}
