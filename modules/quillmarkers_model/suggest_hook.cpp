// Suggestions while typing, the kit's part: the host names the book's folder once
// (suggest_from), and the tables built afterwards hook their buyer entry and item-name cells.
// A hooked entry gets two binding tags around Tk's Entry class: one before it for the keys
// that move through the list (so Delete and Return reach the list, not the text), one after
// it that sees the text as typed. Everything else is receiptora._suggest, imported on the
// first keystroke; until then a hooked entry costs two Tk calls at build and nothing more.
#include <functional>
#include <string>

#include "kit.hpp"
#include "receiptora_py/guards.hpp"

namespace quillmarkers {

namespace {

using namespace py::literals;

constexpr const char* kKeysTag = "ReceiptoraSuggestKeys";
constexpr const char* kTextTag = "ReceiptoraSuggestText";
constexpr const char* kHook = "_receiptora_suggest";  // on the Tk entry: (kind, take)

struct Settings {
  py::object folder;  // None: off
  std::string buyer, tax_id, item, price;
};

// Never destroyed: Python objects must not outlive the interpreter in a static destructor.
Settings& settings() {
  static Settings* s = new Settings{py::none(), "買受人", "統一編號", "商品名稱", "商品單價"};
  return *s;
}

// The suggestion module once the first keystroke loaded it, else null.
py::object loaded() {
  PyObject* module = PyImport_GetModule(py::str("receiptora._suggest").ptr());
  if (!module) PyErr_Clear();
  return py::reinterpret_steal<py::object>(module);
}

// A failure never reaches the typing: it goes to the error log (the module raises only
// what it has not reported yet).
py::object guarded(const char* where, const std::function<py::object()>& call) {
  py::object result = py::none();
  receiptora_py::on_exception(
      [&] { result = call(); },
      [&](py::handle error) { log_error(std::string("suggestions ") + where, error); });
  return result;
}

py::object on_keys(py::object event) {
  py::object module = loaded();
  if (!module) return py::none();  // nothing typed yet: no list to move through
  return guarded("key", [&] { return module.attr("key")(event.attr("widget"), event.attr("keysym")); });
}

py::object on_focus_out(py::object event) {
  py::object module = loaded();
  if (!module) return py::none();
  return guarded("focus", [&] { return module.attr("dismiss")(event.attr("widget")); });
}

py::object on_text(py::object event) {
  return guarded("typed", [&]() -> py::object {
    py::object widget = event.attr("widget");
    py::object hook = py::getattr(widget, kHook, py::none());
    if (hook.is_none() || settings().folder.is_none()) return py::none();
    return py::module_::import("receiptora._suggest")
        .attr("typed")(settings().folder, hook[py::int_(0)], widget, hook[py::int_(1)]);
  });
}

}  // namespace

bool suggests_buyers(py::handle name) {
  return !settings().folder.is_none() && py::str(settings().buyer).equal(name);
}
bool suggests_items(py::handle title) {
  return !settings().folder.is_none() && py::str(settings().item).equal(title);
}
const std::string& suggested_tax_id_field() { return settings().tax_id; }
const std::string& suggested_item_column() { return settings().item; }
const std::string& suggested_price_column() { return settings().price; }

void replace_text(py::handle entry, py::handle text) {
  entry.attr("delete")(0, "end");
  entry.attr("insert")(0, text);
  entry.attr("icursor")("end");
}

void hook_suggestions(py::handle entry, const char* kind, py::object take) {
  py::object inner = entry.attr("_entry");
  inner.attr(kHook) = py::make_tuple(kind, std::move(take));
  py::object root = inner.attr("_root")();
  if (!py::hasattr(root, "_receiptora_suggest_bound")) {  // class bindings: once per Tk
    root.attr("bind_class")(kKeysTag, "<KeyPress>", py::cpp_function(on_keys));
    root.attr("bind_class")(kKeysTag, "<FocusOut>", py::cpp_function(on_focus_out));
    root.attr("bind_class")(kTextTag, "<KeyPress>", py::cpp_function(on_text));
    root.attr("_receiptora_suggest_bound") = true;
  }
  py::tuple tags = inner.attr("bindtags")();
  py::list order;
  for (size_t i = 0; i < tags.size(); ++i) {
    if (i == 1) order.append(kKeysTag);
    order.append(tags[i]);
    if (i == 1) order.append(kTextTag);
  }
  inner.attr("bindtags")(py::tuple(order));
}

void register_suggestions(py::module_& m) {
  m.def(
      "suggest_from",
      [](py::object folder, std::string buyer, std::string tax_id, std::string item, std::string price) {
        settings() = {std::move(folder), std::move(buyer), std::move(tax_id), std::move(item),
                      std::move(price)};
      },
      "folder"_a, "buyer"_a = "買受人", "tax_id"_a = "統一編號", "item"_a = "商品名稱",
      "price"_a = "商品單價",
      "Tables built from now on suggest buyers and items from the book in folder while the "
      "operator types (None: no suggestions): the Set_Table field buyer, filling tax_id too, and "
      "the Entry_Table column item, filling price in its row.");
}

}  // namespace quillmarkers
