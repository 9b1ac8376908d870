#pragma once
// The user-interface services of the unattended modes: nobody is there, so
// warnings and information go to standard error and every question takes
// its default answer (No).
#include <string>
#include <string_view>

#include "platform/ui_services.h"

namespace vl {

class UnattendedUi : public UiServices {
 public:
  void Warning(std::string_view text) override;
  void Information(std::string_view text) override;
  bool Question(std::string_view text, Buttons buttons) override;
  void Trace(std::string_view line) override;
};

// The message boxes' "\r\n" and "\r" line breaks as '\n'.
std::string plainLines(std::string_view text);

// "velluminar: <text>" as one line on standard error.
void printError(std::string_view text);

}  // namespace vl
