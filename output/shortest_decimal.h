// The shortest decimal text that reads back to the same double, for the CSV files' numbers:
// the text std::to_chars(first, last, value) gives, made without the library's general path.
#pragma once

#include <cstddef>

namespace kestrane {

// Room for the text of any double ("-2.2250738585072014e-308" and shorter).
inline constexpr std::size_t kShortestDecimalRoom = 32;

// Writes the text std::to_chars(out, out + kShortestDecimalRoom, v) writes and returns its end:
// the fewest significant digits that read back to `v`, the nearest to `v` of those, in plain
// ("0.25", "365") or exponent form ("1e-22", "6.780911148466055e-10"), whichever is shorter.
char* write_shortest_decimal(double v, char* out);

}  // namespace kestrane
