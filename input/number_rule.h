// The numeric reading rule of the input files (the lenient reading of any text, the strict
// reading of a field that must hold one number, and where such a number ends), and integer
// fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestrane {

// The numeric reading rule: leading blanks, TABs and LFs skipped; "&H", "&B", "&O"/"&Q" or
// "&" integers; sign, digits with one decimal point, E/e/D/d exponent held at 9999; the
// number ends at the first character that cannot continue it; no digit gives 0. The first
// 18 significant digits count and the result is their correctly rounded double.
double parse_number(std::string_view text);

// How a field that must hold one number reads.
enum class FieldReading {
  number,        // one number with blanks around it, or blanks only (0); the value is set
  not_a_number,  // anything else: letters, control bytes, two numbers, a sign alone, ...
  not_finite,    // one number, too large for a double (1E400)
};

// Reads a field by the rule above, accepting only blanks (spaces, TABs), one number and
// blanks: an optional sign, digits with at most one point (at least one digit), an optional
// exponent letter with an optional sign and at least one digit; or "&", an optional base
// letter and at least one digit of that base. `value` is set only for FieldReading::number.
FieldReading read_number_field(std::string_view field, double& value);

// Where the number that begins `text` after its blanks (spaces, TABs) ends, by the grammar of
// read_number_field, the blanks before it counted: 0 when no number begins it. An exponent
// letter without digits after it (and its sign) is not part of the number: "1e" ends after "1".
// parse_number reads the same value from the text up to that end as from the whole text.
std::size_t end_of_number(std::string_view text);

// A value kept as a signed 32-bit integer: rounded to nearest, ties to even, saturating
// at the 32-bit range (NaN gives 0).
std::int32_t round_to_int32(double value);

// parse_number of the field, rounded as above.
std::int32_t parse_integer(std::string_view text);

}  // namespace kestrane
