#include "receiptora/print/print.hpp"
#include "receiptora/store/book.hpp"

#include <cups/cups.h>

#include <algorithm>
#include <memory>
#include <system_error>

namespace receiptora::print {

namespace {

constexpr std::string_view kPrefix = "收據-";

bool all_digits(std::string_view text) {
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return !text.empty();
}

constexpr int kConnectMs = 5000;

struct HttpClose {
  void operator()(http_t* http) const { httpClose(http); }
};

struct DestFree {
  void operator()(cups_dest_t* dest) const { cupsFreeDests(1, dest); }
};

std::string printer_label(const std::string& name) { return name.empty() ? "預設印表機" : name; }

}  // namespace

std::vector<std::pair<std::string, std::string>> job_options(const PrintRequest& request) {
  return {
      {"media", "iso_a5_148x210mm"},
      {"orientation-requested", "4"},  // landscape: the receipt's long side across
      {"copies", std::to_string(request.copies)},
  };
}

PrintJob print_pdf(const fs::path& pdf, const PrintRequest& request) {
  if (request.copies < 1 || request.copies > kMaxCopies)
    throw PrintError("份數須在 1 到 " + std::to_string(kMaxCopies) + " 之間，不是 " +
                     std::to_string(request.copies));
  std::error_code ec;
  if (!fs::is_regular_file(pdf, ec)) throw PrintError("找不到收據檔 " + pdf.string());

  std::unique_ptr<http_t, HttpClose> http(
      httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectMs, nullptr));
  if (!http) throw PrintError("列印服務（CUPS）沒有在執行：" + std::string(cupsServer()));
  std::unique_ptr<cups_dest_t, DestFree> dest(
      cupsGetNamedDest(http.get(), request.printer.empty() ? nullptr : request.printer.c_str(), nullptr));
  if (!dest)
    throw PrintError(request.printer.empty() ? "尚未設定預設印表機"
                                             : "沒有名為 " + request.printer + " 的印表機");

  cups_option_t* options = nullptr;
  int count = 0;
  for (const auto& [name, value] : job_options(request))
    count = cupsAddOption(name.c_str(), value.c_str(), count, &options);
  const std::string title = request.title.empty() ? pdf.filename().string() : request.title;
  const int id = cupsPrintFile2(http.get(), dest->name, pdf.c_str(), title.c_str(), count, options);
  cupsFreeOptions(count, options);
  if (id <= 0) throw PrintError("無法在 " + printer_label(dest->name) + " 列印：" + cupsLastErrorString());
  return {id, dest->name};
}

namespace {

struct Found {
  fs::path file;
  int pages = 1;
};

// Receipt `number`'s file with `extension` (the first of its kind: page 1's picture), or a void
// receipt's 作廢 copy's; `use` says what the refusals refuse (列印, 複製).
Found receipt_file(const fs::path& root, std::string_view number, std::string_view extension,
                   const char* use) {
  std::string_view digits = number;
  if (digits.substr(0, kPrefix.size()) == kPrefix) digits.remove_prefix(kPrefix.size());
  // YYYYMMDD-NNN (a day's thousandth receipt has four digits)
  const bool shaped = digits.size() >= 12 && digits.size() <= 16 && digits[8] == '-' &&
                      all_digits(digits.substr(0, 8)) && all_digits(digits.substr(9));
  if (!shaped) throw PrintError("不是收據號碼：" + std::string(number));
  const std::string month = std::string(digits.substr(0, 4)) + "-" + std::string(digits.substr(4, 2));
  const std::string name = std::string(kPrefix) + std::string(digits);
  Found found{root / month / (name + std::string(extension)), 1};
  // What the book says of it: a void receipt is used only as its 作廢 copy, never the clean
  // original; one that was never issued is refused. A receipt of a folder made before the book
  // (no book, or no record) is used from its file.
  std::unique_ptr<store::Book> book;
  try {
    book = store::open_book_for_reading(root);
  } catch (const std::exception& error) {
    throw PrintError(error.what());
  }
  if (const auto record = book ? store::find_receipt(*book, name) : std::nullopt) {
    if (record->state != store::State::Void && record->state != store::State::Issued)
      throw PrintError("收據 " + name + " 沒有開立成功（" + std::string(store::state_label(record->state)) +
                       "），不能" + use);
    const std::string kind = record->state == store::State::Void ? "void" : "original";
    int pages = 0;
    fs::path first;
    for (const store::BookFile& file : record->files)
      if (file.kind == kind && fs::path(file.name).extension() == extension && pages++ == 0)
        first = root / file.name;
    if (kind == "void") {
      if (first.empty()) throw PrintError("收據 " + name + " 已作廢，沒有作廢副本可" + use);
      found.file = first;
    }
    found.pages = std::max(1, pages);
  }
  std::error_code ec;
  if (!fs::is_regular_file(found.file, ec))
    throw PrintError(root.string() + " 裡沒有收據 " + std::string(number));
  return found;
}

}  // namespace

fs::path receipt_pdf(const fs::path& root, std::string_view number) {
  return receipt_file(root, number, ".pdf", "列印").file;
}

ReceiptPicture receipt_picture(const fs::path& root, std::string_view number) {
  const Found found = receipt_file(root, number, ".png", "複製");
  return {found.file, found.pages};
}

}  // namespace receiptora::print
