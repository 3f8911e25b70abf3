// The 收據簿 window's own dialogs, drawn with customtkinter in the window's look and words
// (確定／取消): Return answers 確定, Escape and the close button 取消. Each waits for its
// answer in a local event loop, as Tk's own dialogs do.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <string>

namespace receiptora_shop {

// The text typed (as typed), or nullopt when cancelled.
std::optional<std::string> ask_text(pybind11::handle parent, const std::string& title,
                                    const std::string& prompt, const std::string& font_family);
// True for 確定.
bool confirm(pybind11::handle parent, const std::string& title, const std::string& message,
             const std::string& font_family);

// Tk's own dialogs of `app`'s interpreter (the file dialog) in Traditional Chinese: the
// package's zh_tw message catalog loaded into msgcat, and msgcat's locale set to zh_tw; and,
// as in the receipt window, Ctrl+A selects all and a paste inserts only text (the kit's way).
void use_taiwan_dialogs(pybind11::handle app);

}  // namespace receiptora_shop
