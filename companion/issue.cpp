#include "issue.hpp"

#include <gmpxx.h>

#include "receiptora/render/render.hpp"
#include "receiptora/store/files.hpp"
#include "receiptora/store/ledger.hpp"

namespace quillmarkers {

namespace fs = std::filesystem;
namespace render = receiptora::render;
namespace store = receiptora::store;

render::SellerProfile seller_profile(const store::SellerDetails& details) {
  return {details.name,
          details.tax_id,
          details.owner,
          details.address,
          details.phone,
          details.exemption_stamp_image,
          details.owner_seal_image};
}

IssuedReceipt issue_receipt(render::Receipt receipt, const fs::path& root, store::Day day) {
  receipt.number = store::claim_number(root, day);
  const std::string pdf_bytes = render::render_pdf(receipt);
  const std::string png_bytes = render::render_png(receipt);

  const fs::path folder = store::month_folder(root, day);
  IssuedReceipt issued{receipt.number, folder / (receipt.number + ".pdf"),
                       folder / (receipt.number + ".png")};
  store::write_new_file(issued.pdf, pdf_bytes);
  store::write_new_file(issued.png, png_bytes);
  store::sync_folder(folder);

  mpz_class total = 0;
  for (const render::Item& item : receipt.items) total += item.quantity * item.unit_price;
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", day.year, day.month, day.day);
  const std::string month = folder.filename().string();
  store::append_ledger(
      root / std::string(store::kLedgerName),
      {receipt.number, date, receipt.buyer, receipt.buyer_tax_id, receipt.items.size(), total.get_str(),
       month + "/" + receipt.number + ".pdf; " + month + "/" + receipt.number + ".png",
       receipt.layout == render::Template::Cat ? "貓咪格式" : "一般格式"});
  return issued;
}

}  // namespace quillmarkers
