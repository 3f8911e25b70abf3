// The batch issue behind `receiptora render`: many receipt requests on several threads.
#pragma once

#include <pybind11/pybind11.h>

namespace quillmarkers {

void register_batch_issue(pybind11::module_& m);

}  // namespace quillmarkers
