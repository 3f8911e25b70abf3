// Printing receipts through CUPS: a PDF handed to the default printer (or a named one) on A5
// paper in landscape, N copies. Pure C++ (libcups); never touches Python.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace receiptora::print {

namespace fs = std::filesystem;

// A print that did not reach the printer's queue: no printer, CUPS not running, a file that
// cannot be read. The message is a sentence for the shop owner.
class PrintError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PrintRequest {
  std::string printer;  // empty: the default printer
  int copies = 1;       // 1..kMaxCopies
  std::string title;    // the job's name in the printer's queue; empty: the file's name
};

inline constexpr int kMaxCopies = 99;

struct PrintJob {
  int id = 0;
  std::string printer;
};

// The CUPS options of a receipt job: A5 paper, landscape, the copies.
std::vector<std::pair<std::string, std::string>> job_options(const PrintRequest& request);

// Hands `pdf` to CUPS and returns once the scheduler has accepted the job (it prints later).
// Throws PrintError when the copies are out of range, the file is not readable, there is no
// such printer (or no default one) or the scheduler does not answer.
PrintJob print_pdf(const fs::path& pdf, const PrintRequest& request);

// The PDF to print for receipt `number` ("收據-20261207-001" or "20261207-001") in the output
// folder `root`: root/2026-12/收據-20261207-001.pdf, or for a receipt the book says is void its
// 作廢 copy (refused when it has none), never the clean original; refused for a receipt the
// book never issued. The book is only read. Throws PrintError for text that is not a receipt
// number (so no path can be smuggled in) and when the file does not exist.
fs::path receipt_pdf(const fs::path& root, std::string_view number);

// The picture of receipt `number` to paste into a chat or a mail: its page 1 (a PNG of 1240 × 874
// pixels), or a void receipt's 作廢 copy's page 1, with how many pages the receipt has. Refused as
// receipt_pdf refuses.
struct ReceiptPicture {
  fs::path png;
  int pages = 1;
};
ReceiptPicture receipt_picture(const fs::path& root, std::string_view number);

}  // namespace receiptora::print

namespace receiptora::print {

// What became of one receipt sent to the printer: the job, or the reason it was not printed.
struct PrintOutcome {
  std::string number;
  PrintJob job;       // id 0 when it failed
  std::string error;  // empty when the job was accepted
};

// Prints the receipts `numbers` of the output folder `root` one after another. A receipt that
// cannot be printed does not stop the others; its reason is appended to the error log `log`
// (core's rotating log file). Nothing is changed in the output folder.
std::vector<PrintOutcome> print_receipts(const fs::path& root, const std::vector<std::string>& numbers,
                                         const PrintRequest& request, const fs::path& log);

}  // namespace receiptora::print
