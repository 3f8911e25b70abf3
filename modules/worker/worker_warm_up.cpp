// What the first receipt would otherwise pay for, readied on the worker's thread while the
// window starts (the GIL released): fontconfig, every template's faces and this thread's pango
// font map (pango keeps one per thread), the glyphs of figures, capital numerals, the seller
// block and both stamps; SHA-256; and the output folder's book, opened (recovering what a
// stopped app left) with the month's rows read. Nothing is created when the folder does not
// exist. A step that fails is logged and the worker goes on to the requests: a receipt that
// meets the same failure logs it with its request.
#include "receiptora/home_folder.hpp"
#include "receiptora/issuing/issue.hpp"
#include "receiptora/month_grid.hpp"
#include "receiptora/render/render.hpp"
#include "receiptora/reports/month_view.hpp"
#include "receiptora/store/book.hpp"
#include "receiptora/store/profile.hpp"
#include "receiptora/templates.hpp"
#include "receipt_requests.hpp"
#include "worker_parts.hpp"

namespace quillmarkers {

namespace py = pybind11;
namespace fs = std::filesystem;
namespace render = receiptora::render;
namespace store = receiptora::store;

namespace {

template <class Step>
void attempt(std::vector<std::string>& failures, const char* what, Step&& step) {
  try {
    step();
  } catch (const std::exception& failure) {
    failures.push_back(std::string("啟動時預先準備") + what + "失敗：" + failure.what());
  } catch (...) {
    failures.push_back(std::string("啟動時預先準備") + what + "失敗");
  }
}

// A receipt that uses every face and the common glyphs a real one draws: the shop's seller
// block, both stamps, a date, a buyer's 統一編號 and a total whose capital numerals hold every
// digit and unit.
receiptora::Receipt sample_receipt(const receiptora::SellerProfile& seller, receiptora::Template layout) {
  receiptora::Receipt sample;
  sample.seller = seller;
  if (sample.seller.name.empty()) sample.seller.name = "商號名稱";
  if (sample.seller.owner.empty()) sample.seller.owner = "負責人";
  sample.number = "收據-20260101-001";
  sample.buyer = "買受人";
  sample.buyer_tax_id = "04595257";
  const receiptora::CalendarDate today = receiptora::today_local();
  sample.date = receiptora::Date{today.year, today.month, today.day};
  sample.items.push_back({"商品", 1, mpz_class("1234567890"), ""});
  sample.exemption_stamp = sample.owner_seal = true;
  sample.layout = layout;
  return sample;
}

}  // namespace

void warm_up(py::handle error_log) {
  std::vector<std::string> failures, notes;
  {
    py::gil_scoped_release released;
    const fs::path folder = receiptora::output_folder();
    std::error_code ec;
    const bool shop = fs::is_directory(folder, ec);
    receiptora::SellerProfile seller;
    attempt(failures, "賣方資料", [&] {
      if (shop && fs::is_regular_file(folder / std::string(store::kProfileName), ec))
        seller = store::read_profile(folder).seller;
    });
    attempt(failures, "字型與版面", [&] {
      for (const receiptora::TemplateInfo& layout : receiptora::templates())
        (void)render::render_pages(sample_receipt(seller, layout.id));
    });
    attempt(failures, "收據簿", [&] {
      (void)store::sha256_hex("");
      if (!shop) return;
      store::Book& book = receiptora::issuing::book_for(folder);
      notes = receiptora::issuing::recovery_of(folder).problems;  // also stamp pictures copied in
      const receiptora::CalendarDate today = receiptora::today_local();
      (void)store::list_receipts(book, receiptora::reports::month_key({today.year, today.month}), "");
    });
  }
  for (const std::string& failure : failures)
    log_failure(error_log, py::reinterpret_borrow<py::object>(PyExc_RuntimeError)(failure), py::handle(),
                "之後的收據照常處理");
  for (const std::string& note : notes)
    log_failure(error_log, py::reinterpret_borrow<py::object>(PyExc_UserWarning)(note), py::handle(),
                "開啟收據簿時");
}

}  // namespace quillmarkers
