// quantity × unit price of an item row, computed once per pair of texts. The refresh tick
// sums the products into the grand total and Entry_Table.update shows them as line totals,
// both every 500 ms; with numbers of 100,000 digits and more, reading the texts costs
// milliseconds, so each pair is read once and then served from here.
#pragma once

#include <pybind11/pybind11.h>

#include <gmpxx.h>

#include <memory>

namespace gui::row_products {

namespace py = pybind11;

// The product when both texts (str) read as whole numbers, otherwise null. Texts are
// matched by identity first (the mirror hands out the same str until Tk writes a new one),
// then by value.
std::shared_ptr<const mpz_class> product(py::handle quantity, py::handle unit_price);

// Drops every kept pair, when the window closes.
void clear();

}  // namespace gui::row_products
