#include "toolkit.hpp"

#include <iterator>

#include "module_names.hpp"
#include "receiptora_py/ctk_window.hpp"

namespace gui::toolkit {

namespace {

constexpr int kQuietPollMs = 5000;

// The trackers whose poll the window slows: the appearance-mode poll (the window fixes dark
// mode, so there is nothing to detect) and, where DPI scaling is fixed (Linux), the scaling
// poll. Monitors can change DPI on Windows, so there the scaling poll keeps its pace.
#ifdef _WIN32
constexpr const char* kQuietTrackers[] = {"AppearanceModeTracker"};
#else
constexpr const char* kQuietTrackers[] = {"AppearanceModeTracker", "ScalingTracker"};
#endif
constexpr size_t kTrackers = std::size(kQuietTrackers);

// The intervals found before the window slowed them (owned references; null: none saved).
PyObject* g_saved_intervals[kTrackers] = {};

// Unslowed, the two polls wake the idle window about 43 times a second.
void quiet_polls() {
  for (size_t i = 0; i < kTrackers; ++i) {
    py::object tracker = ctk().attr(kQuietTrackers[i]);
    if (!g_saved_intervals[i])
      g_saved_intervals[i] = py::object(tracker.attr("update_loop_interval")).release().ptr();
    tracker.attr("update_loop_interval") = kQuietPollMs;
  }
}

}  // namespace

py::object ctk() { return global("customtkinter"); }

void prepare() {
  ctk().attr("set_appearance_mode")("dark");
  ctk().attr("set_default_color_theme")("blue");
  quiet_polls();
}

void restore_polls() {
  for (size_t i = 0; i < kTrackers; ++i) {
    if (!g_saved_intervals[i]) continue;
    py::object saved = py::reinterpret_steal<py::object>(g_saved_intervals[i]);
    g_saved_intervals[i] = nullptr;
    ctk().attr(kQuietTrackers[i]).attr("update_loop_interval") = saved;
  }
}

void cancel_timers(py::handle app) { receiptora_py::cancel_timers(app); }

void forget_closed_window(py::handle app) { receiptora_py::forget_closed_window(ctk(), app); }

}  // namespace gui::toolkit
