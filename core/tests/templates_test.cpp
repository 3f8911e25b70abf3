#include <gtest/gtest.h>

#include "case_label.hpp"
#include "receiptora/templates.hpp"

namespace receiptora {
namespace {

// A template found by the name the window and a request use, and by the key the book stores:
// both must lead to the same template, and an unknown one to none.
struct TemplateCase {
  const char* label;
  const char* name;
  const char* key;
  Template id;
  const char* window_font;
};

class Templates : public testing::TestWithParam<TemplateCase> {};

TEST_P(Templates, NameAndStoredKeyFindTheSameTemplate) {
  const TemplateCase& c = GetParam();
  const TemplateInfo* by_name = find_template(c.name);
  const TemplateInfo* by_key = template_of_key(c.key);
  ASSERT_NE(by_name, nullptr);
  EXPECT_EQ(by_name, by_key);
  EXPECT_EQ(by_name->id, c.id);
  EXPECT_EQ(by_name->window_font, c.window_font);
  EXPECT_EQ(&template_info(c.id), by_name);
}

INSTANTIATE_TEST_SUITE_P(Table, Templates,
                         testing::Values(TemplateCase{"General", "一般格式", "general", Template::General,
                                                      ""},
                                         TemplateCase{"Cat", "貓咪格式", "cat", Template::Cat, "simhei.ttf"}),
                         CaseLabel{});

TEST(Templates, UnknownNamesAndKeysFindNone) {
  EXPECT_EQ(find_template("其他"), nullptr);
  EXPECT_EQ(find_template("general"), nullptr) << "the book's key is no name";
  EXPECT_EQ(template_of_key("一般格式"), nullptr);
  EXPECT_EQ(templates().front().id, Template::General) << "the default first";
}

}  // namespace
}  // namespace receiptora
