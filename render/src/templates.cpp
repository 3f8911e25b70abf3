#include "receiptora/render/templates.hpp"

#include <array>

#include "cat_art.hpp"

namespace receiptora::render {

namespace {

constexpr std::array kDrawings{
    TemplateDrawing{Template::General, TitleStyle::DoubleRule, 0, nullptr},
    TemplateDrawing{Template::Cat, TitleStyle::Framed, detail::kCatArtRoom, detail::draw_cat_art},
};

}  // namespace

const TemplateDrawing& template_drawing(Template id) {
  for (const TemplateDrawing& t : kDrawings)
    if (t.id == id) return t;
  return kDrawings.front();
}

}  // namespace receiptora::render
