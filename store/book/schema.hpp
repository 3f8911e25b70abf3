// The book's schema, internal to the store.
#pragma once

#include <span>

namespace receiptora::store::sql {

// Each entry takes the schema from its index to the next version (kBookVersion entries).
std::span<const char* const> migrations();

}  // namespace receiptora::store::sql
