// The receipt worker behind the window's "get_receipt" channel.
#pragma once

#include <pybind11/pybind11.h>

namespace quillmarkers {

void register_worker(pybind11::module_& m);

}  // namespace quillmarkers
