// A receipt laid out on A5 landscape pages and drawn with cairo and pango. Units are points;
// the caller's cairo context decides the device (PDF page or 150 dpi picture).
#pragma once

#include <cairo.h>

#include <memory>

#include "page_layout.hpp"
#include "receiptora/receipt.hpp"

namespace receiptora::render::detail {

// What a page is drawn with; the tests draw the stamps apart from everything else to see
// that they never cover it.
enum Layer : unsigned { kPrint = 1, kStamps = 2, kMark = 4, kCode = 8, kAllLayers = 15 };

// A receipt laid out into pages. Built once, then each page is drawn on its own context, as
// often as wanted (the PDF and the picture). Drawing keeps the texts it lays out, so one
// Document is drawn by one thread at a time.
class Document {
 public:
  // Layout uses the calling thread's font map and unhinted metrics, so it is the same for
  // the PDF and the picture and needs no device.
  explicit Document(const Receipt& receipt);
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  int pages() const;
  const Layout& layout() const;
  void draw_page(cairo_t* cr, int page, unsigned layers = kAllLayers) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace receiptora::render::detail
