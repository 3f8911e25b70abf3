// The user's home folder, the one place the error log and the output folder start from.
#pragma once

#include <filesystem>

namespace receiptora {

// $HOME when it is set and not empty; otherwise (a service started without HOME, say) the
// account's home from the password database (%USERPROFILE% on Windows); "/" when neither
// is known.
std::filesystem::path home_folder();

}  // namespace receiptora
