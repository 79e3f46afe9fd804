// The input files a run reads through memory maps, and what happens when another program makes
// one of them shorter meanwhile: a page of the map past the new end raises SIGBUS, which the
// handler installed here turns into a stop that names the file (then the note of the
// interrupted run, platform/interrupt_note.h) and status 1, rather than the death by the signal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace kestrane {

// Installs the SIGBUS handler for the program named `program` ("kestrane-batch"), the name its
// message begins with. `line_open`, when given, says whether the last line written to standard
// error is left open (a progress bar), so that the message starts on a line of its own; it
// must be async-signal-safe. With a `width`, the message is broken at blanks into lines of at
// most that many characters, as the note is; else it is one line. A SIGBUS that no watched
// file explains goes on to the action that was there before. Call it once, before any file is
// watched and any other handler of SIGBUS is installed (the terminal's, which puts the
// terminal back first and then raises the signal again here).
void guard_mapped_inputs(std::string_view program, bool (*line_open)() noexcept = nullptr,
                         std::size_t width = 0);

// Where a watched file became shorter and the calling thread is not the one that called
// guard_mapped_inputs (the program's main thread, which draws the screen or the progress bar),
// sends it the signal `signal_number` and waits for the end of the process, so that the
// terminal is given back and the message written by the thread that would otherwise draw over
// them. Returns, doing nothing, otherwise. Async-signal-safe: for the handlers of SIGBUS.
void hand_shortened_input_to_main_thread(int signal_number) noexcept;

// Maps `size` bytes of the open file `fd` from `start` (a multiple of the page size) for
// reading, its page tables filled in at once with `populate_now`; empty where it cannot be
// mapped. The map goes when the last holder of the bytes lets them go.
std::shared_ptr<const char> map_for_reading(int fd, std::uint64_t start, std::size_t size,
                                            bool populate_now);
// Fills in the page tables of mapped bytes: in one call where the kernel can, or else by
// reading a byte of every page.
void populate_mapping(const char* bytes, std::size_t size) noexcept;

// The status a run stopped this way exits with.
inline constexpr int kMappedInputShortenedStatus = 1;

// What the message says of a file found shorter than when it was opened, after its name: the
// same words where a file read in blocks is found so (input/line_reader.h).
inline constexpr std::string_view kShortenedWords =
    " became shorter while it was read (changed by another program)";

// Watches an open file while it lives: should it be found shorter than `size` bytes (its size
// when opened) on a SIGBUS, the run stops with a message naming it by `display_name` (a
// backslash in it is written as '/'). The message is prepared here, so the handler only writes
// bytes. A few files can be watched at once; those beyond are not (they die by the signal).
class MappedInputWatch {
 public:
  MappedInputWatch(int fd, std::uint64_t size, std::string_view display_name);
  ~MappedInputWatch();
  MappedInputWatch(const MappedInputWatch&) = delete;
  MappedInputWatch& operator=(const MappedInputWatch&) = delete;

 private:
  int slot_ = -1;
};

}  // namespace kestrane
