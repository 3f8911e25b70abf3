// The renderer's output read back: PDF text through pdftotext (poppler-utils), pictures
// through libpng.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cairo.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "receiptora/render/render.hpp"

namespace receiptora::render {
namespace {

Receipt sample() {
  Receipt r;
  r.seller = {"喵喵文具行", "12345678", "王小明", "臺北市中正區重慶南路一段 122 號", "02-2345-6789", "", ""};
  r.number = "收據-20261207-003";
  r.buyer = "大同國民小學";
  r.buyer_tax_id = "87654321";
  r.date = Date{2026, 12, 7};
  r.items = {{"原子筆", 12, 15, ""}, {"紙張", 2, 1350, "含運"}, {"說明一行", 0, 0, ""}};
  r.exemption_stamp = r.owner_seal = true;
  return r;
}

std::string temp_file(const std::string& bytes, const char* suffix) {
  std::string path = "/tmp/receiptora_render_XXXXXX" + std::string(suffix);
  const int fd = mkstemps(path.data(), static_cast<int>(std::string(suffix).size()));
  if (fd < 0) throw std::runtime_error("no temporary file");
  close(fd);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[65536];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0) << command;
  return out;
}

// The PDF's text as pdftotext reads it, with white space removed.
std::string pdf_text(const Receipt& r, const char* tool = "pdftotext -layout", const char* args = " -") {
  const std::string path = temp_file(render_pdf(r), ".pdf");
  std::string text = run(std::string(tool) + " " + path + args);
  std::remove(path.c_str());
  if (std::string(tool).starts_with("pdftotext"))
    std::erase_if(text, [](char c) { return c == ' ' || c == '\n'; });
  return text;
}

struct Picture {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  // Pixels clearly red (stamp ink), or clearly blue, inside a box of page points.
  int count(bool blue, double x0, double y0, double x1, double y1) const {
    const double s = 150.0 / 72;
    int n = 0;
    for (int y = int(y0 * s); y < std::min(height, int(y1 * s)); ++y)
      for (int x = int(x0 * s); x < std::min(width, int(x1 * s)); ++x) {
        const unsigned char* p = &rgb[3 * (size_t(y) * width + x)];
        n += blue ? (p[2] > 150 && p[0] < 100) : (p[0] > 150 && p[1] < 100 && p[2] < 100);
      }
    return n;
  }
};

Picture decode(const std::string& png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  EXPECT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size()));
  image.format = PNG_FORMAT_RGB;
  Picture p{static_cast<int>(image.width), static_cast<int>(image.height), {}};
  p.rgb.resize(PNG_IMAGE_SIZE(image));
  EXPECT_TRUE(png_image_finish_read(&image, nullptr, p.rgb.data(), 0, nullptr));
  return p;
}

TEST(Pdf, EveryFieldReadsBack) {
  const std::string text = pdf_text(sample());
  for (const char* field : {"免用統一發票收據", "收據-20261207-003", "喵喵文具行", "12345678", "王小明",
                            "臺北市中正區重慶南路一段122號", "02-2345-6789", "大同國民小學", "87654321",
                            "中華民國115年12月7日", "原子筆", "紙張", "含運", "說明一行", "1,350", "2,700",
                            "2,880", "新臺幣貳仟捌佰捌拾元整", "免用統一發票專用章"}) {
    EXPECT_NE(text.find(field), std::string::npos) << field;
  }
}

TEST(Pdf, BlankDateToFillByHand) {
  Receipt r = sample();
  r.date.reset();
  const std::string text = pdf_text(r);
  EXPECT_NE(text.find("中華民國年月日"), std::string::npos) << text;
}

TEST(Pdf, InvalidDateIsRefused) {
  Receipt r = sample();
  r.date = Date{1911, 12, 31};
  EXPECT_THROW(render_pdf(r), std::invalid_argument);
  r.date = Date{2026, 2, 29};
  EXPECT_THROW(render_png(r), std::invalid_argument);
}

TEST(Pdf, MetadataAndEmbeddedSubsetFonts) {
  Receipt r = sample();
  r.created_at = "2026-12-07T14:03:00+08:00";
  const std::string info = pdf_text(r, "pdfinfo -isodates", "");
  EXPECT_NE(info.find("免用統一發票收據 收據-20261207-003"), std::string::npos) << info;
  EXPECT_NE(info.find("2026-12-07T14:03:00+08"), std::string::npos) << info;
  const std::string fonts = pdf_text(r, "pdffonts", "");
  EXPECT_NE(fonts.find("UMing"), std::string::npos) << fonts;
  EXPECT_NE(fonts.find("UKai"), std::string::npos) << fonts;  // the owner's seal
  EXPECT_EQ(fonts.find(" no "), std::string::npos) << "every font embedded and subset:\n" << fonts;
  EXPECT_LE(render_pdf(r).size(), 80u * 1024);
}

struct TotalCase {
  const char* label;
  std::vector<Item> items;
  const char* figures;
  const char* capitals;
};

class Totals : public testing::TestWithParam<TotalCase> {};

TEST_P(Totals, FiguresAndCapitalsAgree) {
  Receipt r = sample();
  r.items = GetParam().items;
  const std::string text = pdf_text(r);
  EXPECT_NE(text.find(std::string("合計") + GetParam().figures), std::string::npos) << text;
  EXPECT_NE(text.find(std::string("新臺幣") + GetParam().capitals), std::string::npos) << text;
}

