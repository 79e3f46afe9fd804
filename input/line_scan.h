// The byte scanning under the line reader: where the next line break is, and how far a run of
// plain lines (LF or CR LF line ends, no other break) reaches.
#pragma once

#include <cstddef>
#include <cstdint>

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

}  // namespace kestrane::line_scan
