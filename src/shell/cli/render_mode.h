#pragma once
// The unattended render mode: no display, no window. It replays the first
// file on the command line, writes the picture and the event data into the
// output folder and reports a completion code.
#include <cstdio>
#include <string>

#include "shell/cli/command_line.h"

namespace vl {

// Replays one event file to its end and writes its outputs into the folder;
// returns a completion code (8, 9, 10 or 11). The event player installs it;
// until then render mode cannot play anything.
using RenderFunction = int (*)(const std::string& eventFile, const std::string& outputFolder);
void setRenderFunction(RenderFunction render);
RenderFunction renderFunction();

// Whether an event file can be read at all: a regular file that opens.
// Never waits (a pipe is refused); the reason otherwise.
bool readableEventFile(const std::string& path, std::string& reason);

// Runs render mode; returns the completion code, which becomes the exit status.
int runRenderMode(const StartupOptions& options, std::FILE* out = stdout);

}  // namespace vl
