// The note a signal handler writes when a run is ended by SIGINT or SIGTERM: which partial
// files the run leaves behind. Set by the processing before it writes anything, read by the
// handlers of both programs with async-signal-safe calls only.
#pragma once

#include <string_view>

namespace kestrane {

// Replaces the note (an empty text clears it). Not for use inside a signal handler.
void set_interrupt_note(std::string_view text);

// Writes the current note, if any, to `fd` with write(2). Async-signal-safe.
void write_interrupt_note(int fd) noexcept;

}  // namespace kestrane
