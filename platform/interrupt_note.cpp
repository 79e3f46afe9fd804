// The note of an interrupted run, kept where a signal handler can reach it safely.
#include "platform/interrupt_note.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <string>

namespace kestrane {

namespace {

// Two buffers: the handler reads the one the pointer names while the other is rewritten, so
// it never sees a note half replaced. A note longer than a buffer is cut (at 8 KiB).
std::array<std::array<char, 8192>, 2> g_buffers{};
std::atomic<const char*> g_note{nullptr};
int g_next = 0;

}  // namespace

void set_interrupt_note(std::string_view text) {
  if (text.empty()) {
    g_note.store(nullptr);
    return;
  }
  auto& buffer = g_buffers[static_cast<std::size_t>(g_next)];
  const std::size_t length = std::min(text.size(), buffer.size() - 1);
  std::memcpy(buffer.data(), text.data(), length);
  buffer[length] = '\0';
  g_note.store(buffer.data());
  g_next = 1 - g_next;
}

void write_interrupt_note(int fd) noexcept {
  const char* note = g_note.load();
  if (note == nullptr) return;
  std::size_t left = std::strlen(note);
  while (left > 0) {
    const ssize_t written = ::write(fd, note, left);
    if (written <= 0) return;
    note += written;
    left -= static_cast<std::size_t>(written);
  }
}

}  // namespace kestrane
