// The window's side of the contract with the receipt worker. GUI receives two dictionaries:
// Queue_All_variable with the queues "get_receipt" and "end", Event_All_variable with the
// events "get_receipt" and "end".
//   busy test   the "get_receipt" event is set while the worker writes a receipt
//   hand-over   a receipt request is put on the "get_receipt" queue
//   shutdown    when the window closes: None on "end", set the "end" event, None on
//               "get_receipt" (wakes a worker that waits for its next request), in that order
// Run standalone (as "__main__"), the window has no worker and touches no channel.
#pragma once

#include <pybind11/pybind11.h>

#include "window_state.hpp"

namespace gui::worker_channels {

// The busy event's answer, as is_set() gives it (compared by the caller to True or False).
py::object busy_answer(const WindowState& s);

// Puts a receipt request on the worker's queue.
void hand_over(const WindowState& s, py::handle request);

// The three shutdown signals, in order; nothing when standalone.
void signal_shutdown(const WindowState& s);

}  // namespace gui::worker_channels
