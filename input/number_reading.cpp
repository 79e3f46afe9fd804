// The numeric reading rule used for every number of the input files, and integer fields.
#include <fast_float/fast_float.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "input/line_reader.h"

namespace kestrane {

namespace {

// Significant digits that count; later digits only move the decimal point.
constexpr int kMaxSignificantDigits = 18;
// The written exponent is held at this magnitude.
constexpr int kMaxExponent = 9999;

// Powers of ten that a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::int64_t kMaxExactPower = 22;
constexpr std::uint64_t kMaxExactMantissa = std::uint64_t{1} << 53;

inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

inline unsigned digit_value(char c) {
  return static_cast<unsigned>(static_cast<unsigned char>(c)) - unsigned{'0'};
}

// Value of `c` as a digit of `base` (2, 8 or 16), or `base` when it is none.
unsigned based_digit(char c, unsigned base) {
  unsigned d = base;
  if (c >= '0' && c <= '9') {
    d = digit_value(c);
  } else if (c >= 'a' && c <= 'f') {
    d = static_cast<unsigned>(c - 'a') + 10;
  } else if (c >= 'A' && c <= 'F') {
    d = static_cast<unsigned>(c - 'A') + 10;
  }
  return d < base ? d : base;
}

// The integer after "&": H selects base 16, B base 2, O or Q base 8, no letter base 8.
double parse_based_integer(const char* p, const char* end) {
  unsigned base = 8;
  if (p != end) {
    const char letter = static_cast<char>(*p | 0x20);
    if (letter == 'h') {
      base = 16;
      ++p;
    } else if (letter == 'b') {
      base = 2;
      ++p;
    } else if (letter == 'o' || letter == 'q') {
      ++p;
    }
  }
  std::uint64_t exact = 0;
  double value = 0.0;
  bool overflow = false;
  for (; p != end; ++p) {
    const unsigned d = based_digit(*p, base);
    if (d == base) break;
    if (!overflow && exact > (std::numeric_limits<std::uint64_t>::max() - d) / base) {
      overflow = true;
      value = static_cast<double>(exact);
    }
    if (overflow) {
      value = value * base + d;
    } else {
      exact = exact * base + d;
    }
  }
  return overflow ? value : static_cast<double>(exact);
}

// The double nearest to mantissa x 10^exponent (mantissa > 0, at most 18 digits), outside
// the range where both factors are exact.
double scale_by_power_of_ten(std::uint64_t mantissa, std::int64_t exponent) {
  using Binary = fast_float::binary_format<double>;
  const fast_float::adjusted_mantissa am = fast_float::compute_float<Binary>(exponent, mantissa);
  double value = 0.0;
  if (am.power2 >= 0) {
    fast_float::to_float(false, am, value);
    return value;
  }
  // The few values that the 128-bit product cannot settle: let the full parser decide on
  // the digits written out. Exponents this far out give 0 or infinity anyway.
  constexpr std::int64_t kFar = 100000;
  const std::int64_t clamped = exponent < -kFar ? -kFar : (exponent > kFar ? kFar : exponent);
  char text[48];
  char* out = std::to_chars(text, text + 24, mantissa).ptr;
  *out++ = 'e';
  out = std::to_chars(out, text + sizeof text, clamped).ptr;
  fast_float::from_chars(text, out, value);
  return value;
}

}  // namespace

double parse_number(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end && is_blank(*p)) ++p;
  if (p == end) return 0.0;
  if (*p == '&') return parse_based_integer(p + 1, end);

  bool negative = false;
  if (*p == '-' || *p == '+') {
    negative = *p == '-';
    ++p;
  }

  // The value is mantissa x 10^exponent.
  std::uint64_t mantissa = 0;
  int significant = 0;
  std::int64_t exponent = 0;

  const char* const integer_start = p;
  for (; p != end; ++p) {
    const unsigned d = digit_value(*p);
    if (d > 9) break;
    if (significant < kMaxSignificantDigits) {
      if ((mantissa | d) != 0) {
        mantissa = mantissa * 10 + d;
        ++significant;
      }
    } else {
      ++exponent;
    }
  }
  bool any_digit = p != integer_start;

  if (p != end && *p == '.') {
    ++p;
    const char* const fraction_start = p;
    for (; p != end; ++p) {
      const unsigned d = digit_value(*p);
      if (d > 9) break;
      if (significant < kMaxSignificantDigits) {
        if ((mantissa | d) != 0) {
          mantissa = mantissa * 10 + d;
          ++significant;
        }
        --exponent;
      }
    }
    any_digit = any_digit || p != fraction_start;
  }
  if (!any_digit) return 0.0;

  if (p != end) {
    const char letter = static_cast<char>(*p | 0x20);
    if (letter == 'e' || letter == 'd') {
      ++p;
      bool exponent_negative = false;
      if (p != end && (*p == '-' || *p == '+')) {
        exponent_negative = *p == '-';
        ++p;
      }
      int written = 0;
      for (; p != end; ++p) {
        const unsigned d = digit_value(*p);
        if (d > 9) break;
        if (written <= kMaxExponent) written = written * 10 + static_cast<int>(d);
      }
      if (written > kMaxExponent) written = kMaxExponent;
      exponent += exponent_negative ? -written : written;
    }
  }

  if (mantissa == 0) return negative ? -0.0 : 0.0;
  double value;
  if (exponent >= -kMaxExactPower && exponent <= kMaxExactPower && mantissa <= kMaxExactMantissa) {
    // Both factors are exact, so one rounding gives the nearest double.
    value = static_cast<double>(mantissa);
    value =
        exponent < 0 ? value / kExactPowersOfTen[-exponent] : value * kExactPowersOfTen[exponent];
  } else {
    value = scale_by_power_of_ten(mantissa, exponent);
  }
  return negative ? -value : value;
}

std::int32_t round_to_int32(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  constexpr double kMin = std::numeric_limits<std::int32_t>::min();
  if (value >= kMax) return std::numeric_limits<std::int32_t>::max();
  if (value <= kMin) return std::numeric_limits<std::int32_t>::min();
  double whole = std::floor(value);
  const double part = value - whole;  // exact in this range
  if (part > 0.5 || (part == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  return static_cast<std::int32_t>(whole);
}

std::int32_t parse_integer(std::string_view text) { return round_to_int32(parse_number(text)); }

}  // namespace kestrane
