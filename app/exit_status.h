// Exit statuses of the interactive program besides those of a run (kRunCompleted 0 and
// kRunStoppedStatus 1, app/run_driver.h), as its --help and the README list them. A signal
// that ends the program (Ctrl-C, SIGTERM) ends it by that signal once the terminal is
// restored, so a shell reports 128 + the signal's number.
#pragma once

namespace kestrane {

inline constexpr int kExitQuitSmall = 1;     // the user quit at the "terminal too small" notice
inline constexpr int kExitNotATerminal = 2;  // no terminal, or TERM unknown or unusable
inline constexpr int kExitUsage = 2;         // an argument other than --help or --version
inline constexpr int kExitFailure = 3;       // an unexpected failure, named on standard error

}  // namespace kestrane
