#include "row_products.hpp"

#include <cstdint>
#include <vector>

#include "receiptora/amounts.hpp"
#include "receiptora/whole_number.hpp"
#include "receiptora_py/compare.hpp"
#include "receiptora_py/convert.hpp"

namespace gui::row_products {

namespace {

// Seven rows, each typed over a few times between ticks.
constexpr size_t kKept = 32;

struct Pair {
  py::object quantity, unit_price;
  std::shared_ptr<const mpz_class> product;
  py::object line_total;  // made on first request
  uint64_t used = 0;
};

// Never destroyed: the interpreter may be gone by the time static objects are.
std::vector<Pair>& pairs() {
  static auto* kept = new std::vector<Pair>();
  return *kept;
}
uint64_t g_clock = 0;

// The kept pair of these texts, read and kept now when new (the least recently used goes).
Pair& pair_of(py::handle quantity, py::handle unit_price) {
  if (!PyUnicode_Check(quantity.ptr()) || !PyUnicode_Check(unit_price.ptr()))
    throw py::type_error("expected str");
  std::vector<Pair>& kept = pairs();
  for (Pair& pair : kept) {
    if (receiptora_py::same_text(pair.quantity, quantity) &&
        receiptora_py::same_text(pair.unit_price, unit_price)) {
      pair.used = ++g_clock;
      return pair;
    }
  }
  Pair pair{py::reinterpret_borrow<py::object>(quantity), py::reinterpret_borrow<py::object>(unit_price),
            nullptr, py::object(), ++g_clock};
  if (const auto q = receiptora::parse_whole_number(receiptora_py::to_u32(quantity))) {
    if (const auto p = receiptora::parse_whole_number(receiptora_py::to_u32(unit_price)))
      pair.product = std::make_shared<const mpz_class>(*q * *p);
  }
  if (kept.size() < kKept) {
    kept.push_back(std::move(pair));
    return kept.back();
  }
  auto oldest = kept.begin();
  for (auto it = kept.begin(); it != kept.end(); ++it)
    if (it->used < oldest->used) oldest = it;
  *oldest = std::move(pair);
  return *oldest;
}

}  // namespace

std::shared_ptr<const mpz_class> product(py::handle quantity, py::handle unit_price) {
  return pair_of(quantity, unit_price).product;
}

py::str line_total(py::handle quantity, py::handle unit_price) {
  Pair& pair = pair_of(quantity, unit_price);
  if (!pair.line_total)
    pair.line_total = py::str(pair.product ? receiptora::line_total_text(*pair.product) : "");
  return pair.line_total;
}

void clear() { pairs().clear(); }

}  // namespace gui::row_products
