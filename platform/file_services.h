// File services: the program's paths, written with backslashes ("data\Kestrane.ini"),
// resolved in a working directory with each name matched without regard to letter case.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kestrane {

// The host path of `program_path` under `working_dir`: each backslash-separated name is
// matched to an entry of its folder without regard to case (an exact match wins). Where a
// name has no match, it and the rest are kept as written, so the result can be created.
std::filesystem::path resolve_program_path(const std::filesystem::path& working_dir,
                                           std::string_view program_path);

// True only when `program_path` names an existing regular file (after resolving).
bool program_file_exists(const std::filesystem::path& working_dir, std::string_view program_path);

// Writes all of `text` at the current offset of `fd`, again after an interruption; false with
// errno set when it fails (ENOSPC for a write that takes nothing). Async-signal-safe.
bool write_all(int fd, std::string_view text) noexcept;

// What an entry is, in words ("a file", "a folder", "a symbolic link", "a FIFO", "a socket",
// "a device"), for the messages about an entry of the wrong kind (`mode` as stat gives it, or
// its type bits alone).
const char* entry_kind(unsigned mode) noexcept;

// Writes `text` as the whole of `file` through a new file beside it, put in place by a rename,
// so that a reader sees the old file or the new one and a link planted at the temporary name
// is never followed; the folder is made when missing. False when any of it fails.
bool replace_file(const std::filesystem::path& file, const std::string& text);

// The type bits of the mode (S_IFMT) of what `program_path` names after resolving, symbolic
// links followed as an open follows them; none when nothing is there.
std::optional<mode_t> program_entry_type(const std::filesystem::path& working_dir,
                                         std::string_view program_path);

// An open file descriptor, closed when the object goes (or is given another one).
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const noexcept { return fd_; }
  explicit operator bool() const noexcept { return fd_ >= 0; }
  // Closes the descriptor held (if any) and holds `fd` instead.
  void reset(int fd = -1) noexcept;
  // Closes the descriptor now: 0, or -1 with errno set when close(2) reports a failure.
  int close() noexcept;

 private:
  int fd_ = -1;
};

}  // namespace kestrane
