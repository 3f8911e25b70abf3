// Typed texts in spreadsheet cells: what gets the apostrophe, and that reading takes it off.
#include "receiptora/spreadsheet_cells.hpp"

#include <gtest/gtest.h>

#include "case_label.hpp"

namespace receiptora {
namespace {

struct CellCase {
  const char* label;
  std::string typed;
  std::string cell;
};

class Cell : public testing::TestWithParam<CellCase> {};

TEST_P(Cell, IsWrittenDisarmedAndReadBackAsTyped) {
  const CellCase& c = GetParam();
  EXPECT_EQ(disarmed_cell(c.typed), c.cell);
  EXPECT_EQ(typed_text_of_cell(c.cell), c.typed);
}

const CellCase kCellCases[] = {
    {"plain", "王小明", "王小明"},
    {"empty", "", ""},
    {"formula", "=SUM(A1:A9)", "'=SUM(A1:A9)"},
    {"plus", "+886", "'+886"},
    {"minus", "-1", "'-1"},
    {"at", "@cmd", "'@cmd"},
    {"tab", "\tx", "'\tx"},
    {"carriage_return", "\rx", "'\rx"},
    {"apostrophe_typed", "'abc", "'abc"},
    {"formula_inside", "a=b", "a=b"},
};
INSTANTIATE_TEST_SUITE_P(Cases, Cell, testing::ValuesIn(kCellCases), CaseLabel{});

}  // namespace
}  // namespace receiptora
