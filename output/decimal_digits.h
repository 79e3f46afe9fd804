// The correctly rounded decimal digits of a double, for the mask formatter.
#pragma once

namespace kestrane {

// The first `count` (at least 1) significant decimal digits of the finite, positive `v`,
// correctly rounded from its exact binary value (ties to even), as characters into
// digits[0..count-1]. Returns the decimal exponent p of the first digit: v is about
// d.ddd x 10^p (a carry into a new leading digit is counted in p).
int exact_decimal_digits(double v, int count, char* digits);

}  // namespace kestrane
