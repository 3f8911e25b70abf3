#include <gtest/gtest.h>

#include "receiptora/tax_id.hpp"

namespace receiptora {
namespace {

struct TaxIdCase {
  const char* name;
  const char* text;
  bool valid;
};

class TaxId : public testing::TestWithParam<TaxIdCase> {};

TEST_P(TaxId, Checksum) { EXPECT_EQ(valid_tax_id(GetParam().text), GetParam().valid) << GetParam().text; }

INSTANTIATE_TEST_SUITE_P(
    Cases, TaxId,
    testing::Values(TaxIdCase{"DivisibleByTen", "22099131", true},
                    TaxIdCase{"DivisibleByFiveOnly", "10458570", true},
                    TaxIdCase{"LastDigitOff", "22099132", false},
                    TaxIdCase{"SeventhSevenCountedAsOne", "12345675", true},
                    TaxIdCase{"SeventhSevenNeither", "91234577", false},
                    TaxIdCase{"SeventhSevenDirectSum", "04595257", true},
                    TaxIdCase{"Failing", "12345678", false}, TaxIdCase{"SevenDigits", "2209913", false},
                    TaxIdCase{"NineDigits", "220991310", false}, TaxIdCase{"Letter", "2209913A", false},
                    TaxIdCase{"FullWidthDigits", "２２０９９１３１", false}, TaxIdCase{"Empty", "", false}),
    [](const testing::TestParamInfo<TaxIdCase>& case_info) { return std::string(case_info.param.name); });

}  // namespace
}  // namespace receiptora
