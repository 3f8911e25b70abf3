// The date switch and the two stamp check boxes copy their state into the record.
#include "module_names.hpp"
#include "receiptora/request_keys.hpp"
#include "receiptora_py/compare.hpp"
#include "window_state.hpp"

namespace gui {

namespace keys = receiptora::request_keys;

namespace {

// "on" sets the key, "off" (read a second time) clears it, anything else changes nothing.
py::object make_toggle(const State& state, py::object WindowState::*variable, const char* key) {
  return py::cpp_function([state, variable, key] {
    WindowState& s = open_window(state);
    if (receiptora_py::equals((s.*variable).attr(name("get"))(), py::str("on"))) {
      s.parameters_record.attr(name("parameters"))[key] = true;
    } else if (receiptora_py::equals((s.*variable).attr(name("get"))(), py::str("off"))) {
      s.parameters_record.attr(name("parameters"))[key] = false;
    }
  });
}

}  // namespace

py::object make_date_toggle(const State& state) {
  return make_toggle(state, &WindowState::date_switch, keys::kShowDate);
}
py::object make_exemption_stamp_toggle(const State& state) {
  return make_toggle(state, &WindowState::exemption_stamp_box, keys::kShowExemptionStamp);
}
py::object make_owner_seal_toggle(const State& state) {
  return make_toggle(state, &WindowState::owner_seal_box, keys::kShowOwnerSeal);
}

}  // namespace gui
