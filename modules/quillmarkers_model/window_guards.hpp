// The guards for the operator's slips around the receipt window (window_guards.cpp): what the
// kit's widgets tell them.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace quillmarkers {

void register_window_guards(pybind11::module_& m);

// A kit entry of a guarded window: kind "buyer", "tax_id" or "item" (an item row's typed cell).
void guard_field(pybind11::handle entry, const char* kind);

// A calendar of a guarded window chose a day (the badge follows it).
void day_chosen(pybind11::handle widget);

// On the window's thread: a request was handed over, its answer is on its way.
void expect_answer();

// From any thread, GIL held: what became of a request, to show on the guarded window.
void post_answer(pybind11::dict answer);

// In the widget's Tk: Ctrl+A selects all, a paste inserts only text, Tk's dialogs in 繁體中文.
void taiwan_habits(pybind11::handle widget);

// On the window's thread: a message shown at once (a press the window itself refused).
void say_now(const std::string& title);

}  // namespace quillmarkers
