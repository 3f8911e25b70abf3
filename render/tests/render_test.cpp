// The renderer's output read back: PDF text through pdftotext (poppler-utils), pictures
// through libpng.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cairo.h>

#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <utility>
#include <iterator>
#include <sstream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "draw.hpp"
#include "elements.hpp"
#include "receiptora/render/render.hpp"
#include "receiptora/render/templates.hpp"

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

std::string grouped(long n) {
  std::string digits = std::to_string(n);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, ",");
  return digits;
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
  std::string info = pdf_text(r, "pdfinfo -isodates", "");
  std::erase(info, ' ');
  EXPECT_NE(info.find("免用統一發票收據收據-20261207-003"), std::string::npos) << info;
  EXPECT_NE(info.find("CreationDate:2026-12-07T14:03:00+08"), std::string::npos) << info;
  EXPECT_NE(info.find("ModDate:2026-12-07T14:03:00+08"), std::string::npos) << info;
  // The PDF date format, in the file itself.
  const std::string pdf = render_pdf(r);
  for (const char* key : {"/CreationDate (D:20261207140300+08'00')", "/ModDate (D:20261207140300+08'00')"})
    EXPECT_NE(pdf.find(key), std::string::npos) << key;
  // A date without a zone is local time and gets the local zone; so does "now".
  for (const char* created : {"2026-12-07T14:03:00", ""}) {
    r.created_at = created;
    std::string dated = pdf_text(r, "pdfinfo -isodates", "");
    std::erase(dated, ' ');
    const size_t at = dated.find("CreationDate:");
    ASSERT_NE(at, std::string::npos) << dated;
    const std::string stamp = dated.substr(at + 13, dated.find('\n', at) - at - 13);
    EXPECT_TRUE(stamp.ends_with("Z") || stamp.find('+', 10) != std::string::npos ||
                stamp.find('-', 10) != std::string::npos)
        << stamp;
  }
  r.created_at = "2026-12-07T14:03:00+08:00";
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
    {"jing",
     {{"大宗", mpz_class("100000000"), mpz_class("100000000"), ""}},
     "10,000,000,000,000,000",
     "壹京元整"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Totals, testing::ValuesIn(kTotals),
                         [](const auto& p) { return std::string(p.param.label); });

TEST(Png, SizeAndStampInk) {
  Receipt r = sample();
  const Picture on = decode(render_png(r));
  EXPECT_EQ(on.width, 1240);
  EXPECT_EQ(on.height, 874);
  // Both stamps sit on the right, under the table (seven ruled lines and the totals).
  EXPECT_GT(on.count(false, 300, 280, 595, 420), 2000);
  EXPECT_EQ(on.count(false, 0, 0, 595, 275), 0);
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
  for (const auto& [contents, cause] : {std::pair<const char*, const char*>{nullptr, "找不到這個檔案"},
                                        {"not a picture", "不是可讀取的 PNG 圖檔"}}) {
    if (contents) std::ofstream(path) << contents;
    try {
      render_pdf(r);
      ADD_FAILURE() << "rendered without its stamp picture";
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find("印章圖檔 " + path + " 無法使用（" + cause), std::string::npos)
          << error.what();
    }
  }
  std::remove(path.c_str());
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

// One picture per page, each the size of one page, with the same PDF.
TEST(Pages, OnePicturePerPage) {
  Receipt r = sample();
  r.created_at = "2026-12-07T14:03:00";
  r.items.assign(30, Item{"品項", 1, 1, ""});
  const RenderedPages pages = render_pages(r);
  EXPECT_TRUE(pages.pdf == render_pdf(r));
  ASSERT_EQ(pages.pngs.size(), 4u);
  for (const std::string& png : pages.pngs) {
    const Picture p = decode(png);
    EXPECT_EQ(p.width, 1240);
    EXPECT_EQ(p.height, 874);
  }
  EXPECT_EQ(decode(pages.pngs.back()).count(false, 0, 0, 595, 420) > 0, true) << "the stamps on the last";
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

// One page drawn at 150 dpi on a transparent surface, with the chosen layers: every pixel
// with any coverage is ink.
struct Layer {
  static constexpr double kScale = 150.0 / 72;
  int width = static_cast<int>(detail::kPageWidth * kScale + 0.5);
  int height = static_cast<int>(detail::kPageHeight * kScale + 0.5);
  std::vector<unsigned char> alpha;
  Layer(const detail::Document& document, int page, unsigned layers) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_A8, width, height);
    cairo_t* cr = cairo_create(s);
    cairo_scale(cr, kScale, kScale);
    document.draw_page(cr, page, layers);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    const int stride = cairo_image_surface_get_stride(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    for (int y = 0; y < height; ++y) alpha.insert(alpha.end(), data + y * stride, data + y * stride + width);
    cairo_surface_destroy(s);
  }
  bool ink(int x, int y) const { return alpha[size_t(y) * width + x] > 0; }
};

// A verification code as long as a shop's (a 統一編號, three items, the hashes and signature).
const std::string kCode = "R1.12345678.20261207-003.2880.3." + std::string(26, 'Q') + "." +
                          std::string(26, '7') + "." + std::string(103, 'X');

// A void reason long enough to wrap (and no date in it).
const std::string kLongReason =
    "買受人名稱與統一編號均有誤，另行開立正確收據交付買受人並收回原收據存查，本張收據作廢";

