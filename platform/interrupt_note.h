// The note a signal handler writes when a run is ended by SIGINT, SIGTERM, SIGHUP or SIGQUIT:
// which files the run leaves behind. Set by the front ends, read by the handlers of both
// programs with async-signal-safe calls only. Also the blocking of those signals around the
// moment the files of a run are put in place.
#pragma once

#include <signal.h>

#include <array>
#include <string>
#include <string_view>

namespace kestrane {

// Replaces the note (an empty text clears it). Any length. Not for use inside a signal
// handler; a handler that runs meanwhile writes either the old note or the new one whole.
void set_interrupt_note(std::string_view text);

// Writes the current note, if any, to `fd` with write(2). Async-signal-safe.
void write_interrupt_note(int fd) noexcept;

// `text` as lines of at most `width` characters, each beginning with `prefix` and ending with
// a newline. A line feed in `text` starts a new line; lines are broken at blanks only, so a
// word longer than a line (a long file name) stands whole on a line of its own.
std::string note_lines(std::string_view text, std::string_view prefix = {}, std::size_t width = 79);

// The signals that end a run with a note: SIGINT, SIGTERM, SIGHUP and SIGQUIT. The handlers
// of both programs are installed for these, and the threads a run starts block them.
inline constexpr std::array<int, 4> kQuitSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// kQuitSignals as a signal set.
sigset_t quit_signals();

// Blocks the quit signals in the calling thread while it lives, then puts the thread's
// earlier mask back; a signal that came meanwhile is delivered then. A thread started while
// one lives keeps them blocked for good, so that only the thread that started it ever takes
// them.
class QuitSignalsBlocked {
 public:
  QuitSignalsBlocked() noexcept;
  ~QuitSignalsBlocked();
  QuitSignalsBlocked(const QuitSignalsBlocked&) = delete;
  QuitSignalsBlocked& operator=(const QuitSignalsBlocked&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace kestrane
