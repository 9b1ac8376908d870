#pragma once
// "--export": files rendered to pictures without a display.
#include "shell/cli/command_line.h"

namespace vl {

// The exit status: 0 when every output was written, 1 otherwise (with one
// line a failure on standard error), 2 when the command line names no input.
int runExportMode(const StartupOptions& options);

}  // namespace vl
