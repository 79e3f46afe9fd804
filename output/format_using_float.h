// The two exponential fields of the coefficient files, "##.#^^^^" and "##.##^^^^", for
// single-precision values: the same text as format_using gives them, written straight into a
// buffer without reading a mask, for the rows of the coefficient files.
#pragma once

#include <cstddef>

namespace kestrane {

// The most characters one field takes: the sign or a blank, the digits and the point, 'E' and
// the exponent, which has three digits for an infinity (" 1.00E+999").
inline constexpr std::size_t kFloatFieldRoom = 10;

// Writes `v` as format_using("##.#^^^^", {v}) does at `out` and returns the end of the text.
char* write_time_field(float v, char* out);
// Writes `v` as format_using("##.##^^^^", {v}) does at `out` and returns the end of the text.
char* write_coefficient_field(float v, char* out);

}  // namespace kestrane
