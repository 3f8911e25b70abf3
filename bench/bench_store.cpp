// Prints what the store costs per receipt: reading the seller profile with a stamp picture
// (first read decodes the picture, later reads find it checked), adding a ledger line, and the start-up sweep
// for temporaries over a month of receipts.
#include <cairo.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "receiptora/store/files.hpp"
#include "receiptora/store/ledger.hpp"
#include "receiptora/store/numbering.hpp"
#include "receiptora/store/profile.hpp"
#include "median.hpp"

namespace {

namespace fs = std::filesystem;
namespace store = receiptora::store;

void write_picture(const fs::path& file, int width, int height) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgba(cr, 0.8, 0.1, 0.1, 0.9);
  cairo_arc(cr, width / 2.0, height / 2.0, width / 2.5, 0, 6.3);
  cairo_fill(cr);
  cairo_destroy(cr);
  cairo_surface_write_to_png(surface, file.c_str());
  cairo_surface_destroy(surface);
}

}  // namespace

int main() {
  std::string pattern = (fs::temp_directory_path() / "bench-store-XXXXXX").string();
  const fs::path root = ::mkdtemp(pattern.data());

  write_picture(root / "seal.png", 800, 800);
  std::ofstream(root / std::string(store::kProfileName))
      << "\"商號名稱\" = \"林記茶行\"\n\"統一編號\" = \"22099131\"\n\"負責人章圖檔\" = \"seal.png\"\n";
  const auto t0 = std::chrono::steady_clock::now();
  const store::ProfileRead first = store::read_profile(root);
  const double first_us =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
  if (!first.problems.empty()) std::printf("profile problem: %s\n", first.problems.front().c_str());
  std::printf("read_profile, 800x800 stamp picture, first read: %8.1f us\n", first_us);
  std::printf("read_profile, picture already checked:          %8.1f us\n",
              median_microseconds(200, [&] { (void)store::read_profile(root); }));

  const fs::path ledger = root / std::string(store::kLedgerName);
  store::LedgerLine line{"收據-20261207-001",
                         "2026-12-07",
                         "林記茶行",
                         "04595257",
                         2,
                         "970",
                         "2026-12/收據-20261207-001.pdf; 2026-12/收據-20261207-001.png",
                         "一般格式",
                         "已開立"};
  std::printf("append_ledger (lock, end check, write, fdatasync): %6.1f us\n",
              median_microseconds(200, [&] { store::append_ledger(ledger, line); }));

  const store::Day day{2026, 12, 7};
  const fs::path month = store::real_month_folder(root, day);
  for (int i = 0; i < 3000; ++i)
    std::ofstream(month / (store::receipt_number(day, 1000 + i) + ".pdf")) << "x";
  for (int i = 0; i < 20; ++i) {
    std::string name(1, '.');
    name.append(store::receipt_number(day, i)).append(".png.abcdef");
    std::ofstream(month / name) << "x";
  }
  std::printf("remove_stale_temporaries, 3,020 files in a month: %6.1f us\n",
              median_microseconds(20, [&] { (void)store::remove_stale_temporaries(root); }));

  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
