// Corrections to the PDF cairo writes, made in place without changing its length, so the
// cross-reference table's byte offsets stay true.
#pragma once

#include <string>

namespace receiptora::render::detail {

// Dates as the PDF date format writes them ("D:20261207140300+08'00'"), and each resource
// dictionary naming an image once (cairo 1.16 repeats the name of a picture drawn twice on
// a page, which strict readers refuse as a duplicated key).
void tidy_pdf(std::string& pdf);

}  // namespace receiptora::render::detail
