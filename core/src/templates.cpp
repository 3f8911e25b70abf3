#include "receiptora/templates.hpp"

#include <array>

namespace receiptora {

namespace {

// AR PL UMing TW: a Ming face with Taiwan's forms, TrueType outlines (quick to subset).
// The cat template asks for SimHei, the face the window checks for; without it cwTeX
// 粗黑體, a Hei face with Taiwan's forms, stands in. A character neither has (峯, 𠀋) comes
// from Noto CJK TC (fonts-noto-cjk) in the template's style: Serif for the Ming template,
// Sans for the Hei one, at the weight whose strokes are as wide as cwTeX 粗黑體's at the same
// size (Noto's regular weight: 2.8 px at 48 pt, as cwTeX; its Bold draws 4.3 px).
constexpr std::array kTemplates{
    TemplateInfo{Template::General, "一般格式", "general", "AR PL UMing TW", "Noto Serif CJK TC", ""},
    TemplateInfo{Template::Cat, "貓咪格式", "cat", "SimHei, cwTeXHeiBold", "Noto Sans CJK TC", "simhei.ttf"},
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

const TemplateInfo* template_of_key(std::string_view key) {
  for (const TemplateInfo& t : kTemplates)
    if (t.key == key) return &t;
  return nullptr;
}

const char* fallback_face(const char* faces) {
  for (const TemplateInfo& t : kTemplates)
    if (std::string_view(t.faces) == faces) return t.fallback;
  return nullptr;
}

}  // namespace receiptora
