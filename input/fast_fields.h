// The fast paths of number reading: the forms the data fields usually hold (" d.dddEsdd" and
// other Fortran E fields) read in a few steps without loops, inline where the fields are cut,
// with digit runs read eight at a time and exact scaling by powers of ten. Each gives exactly
// the value of the full reading rule (input/number_rule.h), or declines the text.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrane::number_detail {

// Powers of ten that 64 bits hold, up to 10^16.
// clang-format off
inline constexpr std::uint64_t kIntegerPowersOfTen[] = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000, 10000000000,
    100000000000, 1000000000000, 10000000000000, 100000000000000, 1000000000000000,
    10000000000000000};
// clang-format on

// The value of a decimal digit; above 9 for any other character.
inline unsigned digit_value(char c) {
  return static_cast<unsigned>(static_cast<unsigned char>(c)) - unsigned{'0'};
}

// The run of decimal digits at the start of `chunk` (8 bytes, first in the lowest byte), at
// most 8 of them, read in one step: returns their count and stores their value.
inline int read_digit_run(std::uint64_t chunk, std::uint64_t& value) {
  // High bit set in each byte that is not a digit; exact up to the first such byte.
  const std::uint64_t not_digit =
      ((chunk + 0x4646464646464646) | (chunk - 0x3030303030303030)) & 0x8080808080808080;
  const int count = not_digit == 0 ? 8 : std::countr_zero(not_digit) >> 3;
  if (count == 0) {
    value = 0;
    return 0;
  }
  // Keep the digits, moved up so that zeros lead them, and combine them pairwise.
  chunk = (chunk - 0x3030303030303030) << (8 * (8 - count));
  chunk = chunk * 10 + (chunk >> 8);
  chunk = (((chunk & 0x000000FF000000FF) * 0x000F424000000064) +
           (((chunk >> 16) & 0x000000FF000000FF) * 0x0000271000000001)) >>
          32;
  value = chunk & 0xFFFFFFFF;
  return count;
}

// The double nearest to mantissa x 10^exponent, by fast_float's from_chars on the digits
// written out: for the products that one exact multiplication or division cannot settle.
double settle_by_full_parse(std::uint64_t mantissa, std::int64_t exponent);

// Powers of ten that a double holds exactly.
inline constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr std::int64_t kMaxExactPower = 22;
inline constexpr std::uint64_t kMaxExactMantissa = std::uint64_t{1} << 53;

// The double nearest to mantissa x 10^exponent, for a mantissa of at most 19 digits.
// Where both factors are exact doubles one multiplication or division rounds correctly
// (Clinger's fast path); elsewhere fast_float's public from_chars reads the digits written
// out, which also rounds halfway cases to even. (Against the 128-bit product of fast_float's
// internal compute_float, measured as instructions of a whole run under callgrind, 16 MB file,
// all ages and regions: no change with the usual " d.dddEsdd" fields, +4.1% with every field
// written "d.ddddEsdd", whose small rates mostly take this path.)
inline double to_double(std::uint64_t mantissa, std::int64_t exponent) {
  if (exponent >= -kMaxExactPower && exponent <= kMaxExactPower && mantissa <= kMaxExactMantissa) {
    const double value = static_cast<double>(mantissa);
    return exponent < 0 ? value / kExactPowersOfTen[-exponent]
                        : value * kExactPowersOfTen[exponent];
  }
  return settle_by_full_parse(mantissa, exponent);
}

// 10^e for e = -102 to 96, the exponents of "d.dddEsdd", as three doubles whose sum is within
// a few units of 2^-100 of it: the nearest double to 10^e cut into its upper 26 significant bits
// and the rest (each of them times a mantissa of at most four digits is exact), then the double
// nearest to what those two leave out. Together they give the correctly rounded double of every
// one of those numbers, as the tests check one by one.
inline constexpr int kFieldScaleLowest = -102;
inline constexpr int kFieldScaleCount = 199;  // 1e-102 to 1e96
// In input/field_scales.cpp, written by scripts/make_field_scales.py.
extern const double kFieldScales[kFieldScaleCount][3];

// Reads the most usual number of the data files, "d.dddEsdd" (one digit, the point, three
// digits, an exponent letter E, e, D or d, the exponent sign and two digits), from the nine
// characters at `p`, with a few integer operations on all its bytes at once: true and its
// value, or false (leaving `value` alone) for any other text. The caller makes sure that the nine
// characters are there and that the number ends after them.
inline bool parse_e_digits3(const char* p, double& value) {
  std::uint64_t u;
  std::memcpy(&u, p, sizeof u);
  const unsigned e2 = digit_value(p[8]);
  // Bytes 0, 2, 3, 4 and 7 (the first in the lowest) are digits: high nibble 3, low nibble
  // below 10.
  constexpr std::uint64_t kDigits = 0xFF0000FFFFFF00FF;
  constexpr std::uint64_t kHigh = kDigits & 0xF0F0F0F0F0F0F0F0;
  constexpr std::uint64_t kLow = kDigits & 0x0F0F0F0F0F0F0F0F;
  const bool digits = ((u & kHigh) == (kDigits & 0x3030303030303030)) &
                      ((((u & kLow) + (kDigits & 0x0606060606060606)) & kHigh) == 0);
  // Byte 1 the point, byte 5 E, e, D or d, byte 6 '+' (2B) or '-' (2D).
  constexpr std::uint64_t kFixedMask = 0x00F9DE000000FF00;
  constexpr std::uint64_t kFixed = 0x0029440000002E00;
  const auto sign = static_cast<unsigned>(u >> 48) & 0xFF;
  const bool fixed = ((u & kFixedMask) == kFixed) & (((sign >> 1) ^ (sign >> 2)) & 1);
  if (!(digits & fixed & (e2 <= 9))) return false;
  // The four digits side by side in bytes 1 to 4, then combined pairwise.
  std::uint64_t digits4 = ((u & 0x0000000F0F0F0000) | ((u & 0xF) << 8)) >> 8;
  digits4 = digits4 * 10 + (digits4 >> 8);
  const auto mantissa = static_cast<double>(
      ((digits4 & 0x00FF00FF) * ((std::uint64_t{100} << 16) + 1) >> 16) & 0xFFFF);
  const int written = static_cast<int>(((u >> 56) & 0xF) * 10 + e2);
  const int exponent = (sign == '-' ? -written : written) - 3;
  // The mantissa times 10^exponent in two exact products and a third, far smaller, whose
  // rounding error is too small to move the sum across a rounding boundary.
  const double* scale = kFieldScales[exponent - kFieldScaleLowest];
  value = mantissa * scale[0] + (mantissa * scale[1] + mantissa * scale[2]);
  return true;
}

