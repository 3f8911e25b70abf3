// Names each case of a parameterised suite after its `label` member. A named functor rather
// than a lambda: the instantiation macro's own parameter is called `info`, so a lambda taking
// `info` would shadow it.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace receiptora {

struct CaseLabel {
  template <class Case>
  std::string operator()(const testing::TestParamInfo<Case>& param) const {
    return param.param.label;
  }
};

}  // namespace receiptora
