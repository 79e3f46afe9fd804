// The numeric reading rule used for every number of the input files (the lenient reading of
// any text and the strict reading of a field), and integer fields.
#include "input/number_rule.h"

#include <fast_float/fast_float.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "base/ascii.h"
#include "input/fast_fields.h"

namespace kestrane {

namespace number_detail {

double settle_by_full_parse(std::uint64_t mantissa, std::int64_t exponent) {
  // Exponents this far out give 0 or infinity whatever the digits.
  constexpr std::int64_t kFar = 100000;
  const std::int64_t clamped = std::clamp(exponent, -kFar, kFar);
  char text[48];
  char* out = std::to_chars(text, text + 24, mantissa).ptr;
  *out++ = 'e';
  out = std::to_chars(out, text + sizeof text, clamped).ptr;
  double value = 0.0;
  fast_float::from_chars(text, out, value);
  return value;
}

}  // namespace number_detail

namespace {

using namespace number_detail;

// Significant digits that count; later digits only move the decimal point.
constexpr int kMaxSignificantDigits = 18;
// The written exponent is held at this magnitude.
constexpr int kMaxExponent = 9999;

// Blanks skipped before a number: spaces, TABs and LFs.
inline bool is_blank(char c) { return ascii::is_blank(c) || c == '\n'; }

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
  return std::min(d, base);
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

// A text of 8 to 16 characters, read 8 bytes at a time without reading outside it: bytes
// past its end read as NUL, which cannot continue a number.
class ShortText {
 public:
  ShortText(const char* p, std::size_t size) : p_(p), size_(size), tail_(load(p + size - 8)) {}

  std::size_t size() const { return size_; }
  char operator[](std::size_t i) const { return i < size_ ? p_[i] : '\0'; }
  const char* data() const { return p_; }

  // Bytes i to i + 7, the first in the lowest byte.
  std::uint64_t chunk(std::size_t i) const {
    if (i + 8 <= size_) return load(p_ + i);
    if (i >= size_) return 0;
    return tail_ >> (8 * (i + 8 - size_));
  }

 private:
  static std::uint64_t load(const char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  const char* p_;
  std::size_t size_;
  std::uint64_t tail_;
};

// The run of up to 16 digits from position i.
inline int read_digits(const ShortText& text, std::size_t i, std::uint64_t& value) {
  int count = read_digit_run(text.chunk(i), value);
  if (count == 8) {
    std::uint64_t more = 0;
    const int extra = read_digit_run(text.chunk(i + 8), more);
    value = value * kIntegerPowersOfTen[extra] + more;
    count += extra;
  }
  return count;
}

// Texts of this length read digits eight at a time; up to 16 characters hold too few digits
// for the 18-digit limit to matter.
constexpr std::size_t kShortMin = 8;
constexpr std::size_t kShortMax = 16;

// The rule for a text of kShortMin to kShortMax characters, such as a field of a data line.
double parse_short(const ShortText& text) {
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size && is_blank(text[i])) ++i;
  if (i == size) return 0.0;
  if (text[i] == '&') return parse_based_integer(text.data() + i + 1, text.data() + size);
  bool negative = false;
  if (text[i] == '-' || text[i] == '+') {
    negative = text[i] == '-';
    ++i;
  }

  std::uint64_t mantissa = 0;
  std::int64_t exponent = 0;
  bool read = false;
  // The usual form of the data files, one digit, the point and up to five more digits: one
  // run of digits with the point taken out.
  const std::uint64_t head = text.chunk(i);
  if (digit_value(static_cast<char>(head)) <= 9 && static_cast<char>(head >> 8) == '.') {
    const std::uint64_t joined = (head & 0xFF) | ((head >> 8) & ~std::uint64_t{0xFF});
    const int count = read_digit_run(joined, mantissa);
    if (count < 7) {
      exponent = 1 - count;
      i += static_cast<std::size_t>(count) + 1;
      read = true;
    }
  }
  if (!read) {
    const int integer_digits = read_digits(text, i, mantissa);
    i += static_cast<std::size_t>(integer_digits);
    int fraction_digits = 0;
    if (text[i] == '.') {
      ++i;
      std::uint64_t fraction = 0;
      fraction_digits = read_digits(text, i, fraction);
      i += static_cast<std::size_t>(fraction_digits);
      mantissa = mantissa * kIntegerPowersOfTen[fraction_digits] + fraction;
      exponent = -fraction_digits;
    }
    if (integer_digits + fraction_digits == 0) return 0.0;
  }

