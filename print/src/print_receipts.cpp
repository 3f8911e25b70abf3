#include "receiptora/log_file.hpp"
#include "receiptora/print/print.hpp"

namespace receiptora::print {

std::vector<PrintOutcome> print_receipts(const fs::path& root, const std::vector<std::string>& numbers,
                                         const PrintRequest& request, const fs::path& log) {
  std::vector<PrintOutcome> outcomes;
  outcomes.reserve(numbers.size());
  for (const std::string& number : numbers) {
    PrintOutcome outcome{number, {}, {}};
    try {
      const fs::path pdf = receipt_pdf(root, number);
      PrintRequest job = request;
      if (job.title.empty()) job.title = pdf.stem().string();
      outcome.job = print_pdf(pdf, job);
    } catch (const PrintError& error) {
      outcome.error = error.what();
      append_to_log(log, "=== " + local_iso_timestamp() + " 列印 " + number + "\n" + outcome.error + "\n");
    }
    outcomes.push_back(std::move(outcome));
  }
  return outcomes;
}

}  // namespace receiptora::print
