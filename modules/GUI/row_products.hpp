// quantity × unit price of an item row, computed once per pair of texts, and the line total
// shown for it. The refresh tick sums the products into the grand total and
// Entry_Table.update shows the line totals, both every 500 ms; with numbers of 100,000 digits
// and more, reading the texts and writing the product cost milliseconds, so each pair is
// read once and then served from here: the one cache of a row's product.
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

// The line-total cell's text for the pair: "" unless both read as whole numbers; the same
// str object for as long as the pair is kept, so showing it again changes nothing.
py::str line_total(py::handle quantity, py::handle unit_price);

// Drops every kept pair, when the window closes.
void clear();

}  // namespace gui::row_products
