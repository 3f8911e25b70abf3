// The suggestion list: a borderless window under the entry being typed in, made on first use
// and reused, which never takes the keyboard. Moved through with Down/Up from the entry's
// bindings; a row is taken with Return or a click, hidden for good with Delete.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "receiptora/store/suggestions.hpp"

namespace quillmarkers::suggest {

namespace py = pybind11;
using receiptora::store::Suggestion;

// What the list does with a row taken or deleted.
struct Owner {
  py::object widget;  // weakref of the Tk entry typed in
  py::object take;    // take(name, detail)
  std::string kind;   // "buyer" or "item"
};

// Shows `rows` under the Tk entry `widget`, none highlighted.
void show(const Owner& owner, std::vector<Suggestion> rows);
void hide();
// True when `widget` is the list's window or a part of it.
bool is_list_window(py::handle widget);
// True when the list is showing for `widget`.
bool showing_for(py::handle widget);
// Down (+1) or Up (-1); Up from the first row leaves none highlighted.
void move(int step);
// The rows shown (0 while hidden), and who they are shown for.
int count();
const Owner& owner();
// The highlighted row, or -1.
int highlighted();
const Suggestion& row(int index);
// Removes a row from the list (hidden in the book by the caller); hides the list when empty.
void remove(int index);
// Takes a row: the owner's take(name, detail), then the list hides.
void take(int index);

}  // namespace quillmarkers::suggest
