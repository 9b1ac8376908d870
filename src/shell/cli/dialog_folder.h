#pragma once
// Where the file dialogs open.
#include <string>
#include <string_view>

namespace vl {

// The folder last used when it still is a folder and is more than the stored
// default (the program's own folder, which after installation holds only the
// binary); else the user's pictures folder; else home; else "" (the dialog's
// own choice).
std::string dialogStartFolder(std::string_view lastUsed, std::string_view programFolder, std::string_view pictures,
                              std::string_view home);

}  // namespace vl
