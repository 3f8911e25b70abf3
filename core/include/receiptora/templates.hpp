// The receipt templates, in one table: what each is called (the window's menu, the request's
// 版本, the ledger's 版本 column), the key the book stores, which faces its text is set in and
// the font file the window checks for before issuing one. How each one is drawn (its title,
// its artwork) is the renderer's. A new template is one entry here and one in the renderer.
#pragma once

#include <span>
#include <string_view>

#include "receiptora/receipt.hpp"

namespace receiptora {

// Names, keys and font files are string literals: their data() ends in a NUL, for C callers.
struct TemplateInfo {
  Template id;
  std::string_view name;  // as the window's menu and the request's 版本 say it
  std::string_view key;   // as the book stores it
  // pango family list for the receipt's text, first choice first. Only faces with Taiwan's
  // standard glyph forms: fontconfig falls back to the others only for a character none has.
  const char* faces;
  // The face for characters none of `faces` has: one of the same style (a bold sans for a
  // Hei template, a Ming face for a Ming one), so such a character does not stand out.
  const char* fallback;
  std::string_view window_font;  // font file the window looks for first ("" none)
};

// The default first.
std::span<const TemplateInfo> templates();
const TemplateInfo& template_info(Template id);
// The template of that name, or null.
const TemplateInfo* find_template(std::string_view name);
// The template the book stores under `key`, or null.
const TemplateInfo* template_of_key(std::string_view key);
// The fallback face of the template whose `faces` these are, or null.
const char* fallback_face(const char* faces);

}  // namespace receiptora
