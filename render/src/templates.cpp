#include "receiptora/render/templates.hpp"

#include <array>

#include "cat_art.hpp"

namespace receiptora::render {

namespace {

// AR PL UMing TW: a Ming face with Taiwan's forms, TrueType outlines (quick to subset).
// The cat template asks for SimHei, the face the window checks for; without it cwTeX
// 粗黑體, a Hei face with Taiwan's forms, stands in.
constexpr std::array kTemplates{
    TemplateInfo{Template::General, "一般格式", "AR PL UMing TW", "", TitleStyle::DoubleRule, 0, nullptr},
    TemplateInfo{Template::Cat, "貓咪格式", "SimHei, cwTeXHeiBold, AR PL UMing TW", "simhei.ttf",
                 TitleStyle::Framed, detail::kCatArtRoom, detail::draw_cat_art},
};

}  // namespace

std::span<const TemplateInfo> templates() { return kTemplates; }

const TemplateInfo& template_info(Template id) {
  for (const TemplateInfo& t : kTemplates)
    if (t.id == id) return t;
  return kTemplates.front();
}

const TemplateInfo* find_template(std::string_view name) {
  for (const TemplateInfo& t : kTemplates)
    if (t.name == name) return &t;
  return nullptr;
}

}  // namespace receiptora::render
