// Shared pieces of the quillmarkers_model extension: registration entry points and the few
// helpers every widget class uses (customtkinter access, the CJK font).
#pragma once

#include <pybind11/pybind11.h>

#include "receiptora_py/collectable.hpp"
#include "receiptora_py/compare.hpp"

namespace quillmarkers {

namespace py = pybind11;
using receiptora_py::collectable;
using receiptora_py::same_value;

void register_error_log(py::module_& m);
void register_set_button(py::module_& m);
void register_set_table(py::module_& m);
void register_entry_table(py::module_& m);
void register_calendar(py::module_& m);

// The customtkinter module (imported on first use; Python caches it in sys.modules).
py::module_ ctk();

// A CTkFont in the CJK face Tk draws the product windows' "Microsoft JhengHei" captions with
// (else the first CJK-capable family Tk knows; the theme's default family when none is
// installed). Needs a Tk root, so widget code calls it only while building widgets.
py::object kit_font(int size, const char* weight = "normal");

// A new Python class `name` of this module, derived from customtkinter's class `base`.
py::object kit_subclass(const char* name, const char* base, const char* doc);

// Writes `error` (a Python exception) to the default error log under the name `where`.
void log_error(const std::string& where, py::handle error);

// Suggestions while typing (suggest_hook.cpp). The field names the host chose for them, and
// hooking an entry to them: take(name, detail) fills the fields when one is taken.
void register_suggestions(py::module_& m);
bool suggests_buyers(py::handle field_name);
bool suggests_items(py::handle column_title);
const std::string& suggested_tax_id_field();
const std::string& suggested_item_column();
const std::string& suggested_price_column();
void hook_suggestions(py::handle entry, const char* kind, py::object take);
// Replaces an entry's text, leaving the cursor at its end.
void replace_text(py::handle entry, py::handle text);

// Kit_Entry: a CTkEntry drawn first in one pass (kit_entry.cpp); the kit's tables use it.
py::object kit_entry_class();
// Kit_Frame and Kit_Option_Menu (kit_frame.cpp): the kit object's CTkFrame and CTkOptionMenu.
py::object kit_frame_class();
py::object kit_option_menu_class();

}  // namespace quillmarkers
