// The note of an interrupted run, kept where a signal handler can reach it safely, and the
// blocking of the quit signals.
#include "platform/interrupt_note.h"

#include <pthread.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <string>

#include "base/text_wrap.h"
#include "platform/file_services.h"

namespace kestrane {

namespace {

// Two texts: the handler reads the one the pointer names while the other is rewritten, so it
// never sees a note half replaced.
std::array<std::string, 2> g_notes;
std::atomic<const std::string*> g_note{nullptr};
std::size_t g_next = 0;

}  // namespace

void set_interrupt_note(std::string_view text) {
  if (text.empty()) {
    g_note.store(nullptr);
    return;
  }
  std::string& note = g_notes[g_next];
  note.assign(text);
  g_note.store(&note);
  g_next = 1 - g_next;
}

void write_interrupt_note(int fd) noexcept {
  const std::string* note = g_note.load();
  if (note == nullptr) return;
  write_all(fd, *note);
}

std::string note_lines(std::string_view text, std::string_view prefix, std::size_t width) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  return wrap_at_blanks(text, width, prefix) + "\n";
}

sigset_t quit_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal_number : kQuitSignals) sigaddset(&set, signal_number);
  return set;
}

QuitSignalsBlocked::QuitSignalsBlocked() noexcept {
  const sigset_t set = quit_signals();
  ::pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

QuitSignalsBlocked::~QuitSignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

}  // namespace kestrane