// Reads `count` fields of ten columns each, from `p` on, into out[0] to out[count - 1], when
// every one of them is the usual " d.dddEsdd" (a blank or sign, then the form parse_e_digits3
// reads; with kRates a blank or '+', so that none is below zero): true with the values
// parse_e_field gives, or false, with `out` partly written, as soon as one field is in another
// form. Two fields per step give the processor two independent chains of work to overlap, and
// a sign is set on the bits of the value, without a branch.
template <bool kRates = false>
inline bool parse_e_fields10(const char* p, int count, double* out) {
  auto one = [](const char* field, double& value) {
    const char lead = field[0];
    const bool lead_ok = (lead == ' ') | (lead == '+') | (!kRates && lead == '-');
    if (!(lead_ok && parse_e_digits3(field + 1, value))) return false;
    value = std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) |
                                  (static_cast<std::uint64_t>(lead == '-') << 63));
    return true;
  };
  int n = 0;
  for (; n + 1 < count; n += 2) {
    const bool first = one(p + 10 * n, out[n]);
    const bool second = one(p + 10 * n + 10, out[n + 1]);
    if (!(first & second)) return false;
  }
  return n == count || one(p + 10 * n, out[n]);
}

// Whether the ten characters at `p` are a plain rate, " d.dddEsdd" or "+d.dddEsdd": the usual
// field without a '-' lead, which holds one number of 0 or more by the full rule.
inline bool is_plain_rate10(const char* p) {
  double value;
  return (p[0] == ' ' || p[0] == '+') && parse_e_digits3(p + 1, value);
}

// A bit for each of the `count` ten-column fields from `p` on (bit k for the field at p + 10 k,
// count at most 64) that is not a plain rate, field by field.
inline std::uint64_t unusual_fields10(const char* p, int count) {
  std::uint64_t unusual = 0;
  for (int k = 0; k < count; ++k) {
    unusual |= std::uint64_t{!is_plain_rate10(p + 10 * k)} << k;
  }
  return unusual;
}

// Reads a field of 8 to 10 characters of the form written by Fortran E editing:
// an optional blank or sign, one digit, the point, digits, an exponent letter (E, e, D or d),
// the exponent sign and two exponent digits that end the field, as in " 1.234E-05" or
// "1.2345D+00". Returns false, leaving `value` alone, for any other text; for these forms the
// result is the one of the full rule, found with few steps and no loops.
inline bool parse_e_field(const char* p, std::size_t size, double& value) {
  // The most usual fields first: " 1.234E-05" (or with a sign) and "1.234E-05".
  if (size == 10) {
    const char lead = p[0];
    if ((lead == ' ' || lead == '-' || lead == '+') && parse_e_digits3(p + 1, value)) {
      if (lead == '-') value = -value;
      return true;
    }
  } else if (size == 9 && parse_e_digits3(p, value)) {
    return true;
  }
  if (size < 8 || size > 10) return false;
  std::size_t point;
  if (p[1] == '.') {
    point = 1;
  } else if (p[2] == '.') {
    point = 2;
  } else {
    return false;
  }
  const unsigned lead_digit = digit_value(p[point - 1]);
  const char lead = point == 2 ? p[0] : ' ';
  const char letter = static_cast<char>(p[size - 4] | 0x20);
  const char exponent_sign = p[size - 3];
  const unsigned e1 = digit_value(p[size - 2]);
  const unsigned e2 = digit_value(p[size - 1]);
  if (lead_digit > 9 || (lead != ' ' && lead != '-' && lead != '+') ||
      (letter != 'e' && letter != 'd') || (exponent_sign != '-' && exponent_sign != '+') ||
      e1 > 9 || e2 > 9) {
    return false;
  }
  // The fraction digits run from after the point to the exponent letter; the last 8 bytes of
  // the field, moved down to start after the point, hold them.
  const int fraction_digits = static_cast<int>(size - 5 - point);
  std::uint64_t tail;
  std::memcpy(&tail, p + size - 8, sizeof tail);
  std::uint64_t fraction;
  if (read_digit_run(tail >> (8 * (point + 9 - size)), fraction) != fraction_digits) return false;
  const std::uint64_t mantissa = lead_digit * kIntegerPowersOfTen[fraction_digits] + fraction;
  const int written = static_cast<int>(e1 * 10 + e2);
  const int exponent = (exponent_sign == '-' ? -written : written) - fraction_digits;
  const double magnitude = mantissa == 0 ? 0.0 : to_double(mantissa, exponent);
  value = lead == '-' ? -magnitude : magnitude;
  return true;
}

}  // namespace kestrane::number_detail
