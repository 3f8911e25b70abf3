// Which processes are issuing into an output folder. Each process holding a folder's book
// keeps a lock on the byte at its process id in ".收據簿-owners"; the system drops the lock
// when the process ends, kill -9 included, so recovery can tell a pending record that a
// live process is still working on from one left by a dead process.
#pragma once

#include <filesystem>
#include <string>

namespace receiptora::issuing {

// This process's owner name for `root` (its process id), taking the lock on first use.
std::string this_owner(const std::filesystem::path& root);

// Whether `owner` is this process or another live process working in `root`.
bool owner_alive(const std::filesystem::path& root, const std::string& owner);

// Held while a process sets a damaged book aside, so no two processes do it at once (the
// second one then opens the new book). Waits for another holder.
class RepairLock {
 public:
  explicit RepairLock(const std::filesystem::path& root);
  ~RepairLock();
  RepairLock(const RepairLock&) = delete;
  RepairLock& operator=(const RepairLock&) = delete;

 private:
  int fd_;
};

}  // namespace receiptora::issuing