const TotalCase kTotals[] = {
    {"empty", {}, "0", "零元整"},
    {"text_line_adds_nothing", {{"備品", 0, 0, ""}, {"茶", 7, 30, ""}}, "210", "貳佰壹拾元整"},
    {"refund", {{"退貨", -3, 500, ""}, {"茶", 1, 100, ""}}, "-1,400", "負壹仟肆佰元整"},
    {"past_jing",
     {{"大宗", mpz_class("1000000000000"), mpz_class("100000000"), ""}},
     "100,000,000,000,000,000,000",
     "壹垓元整"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Totals, testing::ValuesIn(kTotals),
                         [](const auto& p) { return std::string(p.param.label); });

TEST(Png, SizeAndStampInk) {
  Receipt r = sample();
  const Picture on = decode(render_png(r));
  EXPECT_EQ(on.width, 1240);
  EXPECT_EQ(on.height, 874);
  // Both stamps sit in the lower right of the page.
  EXPECT_GT(on.count(false, 300, 300, 595, 420), 2000);
  EXPECT_EQ(on.count(false, 0, 0, 595, 300), 0);
  r.exemption_stamp = r.owner_seal = false;
  const std::string png = render_png(r);
  EXPECT_EQ(decode(png).count(false, 0, 0, 595, 420), 0);
  EXPECT_LE(png.size(), 150u * 1024);
}

TEST(Png, StampPicturesReplaceDrawnStamps) {
  // A blue square with a transparent border stands in for both stamps.
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 60, 60);
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, 0.1, 0.2, 0.9);
  cairo_rectangle(cr, 10, 10, 40, 40);
  cairo_fill(cr);
  cairo_destroy(cr);
  const std::string path = "/tmp/receiptora_render_stamp_" + std::to_string(getpid()) + ".png";
  cairo_surface_write_to_png(s, path.c_str());
  cairo_surface_destroy(s);

  Receipt r = sample();
  r.seller.exemption_stamp_image = r.seller.owner_seal_image = path;
  const Picture p = decode(render_png(r));
  EXPECT_GT(p.count(true, 300, 300, 595, 420), 2000);
  EXPECT_EQ(p.count(false, 0, 0, 595, 420), 0);
  EXPECT_EQ(pdf_text(r).find("免用統一發票專用章"), std::string::npos);
  std::remove(path.c_str());
  r.seller.owner_seal_image = path;  // gone now: a failure, not a receipt without its stamp
  EXPECT_THROW(render_pdf(r), std::runtime_error);
}

TEST(Seal, ThreeCharacterNameGetsYin) {
  Receipt r = sample();
  r.exemption_stamp = false;
  EXPECT_NE(pdf_text(r).find("印"), std::string::npos);
  r.seller.owner = "王明";
  EXPECT_EQ(pdf_text(r).find("印"), std::string::npos);
}

TEST(Stress, HugeAndStrangeInputStaysOnThePage) {
  Receipt r = sample();
  r.items.clear();
  const std::string digits(10000, '9');
  for (int i = 0; i < 50; ++i) r.items.push_back({"品項" + std::to_string(i), i, 10, ""});
  r.items[3] = {std::string(500, 'X'), 1, 1, ""};
  r.items[4] = {"貓🐈‍⬛ 😀 مرحبا بالعالم שלום", mpz_class(digits), 3, "עברית"};
  r.seller.address = "\xff\xfe broken \x01 bytes";
  const std::string bbox = pdf_text(r, "pdftotext -bbox", " -");
  // Every word lies inside an A5 landscape page.
  for (size_t at = 0; (at = bbox.find("<word xMin=\"", at)) != std::string::npos; ++at) {
    double x0, y0, x1, y1;
    ASSERT_EQ(std::sscanf(bbox.c_str() + at, "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\"", &x0,
                          &y0, &x1, &y1),
              4);
    EXPECT_TRUE(x0 >= 0 && y0 >= 0 && x1 <= 595.3 && y1 <= 419.6) << bbox.substr(at, 200);
  }
  std::string text = pdf_text(r, "pdftotext -raw");
  std::erase(text, ',');
  EXPECT_NE(text.find("品項49"), std::string::npos);
  EXPECT_NE(text.find("2" + digits.substr(1) + "7"), std::string::npos);  // 99…9 × 3 = 299…97, every digit
  const Picture p = decode(render_png(r));
  EXPECT_EQ(p.width, 1240);
  EXPECT_GT(p.height, 874);  // pages one below the other
}

TEST(Png, TooLongForOnePictureIsRefusedNotCut) {
  Receipt r = sample();
  r.items.assign(600, Item{"品項", 1, 1, ""});
  EXPECT_THROW(render_png(r), std::length_error);
}

TEST(Both, SameBytesAsEachAlone) {
  for (const Template layout : {Template::General, Template::Cat}) {
    Receipt r = sample();
    r.layout = layout;
    r.created_at = "2026-12-07T14:03:00";
    const Rendered both = render_both(r);
    EXPECT_TRUE(both.pdf == render_pdf(r));
    EXPECT_TRUE(both.png == render_png(r));
  }
}

TEST(Threads, ConcurrentRendersMatchSerialOnes) {
  Receipt general = sample(), cat = sample();
  cat.layout = Template::Cat;
  const std::string expected[2] = {render_png(general), render_png(cat)};
  std::vector<std::thread> threads;
  std::string got[2][8];
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&, t] {
      const Receipt& r = t ? cat : general;
      for (auto& out : got[t]) {
        render_pdf(r);  // PDFs in between: both kinds of surface in flight at once
        out = render_png(r);
      }
    });
  for (auto& t : threads) t.join();
  for (int t = 0; t < 2; ++t)
    for (const auto& out : got[t]) EXPECT_TRUE(out == expected[t]);
}

}  // namespace
}  // namespace receiptora::render
