#pragma once
// The program from start to end.
#include <functional>

#include "shell/cli/command_line.h"

namespace vl {

class TMainForm;

struct ShellHooks {
  // Called once the main window has been shown, before the loop runs (tests).
  std::function<void(TMainForm&)> started;
};

// The whole program: the Linux switches, render mode without a display, or
// the windowed program.
int velluminarMain(int argc, char** argv);

// The windowed program (normal and viewer mode) for a parsed command line.
int runShell(const ParsedCommandLine& commandLine, const char* programPath, const ShellHooks& hooks = {});

}  // namespace vl