struct LayoutCase {
  const char* label;
  Template layout;
  int items;
  int pages;              // expected page count
  std::string long_name;  // given to every third item: a row of several lines
  const char* huge_quantity;
  std::optional<Mark::Kind> mark;
};

// Every page: no ink within 5 mm of an edge, the stamps on it and over nothing else, a copy's
// mark clear of them, the code's box free.
void expect_clean_pages(const detail::Document& document) {
  const int edge = static_cast<int>(150 * 5 / 25.4);  // 5 mm in pixels, rounded down
  for (int page = 0; page < document.pages(); ++page) {
    const Layer print(document, page, detail::kPrint), stamps(document, page, detail::kStamps);
    const Layer all(document, page, detail::kAllLayers), mark(document, page, detail::kMark);
    const Layer others(document, page, detail::kAllLayers & ~detail::kCode),
        code(document, page, detail::kCode);
    const detail::Page& p = document.layout().pages[page];
    const auto inside = [](const detail::Box& b, int x, int y) {
      const double px = x / Layer::kScale, py = y / Layer::kScale;
      return px >= b.x && px < b.right() && py >= b.y && py < b.bottom();
    };
    int covered = 0, near_edge = 0, stamp_ink = 0, marked = 0, in_code_box = 0, code_outside = 0,
        code_ink = 0;
    for (int y = 0; y < print.height; ++y)
      for (int x = 0; x < print.width; ++x) {
        stamp_ink += stamps.ink(x, y);
        covered += stamps.ink(x, y) && print.ink(x, y);
        marked += stamps.ink(x, y) && mark.ink(x, y);
        const bool margin = x < edge || y < edge || x >= print.width - edge || y >= print.height - edge;
        near_edge += margin && all.ink(x, y);
        const bool in_box = inside(p.code_box, x, y) || inside(p.code_caption, x, y);
        in_code_box += in_box && others.ink(x, y);
        code_outside += !in_box && code.ink(x, y);
        code_ink += code.ink(x, y);
      }
    EXPECT_EQ(covered, 0) << "page " << page + 1;
    EXPECT_EQ(marked, 0) << "a copy's mark under the stamps, page " << page + 1;
    EXPECT_EQ(near_edge, 0) << "page " << page + 1;
    EXPECT_GT(stamp_ink, 0) << "stamps on every page, page " << page + 1;
    EXPECT_EQ(in_code_box, 0) << "the code's box holds the code alone, page " << page + 1;
    EXPECT_EQ(code_outside, 0) << "the code stays in its box, page " << page + 1;
    EXPECT_GT(code_ink, 0) << "the code on every page, page " << page + 1;
    EXPECT_LE(p.code_box.bottom(), detail::kBottom) << page + 1;
  }
}

class Layout : public testing::TestWithParam<LayoutCase> {};

// The stamps never cover other print, and no ink comes within 5 mm of an edge, whatever
// the number of items, the height of the rows or the size of the amounts.
TEST_P(Layout, StampsCoverNothingAndInkKeepsOffTheEdges) {
  const LayoutCase& c = GetParam();
  Receipt r = sample();
  r.layout = c.layout;
  r.items.clear();
  for (int i = 0; i < c.items; ++i)
    r.items.push_back({i % 3 == 2 && !c.long_name.empty() ? c.long_name : "品項" + std::to_string(i), i + 1,
                       25, i % 4 == 0 ? "含運" : ""});
  if (c.huge_quantity) r.items.back().quantity = mpz_class(c.huge_quantity);
  if (c.mark) r.mark = Mark{*c.mark, {2026, 12, 8}, *c.mark == Mark::Kind::Void ? kLongReason : ""};
  r.code = kCode;
  r.code_key = "3F2A";
  const detail::Document document(r);
  ASSERT_EQ(document.pages(), c.pages);
  expect_clean_pages(document);
}

const std::string kTallName =
    "手工訂製實木書架附安裝與搬運服務，含舊家具回收及五年保固，另附說明書與備用五金零件一包；"
    "書架尺寸依現場丈量，顏色由買受人指定，安裝日期另行約定，逾期保管費依約計收，其餘事項詳見合約書";

const LayoutCase kLayouts[] = {
    {"one_item", Template::General, 1, 1, "", nullptr, {}},
    {"seven_cat", Template::Cat, 7, 1, "", nullptr, {}},
    {"ten_on_one_sheet", Template::General, 10, 1, "", nullptr, {}},
    {"ten_cat_on_one_sheet", Template::Cat, 10, 1, "", nullptr, {}},
    {"eleven_totals_flow_over", Template::Cat, 11, 2, "", nullptr, {}},
    {"tall_rows", Template::General, 9, 2, kTallName, nullptr, {}},
    {"sixty_cat", Template::Cat, 60, 7, "", nullptr, {}},
    {"huge_amount",
     Template::Cat,
     3,
     1,
     "",
     "9999999999999999999999999999999999999999999999999999999999999999999",
     {}},
    {"void_mark", Template::General, 3, 1, "", nullptr, Mark::Kind::Void},
    {"void_cat_full", Template::Cat, 10, 1, "", nullptr, Mark::Kind::Void},
    {"void_two_pages", Template::General, 12, 2, "", nullptr, Mark::Kind::Void},
    {"reprint_full", Template::General, 10, 1, "", nullptr, Mark::Kind::Reprint},
};

