#include "dialogs.hpp"

#include <memory>

namespace receiptora_shop {

namespace {

namespace py = pybind11;
using namespace pybind11::literals;

// The dialog's widgets and answer; its handlers hold it, and it holds the widgets: the cycle
// is cut once the dialog is closed.
struct Dialog {
  py::object top, entry;
  bool confirmed = false;
  std::string text;
};

bool run_dialog(py::handle parent, const std::string& title, const std::string& message,
                const std::string& font_family, bool with_entry, std::string* text) {
  py::object ctk = py::module_::import("customtkinter");
  auto d = std::make_shared<Dialog>();
  py::object font = ctk.attr("CTkFont")("family"_a = font_family, "size"_a = 14);
  d->top = ctk.attr("CTkToplevel")(parent);
  d->top.attr("title")(title);
  d->top.attr("resizable")(false, false);
  d->top.attr("transient")(parent);
  ctk.attr("CTkLabel")(d->top, "text"_a = message, "font"_a = font, "justify"_a = "left",
                       "wraplength"_a = 380)
      .attr("grid")("row"_a = 0, "column"_a = 0, "sticky"_a = "w", "padx"_a = 20,
                    "pady"_a = py::make_tuple(18, 8));
  if (with_entry) {
    d->entry = ctk.attr("CTkEntry")(d->top, "width"_a = 380, "font"_a = font);
    d->entry.attr("grid")("row"_a = 1, "column"_a = 0, "padx"_a = 20, "pady"_a = 4);
  }
  std::weak_ptr<Dialog> weak = d;
  auto close = [weak](bool confirmed) {
    if (auto dialog = weak.lock(); dialog && dialog->top) {
      dialog->confirmed = confirmed;
      if (confirmed && dialog->entry) dialog->text = py::str(dialog->entry.attr("get")());
      dialog->top.attr("destroy")();
    }
  };
  py::object ok = py::cpp_function([close](py::args) { close(true); });
  py::object cancel = py::cpp_function([close](py::args) { close(false); });
  py::object buttons = ctk.attr("CTkFrame")(d->top, "fg_color"_a = "transparent");
  buttons.attr("grid")("row"_a = 2, "column"_a = 0, "sticky"_a = "e", "padx"_a = 14,
                       "pady"_a = py::make_tuple(10, 16));
  ctk.attr("CTkButton")(buttons, "text"_a = "取消", "width"_a = 90, "font"_a = font, "fg_color"_a = "#565b5e",
                        "command"_a = cancel)
      .attr("pack")("side"_a = "left", "padx"_a = 6);
  ctk.attr("CTkButton")(buttons, "text"_a = "確定", "width"_a = 90, "font"_a = font, "command"_a = ok)
      .attr("pack")("side"_a = "left", "padx"_a = 6);
  d->top.attr("protocol")("WM_DELETE_WINDOW", cancel);
  d->top.attr("bind")("<Return>", ok);
  d->top.attr("bind")("<KP_Enter>", ok);
  d->top.attr("bind")("<Escape>", cancel);
  try {
    d->top.attr("wait_visibility")();
    d->top.attr("grab_set")();
    (d->entry ? d->entry : d->top).attr("focus_force")();
    parent.attr("wait_window")(d->top);
  } catch (...) {
    try {
      d->top.attr("destroy")();
    } catch (py::error_already_set&) {
    }
    d->top = d->entry = py::object();
    throw;
  }
  d->top = d->entry = py::object();
  if (text) *text = d->text;
  return d->confirmed;
}

}  // namespace

std::optional<std::string> ask_text(py::handle parent, const std::string& title, const std::string& prompt,
                                    const std::string& font_family) {
  std::string text;
  if (!run_dialog(parent, title, prompt, font_family, true, &text)) return std::nullopt;
  return text;
}

void use_taiwan_dialogs(py::handle app) {
  // The kit's one way for every window: the zh_tw catalog, Ctrl+A and a paste of text only.
  py::module_::import("quillmarkers_model").attr("taiwan_habits")(app);
}

bool confirm(py::handle parent, const std::string& title, const std::string& message,
             const std::string& font_family) {
  return run_dialog(parent, title, message, font_family, false, nullptr);
}

}  // namespace receiptora_shop
