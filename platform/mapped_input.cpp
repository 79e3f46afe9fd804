// The watched input files and the SIGBUS handler that stops a run whose input became shorter
// while it was mapped. The handler uses async-signal-safe calls only (fstat, write, _exit,
// sigaction, raise), on bytes prepared when a file is watched.
#include "platform/mapped_input.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <string>

#include "platform/file_services.h"
#include "platform/interrupt_note.h"

namespace kestrane {

namespace {

constexpr int kFree = 0;
constexpr int kChanging = 1;  // being filled in or let go: the handler passes it over
constexpr int kWatched = 2;

constexpr std::string_view kRunStopped = "; the run stopped.";

struct Slot {
  std::atomic<int> state{kFree};
  int fd = -1;
  off_t size = 0;
  std::array<char, 2048> message{};
  std::size_t length = 0;
};

std::array<Slot, 4> g_slots;
std::string g_program;    // "kestrane-batch: "
std::size_t g_width = 0;  // of the lines the message is broken into; 0: one line
bool (*g_line_open)() noexcept = nullptr;
struct sigaction g_previous {};
std::atomic<bool> g_stopping{false};
pid_t g_main_thread = 0;  // the thread that installed the handler

void write_all(const char* at, std::size_t left) noexcept {
  kestrane::write_all(STDERR_FILENO, std::string_view(at, left));
}

// The file of a slot is shorter now than it was when it was opened.
bool shortened(const Slot& slot) noexcept {
  struct stat now {};
  return ::fstat(slot.fd, &now) == 0 && now.st_size < slot.size;
}

// A watched file that is shorter now than when it was opened; none when no file is.
const Slot* shortened_slot() noexcept {
  for (const Slot& slot : g_slots) {
    if (slot.state.load(std::memory_order_acquire) == kWatched && shortened(slot)) return &slot;
  }
  return nullptr;
}

// The size test rather than the fault's address: a SIGBUS raised again by another handler
// (the terminal's, once it has put the terminal back) carries no address.
extern "C" void on_bus_error(int signal_number, siginfo_t* info, void* context) {
  if (const Slot* slot = shortened_slot()) {
    // The main thread writes the message, so that nothing draws over it meanwhile.
    hand_shortened_input_to_main_thread(signal_number);
    // Two threads may fault on the file at once: one message, and the other waits for the end.
    if (g_stopping.exchange(true)) {
      for (;;) ::pause();
    }
    if (g_line_open != nullptr && g_line_open()) write_all("\n", 1);
    write_all(slot->message.data(), slot->length);
    write_interrupt_note(STDERR_FILENO);
    ::_exit(kMappedInputShortenedStatus);
  }
  // Not a watched file's: whoever had the signal before takes it.
  if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
    g_previous.sa_sigaction(signal_number, info, context);
    return;
  }
  if ((g_previous.sa_flags & SA_SIGINFO) == 0 && g_previous.sa_handler != SIG_DFL &&
      g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(signal_number);
    return;
  }
  // The default action, delivered as the handler returns (the signal is blocked until then).
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

}  // namespace

void hand_shortened_input_to_main_thread(int signal_number) noexcept {
  if (g_main_thread == 0 || ::gettid() == g_main_thread || shortened_slot() == nullptr) return;
  ::tgkill(::getpid(), g_main_thread, signal_number);
  for (;;) ::pause();
}

void guard_mapped_inputs(std::string_view program, bool (*line_open)() noexcept,
                         std::size_t width) {
  g_program.assign(program).append(": ");
  g_width = width;
  g_line_open = line_open;
  g_main_thread = ::gettid();
  struct sigaction action {};
  action.sa_sigaction = on_bus_error;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, &g_previous);
}

MappedInputWatch::MappedInputWatch(int fd, std::uint64_t size, std::string_view display_name) {
  std::string name(display_name);
  std::replace(name.begin(), name.end(), '\\', '/');
  std::string message = g_program + name + std::string(kShortenedWords) + std::string(kRunStopped);
  if (g_width > 0) message = note_lines(message, {}, g_width);
  for (std::size_t i = 0; i < g_slots.size(); ++i) {
    int expected = kFree;
    if (!g_slots[i].state.compare_exchange_strong(expected, kChanging)) continue;
    Slot& slot = g_slots[i];
    slot.fd = fd;
    slot.size = static_cast<off_t>(size);
    // A name too long for the slot is cut; the message still ends its line.
    slot.length = std::min(message.size(), slot.message.size() - 1);
    std::memcpy(slot.message.data(), message.data(), slot.length);
    if (slot.message[slot.length - 1] != '\n') slot.message[slot.length++] = '\n';
    slot.state.store(kWatched, std::memory_order_release);
    slot_ = static_cast<int>(i);
    return;
  }
}

MappedInputWatch::~MappedInputWatch() {
  if (slot_ < 0) return;
  Slot& slot = g_slots[static_cast<std::size_t>(slot_)];
  slot.state.store(kChanging, std::memory_order_release);
  slot.fd = -1;
  slot.state.store(kFree, std::memory_order_release);
}

std::shared_ptr<const char> map_for_reading(int fd, std::uint64_t start, std::size_t size,
                                            bool populate_now) {
  int flags = MAP_PRIVATE;
#if defined(MAP_POPULATE)
  if (populate_now) flags |= MAP_POPULATE;
#endif
  void* at = ::mmap(nullptr, size, PROT_READ, flags, fd, static_cast<off_t>(start));
  if (at == MAP_FAILED) return {};
  std::shared_ptr<const char> bytes(static_cast<const char*>(at), [size](const char* p) {
    ::munmap(const_cast<char*>(p), size);
  });
#if !defined(MAP_POPULATE)
  if (populate_now) populate_mapping(bytes.get(), size);
#endif
  return bytes;
}

void populate_mapping(const char* bytes, std::size_t size) noexcept {
#if defined(MADV_POPULATE_READ)
  if (::madvise(const_cast<char*>(bytes), size, MADV_POPULATE_READ) == 0) return;
#endif
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  volatile char sink = 0;
  for (std::size_t at = 0; page > 0 && at < size; at += page) sink = bytes[at];
  (void)sink;
}

}  // namespace kestrane
