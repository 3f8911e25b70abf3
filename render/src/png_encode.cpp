#include "png_encode.hpp"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace receiptora::render::detail {

namespace {

// The stamp red as drawn (200, 30, 30): its green and blue are equal, so every mix of
// white, grey, black and this red has G == B and R >= G, and is described by its grey
// level and its share of red.
constexpr int kRedR = 200, kRedG = 30;
constexpr int kGreys = 16, kReds = 16;
constexpr uint16_t kNoEntry = 0xffff;
constexpr png_byte kWhite = kGreys - 1;  // no red, the lightest grey

struct Palette {
  std::array<png_color, kGreys * kReds> colours{};
  std::vector<uint16_t> index = std::vector<uint16_t>(256 * 256, kNoEntry);  // by (R, G)

  Palette() {
    for (int a = 0; a < kReds; ++a) {
      for (int g = 0; g < kGreys; ++g) {
        const double share = a / double(kReds - 1), grey = g * 255.0 / (kGreys - 1);
        colours[a * kGreys + g] = {static_cast<png_byte>(std::lround((1 - share) * grey + share * kRedR)),
                                   static_cast<png_byte>(std::lround((1 - share) * grey + share * kRedG)),
                                   static_cast<png_byte>(std::lround((1 - share) * grey + share * kRedG))};
      }
    }
    for (int r = 0; r < 256; ++r) {
      for (int g = 0; g < 256; ++g) {
        const double share = (r - g) / double(kRedR - kRedG);
        if (share < -0.02 || share > 1.04) continue;
        const double a = std::clamp(share, 0.0, 1.0);
        const double grey = a > 0.999 ? 0 : std::clamp((g - a * kRedG) / (1 - a), 0.0, 255.0);
        const int ai = static_cast<int>(std::lround(a * (kReds - 1)));
        const int gi = static_cast<int>(std::lround(grey * (kGreys - 1) / 255));
        index[r * 256 + g] = static_cast<uint16_t>(ai * kGreys + gi);
      }
    }
  }
};

const Palette& palette() {
  static const Palette p;  // built once, thread-safe
  return p;
}

void append(png_structp png, png_bytep data, size_t size) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), size);
}
void flush(png_structp) {}

// libpng reports errors by longjmp, so this function holds nothing that needs a destructor.
bool write(std::string* out, int width, int height, bool indexed, const png_color* colours, int colour_count,
           png_bytep* rows, double dpi) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, out, append, flush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (indexed) png_set_PLTE(png, info, colours, colour_count);
  const auto per_metre = static_cast<png_uint_32>(std::lround(dpi / 0.0254));
  png_set_pHYs(png, info, per_metre, per_metre, PNG_RESOLUTION_METER);
  // The picture is mostly runs of one colour: run-length matching packs it nearly as well
  // as a full search, several times faster.
  png_set_compression_level(png, 1);
  png_set_compression_strategy(png, Z_RLE);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, indexed ? PNG_FILTER_NONE : PNG_FILTER_UP);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::string encode_png(cairo_surface_t* image, double dpi) {
  cairo_surface_flush(image);
  const int width = cairo_image_surface_get_width(image), height = cairo_image_surface_get_height(image);
  const int stride = cairo_image_surface_get_stride(image);
  const unsigned char* data = cairo_image_surface_get_data(image);
  const Palette& p = palette();

  // Every byte is written below, so the buffer starts uninitialised.
  auto pixels = std::make_unique_for_overwrite<png_byte[]>(static_cast<size_t>(width) * height);
  bool indexed = true;
  for (int y = 0; y < height && indexed; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
    png_byte* out = pixels.get() + static_cast<size_t>(y) * width;
    // One pixel to its palette entry; false when the colour has none.
    const auto put = [&](int x) {
      const uint32_t px = row[x] & 0xffffff;
      if (px == 0xffffff) {
        out[x] = kWhite;
        return true;
      }
      const int r = (px >> 16) & 0xff, g = (px >> 8) & 0xff, b = px & 0xff;
      const uint16_t i = p.index[r * 256 + g];
      if (i == kNoEntry || std::abs(g - b) > 3) return false;
      out[x] = static_cast<png_byte>(i);
      return true;
    };
    // Most of a receipt is white paper: test it sixteen pixels at a time.
    constexpr int kBlock = 16;
    int x = 0;
    for (; x + kBlock <= width && indexed; x += kBlock) {
      uint32_t all = 0xffffffff;
      for (int k = 0; k < kBlock; ++k) all &= row[x + k];
      if ((all & 0xffffff) == 0xffffff) {
        std::memset(out + x, kWhite, kBlock);
        continue;
      }
      for (int k = 0; k < kBlock && indexed; ++k) indexed = put(x + k);
    }
    for (; x < width && indexed; ++x) indexed = put(x);
  }
  if (!indexed) {
    pixels = std::make_unique_for_overwrite<png_byte[]>(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
      png_byte* out = pixels.get() + static_cast<size_t>(y) * width * 3;
      for (int x = 0; x < width; ++x) {
        out[3 * x] = (row[x] >> 16) & 0xff;
        out[3 * x + 1] = (row[x] >> 8) & 0xff;
        out[3 * x + 2] = row[x] & 0xff;
      }
    }
  }
  std::vector<png_bytep> rows(height);
  const size_t row_bytes = static_cast<size_t>(width) * (indexed ? 1 : 3);
  for (int y = 0; y < height; ++y) rows[y] = pixels.get() + y * row_bytes;
  std::string out;
  out.reserve(indexed ? 128 * 1024 : 512 * 1024);
  if (!write(&out, width, height, indexed, p.colours.data(), static_cast<int>(p.colours.size()), rows.data(),
             dpi)) {
    throw std::runtime_error("收據圖片（PNG）無法產生：libpng 編碼失敗");
  }
  return out;
}

}  // namespace receiptora::render::detail