INSTANTIATE_TEST_SUITE_P(Cases, Layout, testing::ValuesIn(kLayouts),
                         [](const auto& p) { return std::string(p.param.label); });

// Seller profiles and items of random lengths up to the form's limits (name 96, address
// 170, phone 112 characters; 品名 300, 備註 120), both templates, with and without a mark:
// every page stays clean, and seven items always fit one page.
TEST(Layout, FuzzedProfilesAndItemsKeepEveryPageClean) {
  std::mt19937 random(20261207);
  const auto text_of = [&](size_t most, const std::string& unit) {
    std::string t;
    for (size_t n = std::uniform_int_distribution<size_t>(0, most)(random); n > 0; --n) t += unit;
    return t;
  };
  for (int round = 0; round < 8; ++round) {
    Receipt r = sample();
    r.layout = round % 2 ? Template::Cat : Template::General;
    r.seller.name = "喵" + text_of(95, "喵");
    r.seller.address = text_of(170, round % 3 ? "號" : "9");
    r.seller.phone = text_of(8, "04-2234-5678 ");
    r.seller.owner = text_of(20, "王");
    const int items = round < 4 ? 7 : std::uniform_int_distribution<int>(1, 24)(random);
    r.items.clear();
    const bool long_items = round >= 4;  // the first rounds: ordinary items under any profile
    for (int i = 0; i < items; ++i)
      r.items.push_back({"品" + text_of(long_items && i % 5 == 0 ? 300 : 12, "名"), i + 1, 99,
                         text_of(long_items && i % 4 == 0 ? 120 : 4, "註")});
    if (round % 3 == 1)
      r.mark = Mark{round % 2 ? Mark::Kind::Void : Mark::Kind::Reprint, {2026, 12, 8}, "", 3};
    SCOPED_TRACE("round " + std::to_string(round));
    r.code = kCode;
    const detail::Document document(r);
    if (items == 7) EXPECT_EQ(document.pages(), 1);
    expect_clean_pages(document);
  }
}

// One page's text, as pdftotext reads it without -layout, white space removed.
std::string page_text(const std::string& pdf_path, int page) {
  std::string text =
      run("pdftotext -f " + std::to_string(page) + " -l " + std::to_string(page) + " " + pdf_path + " -");
  std::erase_if(text, [](char c) { return c == ' ' || c == '\n'; });
  return text;
}

struct PagesCase {
  const char* label;
  int items;
  std::vector<size_t> rows;  // item rows on each page
};

class Pages : public testing::TestWithParam<PagesCase> {};

// Pages are filled; the last keeps two rows with the totals; a page that continues ends
// with 小計 of its rows, the next begins with 承前頁 and the sum so far; every page names
// the receipt, its place and the buyer.
TEST_P(Pages, FilledCarriedAndNamed) {
  Receipt r = sample();
  r.items.clear();
  for (int i = 0; i < GetParam().items; ++i) r.items.push_back({"品項" + std::to_string(i), 1, i + 1, ""});
  const detail::Document document(r);
  ASSERT_EQ(static_cast<size_t>(document.pages()), GetParam().rows.size());
  const std::string path = temp_file(render_pdf(r), ".pdf");
  const int pages = document.pages();
  int first = 0, carried = 0;
  for (int page = 1; page <= pages; ++page) {
    const std::string text = page_text(path, page);
    const int rows = static_cast<int>(GetParam().rows[page - 1]);
    int sum = 0;
    for (int i = first; i < first + rows; ++i) sum += i + 1;
    EXPECT_NE(text.find("品項" + std::to_string(first + rows - 1)), std::string::npos) << page;
    int named = 0;
    for (size_t at = 0; (at = text.find("品項", at)) != std::string::npos; at += 1) ++named;
    EXPECT_EQ(named, rows) << page;
    for (const std::string& word : {std::string("收據-20261207-003"), std::string("大同國民小學"),
                                    "第" + std::to_string(page) + "頁／共" + std::to_string(pages) + "頁"})
      EXPECT_NE(text.find(word), std::string::npos) << page << " " << word;
    EXPECT_EQ(text.find("承前頁") != std::string::npos, page > 1) << page;
    if (page > 1) EXPECT_NE(text.find("承前頁" + grouped(carried)), std::string::npos) << page << text;
    if (page < pages) {
      EXPECT_NE(text.find("本頁小計" + grouped(sum)), std::string::npos) << page << text;
      EXPECT_EQ(text.find("累計" + grouped(carried + sum)) != std::string::npos, page > 1) << page << text;
      EXPECT_EQ(text.find("合計"), std::string::npos) << page;
    } else {
      EXPECT_GE(rows, std::min(2, GetParam().items));
      EXPECT_NE(text.find("合計" + grouped(carried + sum)), std::string::npos) << text;
      // Blank ruled lines under the last item say so.
      EXPECT_EQ(text.find("以下空白") != std::string::npos, GetParam().items < 7) << text;
    }
    first += rows;
    carried += sum;
  }
  std::remove(path.c_str());
}

const PagesCase kPages[] = {
    {"one", 1, {1}},
    {"ten", 10, {10}},
    {"eleven", 11, {9, 2}},
    {"sixteen", 16, {11, 5}},
    {"thirty", 30, {11, 9, 8, 2}},
    {"forty", 40, {11, 9, 9, 9, 2}},
    {"sixty", 60, {11, 9, 9, 9, 9, 9, 4}},
};

