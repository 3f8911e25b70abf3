// What the operator typed, mirrored from each entry's text variable by a write trace, so
// reading a field (every refresh tick, every press) needs no round trip into Tk.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <unordered_map>
#include <vector>

namespace quillmarkers {

namespace py = pybind11;

// Entries are known by weak reference only: Tcl owns the traces, and a strong reference
// from there back to the widgets would keep the whole window alive.
class TextMirror : public std::enable_shared_from_this<TextMirror> {
 public:
  // Follows entry's text through variable, the entry's textvariable. Tk writes the variable
  // on every change of the text: typing, pasting, insert and delete calls alike.
  void follow(const py::object& entry, const py::object& variable) {
    const size_t index = slots_.size();
    slots_.push_back({py::weakref(entry), py::str("")});
    by_entry_[entry.ptr()] = index;
    std::weak_ptr<TextMirror> mirror = weak_from_this();
    py::weakref weak_variable(variable);
    variable.attr("trace_add")("write", py::cpp_function([mirror, index, weak_variable](py::args) {
                                 auto self = mirror.lock();
                                 py::object live = weak_variable();
                                 if (!self || live.is_none() || index >= self->slots_.size()) return;
                                 self->slots_[index].text = live.attr("get")();
                               }));
  }

  // The mirrored text of entry, or null when entry is not one this mirror follows.
  PyObject* text_of(py::handle entry) const {
    auto it = by_entry_.find(entry.ptr());
    if (it == by_entry_.end()) return nullptr;
    const Slot& slot = slots_[it->second];
    if (PyWeakref_GetObject(slot.entry.ptr()) != entry.ptr()) return nullptr;  // address reused
    return slot.text.ptr();
  }

  void clear() {
    slots_.clear();
    by_entry_.clear();
  }

 private:
  struct Slot {
    py::object entry;  // weakref
    py::object text;
  };
  std::vector<Slot> slots_;
  std::unordered_map<PyObject*, size_t> by_entry_;
};

}  // namespace quillmarkers
