// The user's home folder, the one place the error log and the output folder start from.
#pragma once

#include <filesystem>
#include <string>

namespace receiptora {

// $HOME when it is set and not empty; otherwise (a service started without HOME, say) the
// account's home from the password database (%USERPROFILE% on Windows); "/" when neither
// is known.
std::filesystem::path home_folder();

// The folder receipts are saved in, as every request names it: "C:/quillmarkers/Receiptora/"
// on Windows; elsewhere the home folder + "/quillmarkers/Receiptora/", absolute, with forward
// slashes and exactly one trailing slash (a home of "/" gives "/quillmarkers/Receiptora/").
std::string output_folder();

}  // namespace receiptora
