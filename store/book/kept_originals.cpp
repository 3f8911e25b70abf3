// A void receipt's clean original, moved out of the month's view into its .原本 folder, so
// nobody browsing the month sends it by mistake; the 作廢 copy stays beside the others.
#include <cerrno>
#include <system_error>

#include "platform.hpp"
#include "receiptora/store/book.hpp"

namespace receiptora::store {

std::vector<std::string> keep_originals_out_of_view(const fs::path& root, const Record& record) {
  std::vector<std::string> moved;
  if (record.state != State::Void) return moved;
  for (const BookFile& file : record.files) {
    const std::string kept = stored_name(record, file);
    if (kept == file.name) continue;
    const fs::path from = root / file.name, to = root / kept;
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(from, ec)))
      continue;  // moved already (or gone: check says so)
    platform::make_real_folder(to.parent_path(), "作廢收據原本的資料夾");
    if (!platform::rename_no_replace(from, to)) {
      const int error = errno;
      // One there already with the same content: a move that went as far as a hard link would.
      if (error == ENOENT) continue;  // another process moved it meanwhile
      if (error == EEXIST && sha256_of_file(from) == sha256_of_file(to)) {
        platform::remove_file(from);
      } else {
        throw std::system_error(error, std::generic_category(), "無法把 " + file.name + " 移入 " + kept);
      }
    }
    moved.push_back(kept);
  }
  if (!moved.empty()) {
    const fs::path kept = (root / moved.front()).parent_path();
    platform::sync_folder(kept);
    platform::sync_folder(kept.parent_path());
  }
  return moved;
}

}  // namespace receiptora::store
