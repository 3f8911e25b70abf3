#include "receiptora/render/templates.hpp"

#include <array>

#include "cat_art.hpp"

namespace receiptora::render {

namespace {

// AR PL UMing TW: a Ming face with Taiwan's forms, TrueType outlines (quick to subset).
// The cat template asks for SimHei, the face the window checks for; without it cwTeX
// 粗黑體, a Hei face with Taiwan's forms, stands in. A character neither has (峯, 𠀋) comes
// from Noto CJK TC (fonts-noto-cjk) in the template's style: Serif for the Ming template,
// Sans for the Hei one, at the weight whose strokes are as wide as cwTeX 粗黑體's at the same
// size (Noto's regular weight: 2.8 px at 48 pt, as cwTeX; its Bold draws 4.3 px).
constexpr std::array kTemplates{
    TemplateInfo{Template::General, "一般格式", "AR PL UMing TW", "Noto Serif CJK TC", "",
                 TitleStyle::DoubleRule, 0, nullptr},
    TemplateInfo{Template::Cat, "貓咪格式", "SimHei, cwTeXHeiBold", "Noto Sans CJK TC", "simhei.ttf",
                 TitleStyle::Framed, detail::kCatArtRoom, detail::draw_cat_art},
};

}  // namespace

std::span<const TemplateInfo> templates() { return kTemplates; }

const TemplateInfo& template_info(Template id) {
  for (const TemplateInfo& t : kTemplates)
    if (t.id == id) return t;
  return kTemplates.front();
}

const char* fallback_face(const char* faces) {
  for (const TemplateInfo& t : kTemplates)
    if (std::string_view(t.faces) == faces) return t.fallback;
  return nullptr;
}

const TemplateInfo* find_template(std::string_view name) {
  for (const TemplateInfo& t : kTemplates)
    if (t.name == name) return &t;
  return nullptr;
}

}  // namespace receiptora::render
