// A receipt's picture on the desktop's clipboard as image/png, to paste into a chat or a mail.
// X11 keeps a clipboard only while a program owns and serves it, and Tk's clipboard serves text
// only; xclip (or wl-copy on Wayland) takes the picture, serves it from the background and stays
// until something else is copied, also after Receiptora has ended. Pure C++, no Python.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace receiptora::print {

namespace fs = std::filesystem;

// Puts the bytes of the PNG file `png` on the clipboard as image/png: wl-copy when WAYLAND_DISPLAY
// is set and wl-copy is installed, else xclip on $DISPLAY; each started with an argument list (no
// shell) and waited for (the program that serves the picture goes on in the background). Returns
// "" when the picture is on the clipboard, else a sentence for the shop owner (no display, the
// program missing, the program's own complaint).
std::string copy_png_to_clipboard(const fs::path& png);

// What 複製圖片 did for receipt `number` of the output folder `root`: whether the picture is on
// the clipboard, and the sentence to show (or why not). Page 1 goes as the picture (a chat takes one picture
// from the clipboard, and a page of 1240 × 874 pixels stays legible where a long strip of pages
// would be shrunk); a longer receipt's sentence says where its other pages are.
struct CopyOutcome {
  bool copied = false;
  std::string message;
};
CopyOutcome copy_receipt_picture(const fs::path& root, std::string_view number);

}  // namespace receiptora::print
