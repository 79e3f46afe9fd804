// The start of every thread the program runs besides the main one: with the quit signals
// blocked, so that only the thread that takes them by design (the one that writes the note of
// an interrupted run and holds them back while the files are put in place) ever does.
#pragma once

#include <thread>
#include <utility>

#include "platform/interrupt_note.h"

namespace kestrane {

// Starts a thread that runs `f` with the quit signals (kQuitSignals) blocked for its whole life.
// They are blocked in the calling thread around the start, so that the new thread begins with
// that mask, and the caller's own mask is put back at once. Every other signal stays as the
// caller has it: the faults the thread's own work raises (a SIGBUS where a mapped file became
// shorter) still reach their handlers. Throws std::system_error as std::thread does.
template <typename F>
std::thread start_quiet_thread(F&& f) {
  const QuitSignalsBlocked blocked;
  return std::thread(std::forward<F>(f));
}

}  // namespace kestrane
