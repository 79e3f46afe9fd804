// The byte scanning under the line reader: where the next line break is, and how far a run of
// plain lines (LF or CR LF line ends, no other break) reaches.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrane::line_scan {

inline constexpr char kCr = '\r';
inline constexpr char kLf = '\n';
inline constexpr char kEndOfFileByte = 26;

// The first byte in [p, end) that is CR, LF or byte 26, or `end` when there is none.
const char* find_line_break(const char* p, const char* end);

// How far a run of plain lines from base[pos] reaches within base[0, lim).
struct PlainRun {
  std::size_t end = 0;     // just after the line end of the last line of the run
  std::int64_t lines = 0;  // the lines of the run
  // The run stopped only because the bytes ran out (fewer than 16 left to look at), not at a
  // line of another kind, a byte 26, a line longer than asked or the count.
  bool ran_out = false;
};

// Up to `count` whole lines from base[pos] that each end in LF or CR LF and hold no other line
// break or byte 26, and no more than `keep` (nor kMaxLineLength = `max_line`) characters; the
// run stops before the first line that is not so, or where fewer than 16 bytes are left.
PlainRun plain_lines(const char* base, std::size_t pos, std::size_t lim, std::int64_t count,
                     std::size_t keep, std::size_t max_line);

// Where the bytes that may end a line lie in a window: for its every CR, LF and byte 26, in
// file order, the offset with the kind of byte in the top two bits (kBreakCr, kBreakEnd or
// none for LF), so that the lines can be followed without reading the window's bytes again.
// `ready` is set once `at` is complete (it may be found on another thread), `looked` once they
// have been looked for, found or not.
struct LineBreaks {
  std::atomic<bool> ready{false};
  std::atomic<bool> looked{false};
  std::vector<std::uint32_t> at;
};
inline constexpr std::uint32_t kBreakCr = 1u << 30, kBreakEnd = 2u << 30;
inline constexpr std::uint32_t kBreakOffset = kBreakCr - 1;
// The largest window whose line breaks can be found.
inline constexpr std::size_t kMostBrokenWindow = kBreakOffset;

// Finds the line breaks of base[0, size) (size at most kMostBrokenWindow); false, with `at`
// left incomplete, when there are more than `most`, so that a window of very short lines takes
// no more memory.
bool find_breaks(const char* base, std::size_t size, std::size_t most,
                 std::vector<std::uint32_t>& at);

// find_line_break and plain_lines on a window whose line breaks are known: the same results
// without looking at the bytes between them. `breaks` are those of base[0, lim).
std::size_t next_break(const std::vector<std::uint32_t>& breaks, std::size_t from, std::size_t lim);
PlainRun plain_lines(const std::vector<std::uint32_t>& breaks, std::size_t pos, std::size_t lim,
                     std::int64_t count, std::size_t keep, std::size_t max_line);

}  // namespace kestrane::line_scan
