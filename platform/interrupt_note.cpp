// The note of an interrupted run, kept where a signal handler can reach it safely, and the
// blocking of the quit signals.
#include "platform/interrupt_note.h"

#include <pthread.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <string>

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
  std::string out;
  for (;;) {
    const std::size_t newline = text.find('\n');
    std::string_view paragraph = text.substr(0, newline);
    std::string line(prefix);
    bool empty = true;
    while (!paragraph.empty()) {
      const std::size_t blank = paragraph.find(' ');
      const std::string_view word = paragraph.substr(0, blank);
      paragraph.remove_prefix(blank == std::string_view::npos ? paragraph.size() : blank + 1);
      if (word.empty()) continue;
      if (!empty && line.size() + 1 + word.size() > width) {
        out += line + '\n';
        line.assign(prefix);
        empty = true;
      }
      if (!empty) line += ' ';
      line += word;
      empty = false;
    }
    out += line + '\n';
    if (newline == std::string_view::npos || newline + 1 == text.size()) break;
    text.remove_prefix(newline + 1);
  }
  return out;
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