  const char letter = static_cast<char>(text[i] | 0x20);
  if (letter == 'e' || letter == 'd') {
    ++i;
    bool exponent_negative = false;
    if (text[i] == '-' || text[i] == '+') {
      exponent_negative = text[i] == '-';
      ++i;
    }
    int written = 0;
    const unsigned first = digit_value(text[i]);
    const unsigned second = digit_value(text[i + 1]);
    if (first <= 9 && second <= 9 && digit_value(text[i + 2]) > 9) {
      written = static_cast<int>(first * 10 + second);  // the usual two digits
    } else {
      for (unsigned d = first; d <= 9; d = digit_value(text[++i])) {
        if (written <= kMaxExponent) written = written * 10 + static_cast<int>(d);
      }
      written = std::min(written, kMaxExponent);
    }
    exponent += exponent_negative ? -written : written;
  }
  if (mantissa == 0) return negative ? -0.0 : 0.0;
  const double value = to_double(mantissa, exponent);
  return negative ? -value : value;
}

// The rule for a text of any length.
double parse_long(std::string_view text) {
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
      written = std::min(written, kMaxExponent);
      exponent += exponent_negative ? -written : written;
    }
  }

  if (mantissa == 0) return negative ? -0.0 : 0.0;
  const double value = to_double(mantissa, exponent);
  return negative ? -value : value;
}

}  // namespace

std::size_t end_of_number(std::string_view text) {
  std::size_t i = 0;
  const std::size_t size = text.size();
  auto digits = [&](unsigned base) {
    const std::size_t from = i;
    while (i < size && based_digit(text[i], base) < base) ++i;
    return i - from;
  };
  while (i < size && ascii::is_blank(text[i])) ++i;
  if (i < size && text[i] == '&') {
    ++i;
    unsigned base = 8;
    if (i < size) {
      const char letter = ascii::to_lower(text[i]);
      if (letter == 'h') base = 16;
      if (letter == 'b') base = 2;
      if (letter == 'h' || letter == 'b' || letter == 'o' || letter == 'q') ++i;
    }
    return digits(base) > 0 ? i : 0;
  }
  if (i < size && (text[i] == '-' || text[i] == '+')) ++i;
  std::size_t mantissa_digits = digits(10);
  if (i < size && text[i] == '.') {
    ++i;
    mantissa_digits += digits(10);
  }
  if (mantissa_digits == 0) return 0;
  if (i < size) {
    const char letter = ascii::to_lower(text[i]);
    if (letter == 'e' || letter == 'd') {
      const std::size_t before_letter = i;
      ++i;
      if (i < size && (text[i] == '-' || text[i] == '+')) ++i;
      // A letter without exponent digits is text after the number, not part of it.
      if (digits(10) == 0) return before_letter;
    }
  }
  return i;
}

FieldReading read_number_field(std::string_view field, double& value) {
  if (parse_e_field(field.data(), field.size(), value)) return FieldReading::number;
  const std::string_view rest = ascii::trim_left(field);
  if (rest.empty()) {
    value = 0.0;
    return FieldReading::number;
  }
  const std::size_t end = end_of_number(field);
  if (end == 0 || !ascii::trim_left(field.substr(end)).empty()) return FieldReading::not_a_number;
  const double number = parse_number(field);
  if (!std::isfinite(number)) return FieldReading::not_finite;
  value = number;
  return FieldReading::number;
}

double parse_number(std::string_view text) {
  double value;
  if (parse_e_field(text.data(), text.size(), value)) return value;
  if (text.size() >= kShortMin && text.size() <= kShortMax) {
    return parse_short(ShortText(text.data(), text.size()));
  }
  return parse_long(text);
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