INSTANTIATE_TEST_SUITE_P(Counts, Pages, testing::ValuesIn(kPages),
                         [](const auto& p) { return std::string(p.param.label); });

// A figure too long for its cell wraps only after a comma; every line's digits end at the
// same place, the trailing commas hanging past it.
TEST(Figures, WrapAfterCommasAlignedOnTheDigits) {
  Receipt r = sample();
  r.items = {{"大宗", 1, mpz_class("40011335200026003000033400100"), ""}};
  const std::string path = temp_file(render_pdf(r), ".pdf");
  const std::string bbox = run("pdftotext -bbox " + path + " -");
  std::remove(path.c_str());
  const double price_left = 28 + 220 + 55, price_right = price_left + 85;
  std::string joined;
  std::vector<double> ends;
  std::vector<std::string> lines;
  for (size_t at = 0; (at = bbox.find("<word xMin=\"", at)) != std::string::npos; ++at) {
    double x0, y0, x1, y1;
    ASSERT_EQ(std::sscanf(bbox.c_str() + at, "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\"", &x0,
                          &y0, &x1, &y1),
              4);
    const size_t open = bbox.find('>', at) + 1;
    const std::string word = bbox.substr(open, bbox.find('<', open) - open);
    if (x0 < price_left || x1 > price_right || word.find_first_not_of("0123456789,") != std::string::npos)
      continue;
    lines.push_back(word);
    ends.push_back(x1);
    joined += word;
  }
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(joined, "40,011,335,200,026,003,000,033,400,100");
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].back() == ',', i + 1 < lines.size()) << lines[i];
    if (i > 0) EXPECT_EQ(lines[i].find(',') % 4, 3u) << lines[i];  // whole groups of three
    if (i + 1 < lines.size()) {
      EXPECT_NEAR(ends[i], ends[0], 0.3) << lines[i];
      EXPECT_GT(ends[i], ends.back() + 0.5) << "the comma hangs past the last line's digits";
      EXPECT_LT(ends[i], ends.back() + 6) << lines[i];
    }
  }
}

// What must read back whole, with the words next to it: pdftotext keeps the spaces here.
std::string raw_text(const Receipt& r) {
  const std::string path = temp_file(render_pdf(r), ".pdf");
  std::string text = run("pdftotext -raw " + path + " -");
  std::remove(path.c_str());
  return text;
}

class Headings : public testing::TestWithParam<Template> {};

TEST_P(Headings, ReadBackWholeInTheTemplatesFace) {
  Receipt r = sample();
  r.layout = GetParam();
  const std::string text = raw_text(r);
  for (const char* word : {"免用統一發票收據", "品名", "數量", "單價", "金額", "備註", "合計", "02-2345-6789",
                           "免用統一發票專用章"}) {
    EXPECT_NE(text.find(word), std::string::npos) << word << "\n" << text;
  }
  const std::string fonts = pdf_text(r, "pdffonts", "");
  // Taiwan's glyph forms only: never a face with the mainland's forms.
  EXPECT_EQ(fonts.find("ZenHei"), std::string::npos) << fonts;
  EXPECT_EQ(fonts.find("SC"), std::string::npos) << fonts;
  if (GetParam() == Template::Cat && fonts.find("SimHei") == std::string::npos) {
    EXPECT_NE(fonts.find("cwTeXHeiBold"), std::string::npos) << fonts;
  }
}

INSTANTIATE_TEST_SUITE_P(Templates, Headings, testing::Values(Template::General, Template::Cat),
                         [](const auto& p) {
                           return std::string(p.param == Template::Cat ? "cat" : "general");
                         });

TEST(Templates, TableNamesEveryTemplateOnce) {
  ASSERT_EQ(templates().size(), 2u);
  EXPECT_EQ(find_template("一般格式")->id, Template::General);
  EXPECT_EQ(find_template("貓咪格式")->id, Template::Cat);
  EXPECT_EQ(find_template("貓咪格式")->window_font, "simhei.ttf");
  EXPECT_EQ(find_template("其他"), nullptr);
  for (const TemplateInfo& t : templates()) EXPECT_EQ(&template_info(t.id), &t);
}

struct MarkCase {
  const char* label;
  Mark mark;
  std::vector<std::string> shown;
};

class Marks : public testing::TestWithParam<MarkCase> {};

TEST_P(Marks, SayWhatTheCopyIsAndKeepTheReceiptReadable) {
  Receipt r = sample();
  r.mark = GetParam().mark;
  const std::string text = pdf_text(r, "pdftotext -raw");
  for (const std::string& word : GetParam().shown) EXPECT_NE(text.find(word), std::string::npos) << word;
  std::string info = pdf_text(r, "pdfinfo", "");
  std::erase(info, ' ');
  EXPECT_NE(info.find(r.mark->kind == Mark::Kind::Void ? "003作廢" : "003補印"), std::string::npos) << info;
  // The day on one line of its own, whole, however long the reason.
  r.mark->reason = kLongReason;
  std::string lines = raw_text(r);
  std::erase(lines, ' ');
  EXPECT_NE(lines.find(GetParam().shown.back()), std::string::npos) << lines;
  for (const char* field : {"原子筆", "2,880", "新臺幣貳仟捌佰捌拾元整"})
    EXPECT_NE(text.find(field), std::string::npos) << field;
  // Red ink over the print: the letters under a void mark still show black.
  const Picture p = decode(render_png(r));
  const Picture plain = decode(render_png(sample()));
  EXPECT_GT(p.count(false, 0, 0, 595, 420), plain.count(false, 0, 0, 595, 420));
}

