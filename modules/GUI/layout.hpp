// The main window's widgets, built into the window state.
#pragma once

#include "window_state.hpp"

namespace gui {

// Builds the root window and everything on it; the handlers close over state.
void build_window(const State& state);

}  // namespace gui
