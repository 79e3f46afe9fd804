#!/usr/bin/env python3
"""Writes input/field_scales.cpp: the powers of ten that the fast reading of "d.dddEsdd"
fields scales by, each as three doubles whose sum is 10^e to about 2^-100 of it.

For every e from -102 to 96 (the exponents of those fields, less the three fraction digits):
the double nearest to 10^e cut into its upper 26 significant bits and the rest (each of them
times a mantissa of at most four digits is exact), then the double nearest to what those two
leave out of 10^e. Exact rational arithmetic throughout.

Usage: scripts/make_field_scales.py > input/field_scales.cpp
"""
from fractions import Fraction
import math

LOWEST, HIGHEST = -102, 96


def nearest_double(q: Fraction) -> float:
    # Fraction -> float rounds correctly (to nearest, ties to even).
    return q.numerator / q.denominator


def upper_bits(x: float, bits: int) -> float:
    """x with only its upper `bits` significant bits kept (the rest cut off toward zero)."""
    if x == 0.0:
        return 0.0
    m, e = math.frexp(x)  # x = m * 2^e, 0.5 <= |m| < 1
    return math.ldexp(math.trunc(math.ldexp(m, bits)), e - bits)


def scales(e: int):
    exact = Fraction(10) ** e
    nearest = nearest_double(exact)
    high = upper_bits(nearest, 26)
    middle = nearest - high  # exact: the lower bits of `nearest`
    low = nearest_double(exact - Fraction(high) - Fraction(middle))
    return high, middle, low


def main():
    print("// The powers of ten of the fast field reading, written by scripts/make_field_scales.py:")
    print("// edit that script, not this file.")
    print('#include "input/fast_fields.h"')
    print()
    print("namespace kestrane::number_detail {")
    print()
    print("// clang-format off")
    print("const double kFieldScales[kFieldScaleCount][3] = {")
    for e in range(LOWEST, HIGHEST + 1):
        parts = ", ".join(x.hex() for x in scales(e))
        print(f"    {{{parts}}},  // 1e{e}")
    print("};")
    print("// clang-format on")
    print()
    print("}  // namespace kestrane::number_detail")


if __name__ == "__main__":
    main()
