// Prints what signing costs and how fast receipts verify:
//   - the signature and code of one receipt (content hash, chain link, Ed25519 signature);
//   - the QR code drawn in every page: rendering a receipt with its code and without;
//   - `receiptora verify` of a receipt's 150-dpi picture and of its PDF;
//   - the chain of a book of COUNT receipts walked as `receiptora check` walks it.
//   bench_signing [COUNT] [TEMP_FOLDER]
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "median.hpp"
#include "receiptora/issuing/issue.hpp"
#include "receiptora/render/render.hpp"
#include "receiptora/store/signing.hpp"
#include "receiptora/verify/verify.hpp"

namespace fs = std::filesystem;
namespace store = receiptora::store;
namespace render = receiptora::render;

namespace {

// The median CPU time of `f` on this thread, in microseconds: steadier than the wall clock on a
// machine others are busy on.
template <class F>
double median_cpu_microseconds(int repeats, F&& f) {
  std::vector<double> times;
  for (int i = 0; i < repeats; ++i) {
    timespec t0{}, t1{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
    f();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
    times.push_back((t1.tv_sec - t0.tv_sec) * 1e6 + (t1.tv_nsec - t0.tv_nsec) / 1e3);
  }
  std::nth_element(times.begin(), times.begin() + repeats / 2, times.end());
  return times[repeats / 2];
}

receiptora::Receipt sample() {
  receiptora::Receipt r;
  r.seller.name = "林記茶行";
  r.seller.tax_id = "22099131";
  r.number = "收據-20261208-003";
  r.buyer = "王小明";
  r.date = receiptora::Date{2026, 12, 8};
  r.items = {{"茶葉", 3, 450, ""}, {"運費", 1, 80, "宅配"}, {"禮盒", 2, 150, ""}};
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const long count = argc > 1 ? std::atol(argv[1]) : 100000;
  const fs::path temp = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
  const fs::path root = temp / ("bench_signing_" + std::to_string(::getpid()));
  fs::create_directories(root);

  const auto key = store::ShopKey::of_folder(root);
  receiptora::Receipt receipt = sample();
  store::Record record = store::record_from_receipt(receipt, {2026, 12, 8});
  std::string previous(64, 'x');
  const double sign =
      median_microseconds(2001, [&] { previous = store::sign_record(*key, record, previous).signature; });
  std::printf("signature and code of one receipt (CPU): %.1f µs\n", sign);

  const double plain = median_cpu_microseconds(41, [&] { render::render_pages(receipt); });
  receipt.code = store::code_text(store::sign_record(*key, record, previous));
  receipt.code_key = key->fingerprint().substr(0, 4);
  const double coded = median_cpu_microseconds(41, [&] { render::render_pages(receipt); });
  std::printf(
      "PDF and picture of one receipt (CPU): %.2f ms with its code, %.2f ms without (the QR code: %.2f ms)\n",
      coded / 1000, plain / 1000, (coded - plain) / 1000);
  const double pdf = median_cpu_microseconds(41, [&] { render::render_pdf(receipt); });
  const double png = median_cpu_microseconds(41, [&] { render::render_png(receipt); });
  const std::string code = receipt.code;
  receipt.code.clear();
  const double pdf_plain = median_cpu_microseconds(41, [&] { render::render_pdf(receipt); });
  const double png_plain = median_cpu_microseconds(41, [&] { render::render_png(receipt); });
  receipt.code = code;
  std::printf("  of which in the PDF %.2f ms, in the picture %.2f ms\n", (pdf - pdf_plain) / 1000,
              (png - png_plain) / 1000);

  receipt.code.clear();
  const fs::path shop = root / "shop";
  fs::create_directories(shop);
  const std::string number = receiptora::issuing::issue_receipt(receipt, shop, {2026, 12, 8}).number;
  const auto chosen = receiptora::verify::choose_key(shop, "");
  for (const char* extension : {".png", ".pdf"}) {
    const std::string file = (shop / "2026-12" / (number + extension)).string();
    bool genuine = false;
    const double took =
        median_microseconds(11, [&] { genuine = receiptora::verify::verify(file, chosen, shop).genuine; });
    std::printf("verify of the receipt's %s: %.0f ms (%s)\n", extension + 1, took / 1000,
                genuine ? "真的" : "不符");
  }
  receiptora::issuing::close_books();

  // A book of `count` signed receipts: records stored in batches, each signed as it is stored.
  const fs::path big = root / "big";
  fs::create_directories(big);
  {
    store::Book book(big);
    store::attach_key(book, store::ShopKey::of_folder(big));
    std::vector<store::Record> records;
    int per_day[13][29] = {};
    const auto t0 = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
      const int month = 1 + static_cast<int>(i % 12), day = 1 + static_cast<int>((i / 12) % 28);
      char text[40], date[16];
      std::snprintf(text, sizeof text, "收據-2026%02d%02d-%03d", month, day, ++per_day[month][day]);
      std::snprintf(date, sizeof date, "2026-%02d-%02d", month, day);
      store::Record r = record;
      r.number = text;
      r.date = date;
      r.state = store::State::Issued;
      records.push_back(std::move(r));
      if (records.size() == 10000 || i + 1 == count) {
        store::insert_records(book, records);
        records.clear();
      }
    }
    const double filled = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%ld receipts stored and signed: %.1f s\n", count, filled);
  }
  store::Book book(big, store::Book::Access::Read);
  const auto t0 = std::chrono::steady_clock::now();
  const store::ChainReport chain = store::verify_chain(book);
  const double walked = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("chain of %zu receipts verified (%s): %.1f s\n", chain.links, chain.whole() ? "完整" : "斷開",
              walked);
  fs::remove_all(root);
  return 0;
}
