// The receipt templates the window offers, the default first, with the font file it checks
// for before issuing one. They are the renderer's (render/include/receiptora/render/
// templates.hpp), spelled here because linking the renderer would load cairo and pango into
// the window; tests/gui/test_window_layout.py holds the two lists equal.
#pragma once

namespace gui {

struct WindowTemplate {
  const char* name;
  const char* font_file;  // "" when the template needs no particular font
  const char* faces;      // the families the renderer asks for, the first installed drawn
};

inline constexpr WindowTemplate kGeneralTemplate{"一般格式", "", "AR PL UMing TW"};
inline constexpr WindowTemplate kCatTemplate{"貓咪格式", "simhei.ttf", "SimHei, cwTeXHeiBold"};
inline constexpr WindowTemplate kTemplates[] = {kGeneralTemplate, kCatTemplate};

}  // namespace gui