const MarkCase kMarks[] = {
    {"void",
     {Mark::Kind::Void, {2026, 12, 8}, "買方退貨"},
     {"作廢", "作廢原因：買方退貨", "中華民國115年12月8日"}},
    {"void_without_reason", {Mark::Kind::Void, {2026, 12, 9}, ""}, {"作廢", "中華民國115年12月9日"}},
    {"reprint", {Mark::Kind::Reprint, {2027, 1, 2}, ""}, {"補印", "中華民國116年1月2日"}},
    {"second_reprint", {Mark::Kind::Reprint, {2027, 1, 2}, "", 2}, {"補印第2次", "中華民國116年1月2日"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, Marks, testing::ValuesIn(kMarks),
                         [](const auto& p) { return std::string(p.param.label); });

struct SealCase {
  const char* owner;
  double aspect;  // height / width of the seal's red
};

class Seal : public testing::TestWithParam<SealCase> {};

// The box round a picture's red pixels, in pixels: x0, y0, x1, y1.
std::array<int, 4> red_box(const Picture& p) {
  int x0 = p.width, x1 = 0, y0 = p.height, y1 = 0;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const unsigned char* c = &p.rgb[3 * (size_t(y) * p.width + x)];
      if (c[0] > 150 && c[1] < 100)
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    }
  return {x0, y0, x1, y1};
}

// Square cells, as many rows as columns or one more: the seal's shape follows the name.
TEST_P(Seal, ArrangesTheNameInSquareCells) {
  Receipt r = sample();
  r.exemption_stamp = false;
  r.seller.owner = GetParam().owner;
  const Picture p = decode(render_png(r));
  const auto [x0, y0, x1, y1] = red_box(p);
  ASSERT_LT(x0, x1);
  EXPECT_NEAR(double(y1 - y0) / (x1 - x0), GetParam().aspect, 0.08) << GetParam().owner;
}

INSTANTIATE_TEST_SUITE_P(Names, Seal,
                         testing::Values(SealCase{"明", 1.0}, SealCase{"王明", 1.75}, SealCase{"王小明", 1.0},
                                         SealCase{"歐陽志明", 1.0}, SealCase{"諸葛孔明德", 1.4},
                                         SealCase{"阿卜杜拉．穆罕默德", 1.0}));

// Within the profile form's limit, too long for the header's box even at 7 pt.
const std::string kLongAddress = [] {
  std::string a = "臺中市";
  for (int i = 0; i < 14; ++i) a += "西屯區臺灣大道三段99號";
  return a;
}();

struct WarningCase {
  const char* label;
  SellerProfile seller;
  std::vector<std::string> named;  // what the warnings name, in order
  bool exemption_drawn;
};

class Warnings : public testing::TestWithParam<WarningCase> {};

TEST_P(Warnings, NameTheFileAndTheFieldOfAStampLeftOut) {
  Receipt r = sample();
  r.seller = GetParam().seller;
  const std::vector<std::string> warnings = receipt_warnings(r);
  ASSERT_EQ(warnings.size(), GetParam().named.size());
  for (size_t i = 0; i < warnings.size(); ++i) {
    EXPECT_NE(warnings[i].find("賣方資料.toml"), std::string::npos) << warnings[i];
    EXPECT_NE(warnings[i].find(GetParam().named[i]), std::string::npos) << warnings[i];
  }
  EXPECT_EQ(pdf_text(r).find("免用統一發票專用章") != std::string::npos, GetParam().exemption_drawn);
  r.exemption_stamp = r.owner_seal = false;  // none asked for, none missed
  for (const std::string& w : receipt_warnings(r)) EXPECT_EQ(w.find("章"), std::string::npos) << w;
}

const WarningCase kWarnings[] = {
    {"complete", {"喵喵文具行", "12345678", "王小明", "臺北市", "02-2345-6789", "", ""}, {}, true},
    {"empty_profile", {}, {"商號名稱", "負責人"}, false},
    {"blank_name", {"  ", "12345678", "王小明", "臺北市", "", "", ""}, {"商號名稱"}, false},
    {"no_owner", {"喵喵文具行", "", "", "", "", "", ""}, {"負責人", "統一編號」、「負責人」、「地址"}, true},
    {"no_address", {"喵喵文具行", "12345678", "王小明", "", "", "", ""}, {"專用章缺「地址」"}, true},
    {"long_address", {"喵喵文具行", "12345678", "王小明", kLongAddress, "", "", ""}, {"「地址」太長"}, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, Warnings, testing::ValuesIn(kWarnings),
                         [](const auto& p) { return std::string(p.param.label); });

TEST(Emoji, DrawnAsPicturesNotBoxes) {
  Receipt r = sample();
  r.items = {{"笑臉😀", 1, 1, ""}};
  const Picture p = decode(render_png(r));
  int yellow = 0;
  for (size_t i = 0; i + 2 < p.rgb.size(); i += 3)
    yellow += p.rgb[i] > 200 && p.rgb[i + 1] > 150 && p.rgb[i + 2] < 90;
  EXPECT_GT(yellow, 20);
}

class EmptyFields : public testing::TestWithParam<Template> {};

// A seller field the profile leaves empty prints neither label nor line, in the header or
// in the drawn stamp, and the stamp closes up.
TEST_P(EmptyFields, PrintNothingAndCloseUp) {
  Receipt r = sample();
  r.layout = GetParam();
  r.seller = {"喵喵文具行", "", "", "", "", "", ""};
  const std::string text = pdf_text(r);
  for (const char* label : {"負責人", "地址", "電話"})
    EXPECT_EQ(text.find(label), std::string::npos) << label;
  EXPECT_EQ(text.find("統一編號"), text.rfind("統一編號")) << "the buyer's alone";
  EXPECT_NE(text.find("喵喵文具行"), std::string::npos);
  const detail::TextFitter fitter;
  const auto& look = template_info(r.layout);
  EXPECT_LT(detail::lay_out_exemption_stamp(r, look, fitter).height,
            detail::lay_out_exemption_stamp(sample(), look, fitter).height);
  r.seller = {};
  r.buyer = r.buyer_tax_id = "";
  EXPECT_TRUE(detail::lay_out_header(r, look, fitter, "").texts.size() == 3u)
      << "the buyer's labels and the date";
}

INSTANTIATE_TEST_SUITE_P(Templates, EmptyFields, testing::Values(Template::General, Template::Cat),
                         [](const auto& p) {
                           return std::string(p.param == Template::Cat ? "cat" : "general");
                         });

double points(const detail::Fitted& f) {
  const PangoFontDescription* d = pango_layout_get_font_description(f.layout.get());
  return pango_font_description_get_size(d) / double(PANGO_SCALE) * f.scale;
}

// Long names, buyer, address and notes wrap and their rows grow: nothing is set below 7 pt.
TEST(Legible, NoTextBelowSevenPoints) {
  for (const Template layout : {Template::General, Template::Cat}) {
    Receipt r = sample();
    r.layout = layout;
    r.buyer = "臺北市立大同高級中學附設國民中學部學生家長會暨教師會聯合辦公室";
    r.seller.address = "臺北市中正區重慶南路一段一百二十二號之三十五，八樓之二（文具批發部）";
    r.items = {{std::string("手工訂製實木書架附安裝與搬運服務含舊家具回收及五年保固另附說明書與五金"), 2,
                mpz_class("40011335200026003000033400100"), "含運費及安裝費用，另開立收據"},
               {"筆", 1, 1, ""}};
    const detail::TextFitter fitter;
    const auto& look = template_info(layout);
    const detail::Header header = detail::lay_out_header(r, look, fitter, "中華民國 115 年 12 月 7 日");
    const detail::ExemptionStamp stamp = detail::lay_out_exemption_stamp(r, look, fitter);
    const detail::Layout pages = detail::lay_out(r, fitter, look.faces, 80, header.bottom + 2);
    std::vector<const detail::Fitted*> all;
    for (const auto& t : header.texts) all.push_back(&t.fitted);
    for (const auto& t : stamp.lines) all.push_back(&t.fitted);
    for (const auto& row : pages.rows)
      for (const auto& c : row.cells) all.push_back(&c);
    for (const auto* c : {&pages.total_row.cells[3], &pages.capitals_row.cells[0]}) all.push_back(c);
    for (const detail::Fitted* f : all)
      if (*f) EXPECT_GE(points(*f), detail::kMinSize - 0.01) << pango_layout_get_text(f->layout.get());
    for (const auto& t : header.texts)
      if (std::string(pango_layout_get_text(t.fitted.layout.get())).find("家長會") != std::string::npos)
        EXPECT_GE(pango_layout_get_line_count(t.fitted.layout.get()), 2) << "the buyer wraps";
  }
}

// The size of every text a PDF shows, as a reader sets it: its content streams (the pages'
// and the stamps' groups), uncompressed by qpdf, read operator by operator; a text's size is
// its Tf size scaled by its text matrix (Tm) and by the cm matrices in force.
std::vector<double> text_sizes(const std::string& pdf) {
  const std::string in = temp_file(pdf, ".pdf"), out = in + ".qdf";
  run("qpdf --qdf --object-streams=disable " + in + " " + out);
  std::ifstream file(out, std::ios::binary);
  const std::string qdf((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::remove(in.c_str());
  std::remove(out.c_str());
  const auto scale_of = [](const std::vector<double>& m) {
    return std::sqrt(std::abs(m[m.size() - 6] * m[m.size() - 3] - m[m.size() - 5] * m[m.size() - 4]));
  };
  std::vector<double> sizes;
  for (size_t at = qdf.find("stream\n"); at != std::string::npos; at = qdf.find("stream\n", at + 1)) {
    if (at > 0 && qdf[at - 1] == 'd') continue;   // endstream
    const size_t object = qdf.rfind(" obj", at);  // the stream's dictionary, nested ones and all
    const std::string dict = qdf.substr(object, at - object);
    const bool content =
        dict.find("/Subtype") == std::string::npos || dict.find("/Form") != std::string::npos;
    const size_t end = qdf.find("endstream", at);
    if (!content || dict.find("/Length1") != std::string::npos || end == std::string::npos) continue;
    std::vector<double> operands, cm_scales{1};
    double font = 1, matrix = 1;
    for (size_t p = at + 7; p < end;) {
      const char c = qdf[p];
      if (std::isspace(static_cast<unsigned char>(c))) {
        ++p;
      } else if (c == '(') {  // a string, nested parentheses and escapes
        for (int depth = 0; p < end; ++p) {
          if (qdf[p] == '\\')
            ++p;
          else if (qdf[p] == '(')
            ++depth;
          else if (qdf[p] == ')' && --depth == 0)
            break;
        }
        ++p;
      } else if (c == '<' || c == '[' || c == ']' || c == '>' || c == '/' || c == '{' || c == '}') {
        p = c == '<' ? qdf.find('>', p) + 1 : p + 1;
        if (c == '/') p = qdf.find_first_of(" \n\r\t/[]<>()", p);
      } else {
        const size_t stop = std::min(end, qdf.find_first_of(" \n\r\t/[]<>()", p));
        const std::string token = qdf.substr(p, stop - p);
        p = stop;
        char* rest = nullptr;
        const double number = std::strtod(token.c_str(), &rest);
        if (rest && *rest == '\0' && !token.empty()) {
          operands.push_back(number);
          continue;
        }
        if (token == "q")
          cm_scales.push_back(cm_scales.back());
        else if (token == "Q" && cm_scales.size() > 1)
          cm_scales.pop_back();
        else if (token == "cm" && operands.size() >= 6)
          cm_scales.back() *= scale_of(operands);
        else if (token == "Tm" && operands.size() >= 6)
          matrix = scale_of(operands);
        else if (token == "BT")
          matrix = 1;
        else if (token == "Tf" && !operands.empty())
          font = operands.back();
        else if (token == "Tj" || token == "TJ" || token == "'" || token == "\"")
          sizes.push_back(font * matrix * cm_scales.back());
        operands.clear();
      }
    }
  }
  return sizes;
}

// The receipts that once set text under 7 pt, read back from their PDFs: the 補印 day, a
// 120-character 備註 and a 300-character 品名 under the longest profile, a void's reason, both
// templates. No text of any of them is smaller than 7 pt.
TEST(Legible, EveryTextInThePdfIsAtLeastSevenPoints) {
  const auto times = [](const std::string& unit, int n) {
    std::string t;
    while (n-- > 0) t += unit;
    return t;
  };
  for (const Template layout : {Template::General, Template::Cat}) {
    Receipt r = sample();
    r.layout = layout;
    r.seller.name = times("喵", 96);
    r.seller.address = times("號", 170);
    r.seller.phone = times("04-2234-5678 ", 8);
    r.items = {{times("名", 300), 1, 99, times("註", 120)}, {"貓咪貼紙😀", 2, 20, times("note ", 24)}};
    for (const std::optional<Mark>& mark :
         {std::optional<Mark>{}, std::optional<Mark>{Mark{Mark::Kind::Reprint, {2026, 12, 28}, "", 12}},
          std::optional<Mark>{Mark{Mark::Kind::Void, {2026, 12, 28}, kLongReason}}}) {
      r.mark = mark;
      const std::vector<double> sizes = text_sizes(render_pdf(r));
      ASSERT_FALSE(sizes.empty());
      for (const double size : sizes)
        EXPECT_GE(size, detail::kMinSize - 0.01) << (mark ? "a copy" : "original");
    }
  }
}

// Emoji are pictures in the PDF: each drawn at 300 pixels to the inch at least (pdfimages
// reports every picture's resolution as placed on the page), so they print sharp.
TEST(Emoji, PrintSharpInThePdf) {
  Receipt r = sample();
  r.items = {{"笑臉😀🐈", 1, 1, "🎉"}, {"大字😀", 1, 1, ""}};
  const std::string path = temp_file(render_pdf(r), ".pdf");
  const std::string listed = run("pdfimages -list " + path);
  std::remove(path.c_str());
  int pictures = 0;
  size_t line = listed.find('\n', listed.find("-----"));
  for (size_t next; line != std::string::npos && (next = listed.find('\n', line + 1)) != std::string::npos;
       line = next) {
    std::istringstream fields(listed.substr(line + 1, next - line - 1));
    std::vector<std::string> f{std::istream_iterator<std::string>(fields), {}};
    if (f.size() < 14) continue;
    ++pictures;
    EXPECT_GE(std::stod(f[12]), 300) << listed;
    EXPECT_GE(std::stod(f[13]), 300) << listed;
  }
  EXPECT_GE(pictures, 3) << listed;
}

// Every kind of receipt passes qpdf's check: emoji on several pages, marks, a long profile.
TEST(Files, QpdfFindsNothingToCorrect) {
  std::vector<std::pair<std::string, Receipt>> kinds;
  for (const Template layout : {Template::General, Template::Cat}) {
    Receipt r = sample();
    r.layout = layout;
    for (int i = 0; i < 24; ++i)
      r.items.push_back({"貓咪貼紙😀🐈" + std::to_string(i), 1, 20, i % 2 ? "🎉" : ""});
    kinds.emplace_back("emoji", r);
    r.mark = Mark{Mark::Kind::Void, {2026, 12, 8}, "重複😀"};
    kinds.emplace_back("void", r);
    r.mark = Mark{Mark::Kind::Reprint, {2026, 12, 8}, ""};
    kinds.emplace_back("reprint", r);
  }
  Receipt long_profile = sample();
  long_profile.seller.name = std::string(96 * 3, 'X');
  long_profile.seller.address = std::string(170, 'A');
  kinds.emplace_back("long_profile", long_profile);
  for (const auto& [label, r] : kinds) {
    const std::string path = temp_file(render_pdf(r), ".pdf");
    const int status = std::system(("qpdf --check " + path + " >/dev/null 2>&1").c_str());
    EXPECT_EQ(status, 0) << label << " (qpdf's exit status 3 is a warning)";
    std::remove(path.c_str());
  }
}

// The stroke width of one character set at 48 pt in a template's faces, in pixels: twice
// its ink's area over the ink's outline, so it does not depend on how many strokes it has.
double stroke_width(const detail::TextFitter& fitter, const char* faces, const std::string& character) {
  const detail::Fitted f = fitter.make(character, faces, 48, 200, PANGO_ALIGN_LEFT);
  constexpr int kSide = 120;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_A8, kSide, kSide);
  cairo_t* cr = cairo_create(s);
  detail::show(cr, f, 10, 10);
  cairo_destroy(cr);
  cairo_surface_flush(s);
  const unsigned char* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  const auto ink = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < kSide && y < kSide && data[y * stride + x] > 127;
  };
  double area = 0, outline = 0;
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x)
      if (ink(x, y)) {
        ++area;
        outline += !ink(x - 1, y) + !ink(x + 1, y) + !ink(x, y - 1) + !ink(x, y + 1);
      }
  cairo_surface_destroy(s);
  return outline > 0 ? 2 * area / outline : 0;
}

struct FallbackCase {
  const char* label;
  Template layout;
  const char* missing;    // a character the template's faces lack
  const char* neighbour;  // one of the same build that they have
  const char* fallback;   // the face it comes from
};

class Fallback : public testing::TestWithParam<FallbackCase> {};

// A character the template's face lacks comes from a face of the same style: its strokes
// as heavy as its neighbours'.
TEST_P(Fallback, MatchesTheTemplatesStrokeWeight) {
  const FallbackCase& c = GetParam();
  const detail::TextFitter fitter;
  const char* faces = template_info(c.layout).faces;
  const double missing = stroke_width(fitter, faces, c.missing);
  const double neighbour = stroke_width(fitter, faces, c.neighbour);
  EXPECT_NEAR(missing / neighbour, 1.0, 0.2) << missing << " against " << neighbour;
  // The face the character is set in, among its neighbours. (Not through a PDF here: cairo
  // 1.16 loses a few hundred bytes subsetting a CFF face, which the leak check would report.)
  const detail::Fitted f = fitter.make(std::string("山") + c.missing, faces, 10, 200, PANGO_ALIGN_LEFT);
  std::vector<std::string> families;
  PangoLayoutIter* iter = pango_layout_get_iter(f.layout.get());
  do {
    if (PangoLayoutRun* run = pango_layout_iter_get_run(iter)) {
      PangoFontDescription* d = pango_font_describe(run->item->analysis.font);
      families.push_back(pango_font_description_get_family(d));
      pango_font_description_free(d);
    }
  } while (pango_layout_iter_next_run(iter));
  pango_layout_iter_free(iter);
  ASSERT_EQ(families.size(), 2u);
  EXPECT_EQ(families[1], c.fallback);
}

const FallbackCase kFallbacks[] = {
    {"cat_hei", Template::Cat, "峯", "峰", "Noto Sans CJK TC"},
    {"general_ming", Template::General, "𠀋", "丁", "Noto Serif CJK TC"},
};

INSTANTIATE_TEST_SUITE_P(Faces, Fallback, testing::ValuesIn(kFallbacks),
                         [](const auto& p) { return std::string(p.param.label); });

// Read without -layout, in the PDF reader's own order: emoji carry their text, every row
// comes before 合計, and the seal reads as its name.
TEST(TextLayer, EmojiRowsAndSealReadInOrder) {
  for (const Template layout : {Template::General, Template::Cat}) {
    Receipt r = sample();
    r.layout = layout;
    r.items = {{"原子筆", 12, 15, ""},
               {"Pencil HB", 2, 10, ""},
               {"貓咪貼紙😀", 3, 20, "含運"},
               {"🐈 cat", 1, 5, ""},
               {"紙張", 2, 1350, ""}};
    const std::string text = pdf_text(r, "pdftotext", " -");
    size_t last_row = 0;
    for (const char* name : {"原子筆", "PencilHB", "貓咪貼紙😀", "🐈cat", "紙張"}) {
      const size_t at = text.find(name);
      ASSERT_NE(at, std::string::npos) << name << "\n" << text;
      EXPECT_GT(at, last_row) << name;
      last_row = at;
    }
    EXPECT_LT(last_row, text.find("合計")) << text;
    EXPECT_NE(text.find("王小明印"), std::string::npos) << text;
  }
}

// A name that does not fill the seal's grid shares each column's height among its
// characters: no cell stays empty.
TEST(Seal, ShortColumnsFillTheirHeight) {
  for (const char* owner : {"諸葛孔明德", "阿卜杜拉穆罕默德"}) {
    Receipt r = sample();
    r.exemption_stamp = false;
    r.seller.owner = owner;
    const Picture p = decode(render_png(r));
    const auto [x0, y0, x1, y1] = red_box(p);
    // The left column's lowest third, inside the border: a character, not blank paper.
    const double s = 72.0 / 150, border = 6;
    const double left = x0 * s + border, right = (x0 + (x1 - x0) / 3.0) * s;
    const double bottom = y1 * s - border, top = bottom - (y1 - y0) * s / 3 + border;
    EXPECT_GT(p.count(false, left, top, right, bottom), 15) << owner;
  }
}

}  // namespace
}  // namespace receiptora::render
