#pragma once
// The program's name and version as the windows and reports show them, and
// the small text formatting the shell's messages use.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/strings.h"

namespace vl {

inline constexpr std::string_view kProductName = "Velluminar";
// The application title (task bar).
inline constexpr std::string_view kApplicationTitle = "Velluminar3.0";
// Version of this program as the event recorder writes it (3, 3).
inline constexpr int kVersionMajor = 3;
inline constexpr int kVersionMinor = 3;

// The main window's caption: Format("%s%d.%2.2d", product name, major, minor).
std::string mainWindowCaption();
// Caption of every warning box: Format("%s (%s)", "경고", product name).
std::string warningCaption();

// Names of generated papers: prefix and a process-wide counter that every
// generated name advances ("Untitled1", then "PASTE2").
std::string generatedPaperName(std::string_view prefix);


}  // namespace vl
