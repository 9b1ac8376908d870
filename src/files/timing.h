#pragma once
// The machine's speed, measured once at start-up and kept in the settings
// (smooth zoomed display is on by default when it exceeds 10^9).

namespace vl {

// Simple integer operations per second: `rounds` timed runs (the program
// passes 100) of one fixed chain of dependent shift-and-xor steps, six
// operations each; the fastest run counts, so a busy machine reads as the
// machine it is. A current desktop gives a few times 10^9; a machine that
// does under 10^9 is slow for smoothing while zooming. 0 for rounds ≤ 0.
double timingCalibration(int rounds);

}  // namespace vl
