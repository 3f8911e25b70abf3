#include "worker_channels.hpp"

#include "module_names.hpp"

namespace gui::worker_channels {

py::object busy_answer(const WindowState& s) { return s.events[name("get_receipt")].attr(name("is_set"))(); }

void hand_over(const WindowState& s, py::handle request) {
  s.queues[name("get_receipt")].attr(name("put"))(request);
}

void signal_shutdown(const WindowState& s) {
  if (standalone()) return;
  s.queues["end"].attr("put")(py::none());
  s.events["end"].attr("set")();
  s.queues["get_receipt"].attr("put")(py::none());
}

}  // namespace gui::worker_channels
