// The coefficient files' two fields for single-precision values. The few digits they show are
// taken from one multiplication in double precision, whose error is far below the distance
// that decides the rounding for almost every value; a value that lies too close to the middle
// between two outcomes to tell goes to the exact digit engine (output/decimal_digits.h).
#include "output/format_using_float.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "output/decimal_digits.h"

namespace kestrane {
namespace {

// 10^k for k = -40 to 48, each the nearest double: enough for the digits of any float, whose
// first digit lies between 10^-45 and 10^38.
constexpr int kLowestPower = -40;
constexpr double kPowersOf10[] = {
    1e-40, 1e-39, 1e-38, 1e-37, 1e-36, 1e-35, 1e-34, 1e-33, 1e-32, 1e-31, 1e-30, 1e-29, 1e-28,
    1e-27, 1e-26, 1e-25, 1e-24, 1e-23, 1e-22, 1e-21, 1e-20, 1e-19, 1e-18, 1e-17, 1e-16, 1e-15,
    1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9,  1e-8,  1e-7,  1e-6,  1e-5,  1e-4,  1e-3,  1e-2,
    1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,   1e5,   1e6,   1e7,   1e8,   1e9,   1e10,  1e11,
    1e12,  1e13,  1e14,  1e15,  1e16,  1e17,  1e18,  1e19,  1e20,  1e21,  1e22,  1e23,  1e24,
    1e25,  1e26,  1e27,  1e28,  1e29,  1e30,  1e31,  1e32,  1e33,  1e34,  1e35,  1e36,  1e37,
    1e38,  1e39,  1e40,  1e41,  1e42,  1e43,  1e44,  1e45,  1e46,  1e47,  1e48};

double power_of_10(int k) { return kPowersOf10[k - kLowestPower]; }

// The product x * 10^k of a float x and the nearest double to 10^k is within a relative
// 2^-52 of the exact x * 10^k. The scaled values below stay under 2000, so the computed one is
// less than 1e-12 from the exact one: when it is further than this from the middle between two
// outcomes, it rounds to the same integer as the exact value does.
constexpr double kUnsure = 1e-9;

// The first kCount significant digits of the finite, positive `x` as the integer n, from the
// exact digit engine; returns the decimal exponent of the first digit.
template <int kCount>
int exact_float_digits(double x, unsigned& n) {
  char digits[kCount];
  const int p = exact_decimal_digits(x, kCount, digits);
  n = 0;
  for (const char d : digits) n = 10 * n + static_cast<unsigned>(d - '0');
  return p;
}

// The first kCount significant digits of the finite, positive `v` as the integer n
// (10^(kCount-1) <= n < 10^kCount), correctly rounded from the exact value of `v` with ties to
// even; returns the decimal exponent of the first digit, as exact_decimal_digits does.
template <int kCount>
int float_digits(float v, unsigned& n) {
  constexpr double kCarry = kCount == 2 ? 99.5 : 999.5;  // 10^kCount - 1/2: rounds to 10^kCount
  const double x = v;  // a normal double, even when `v` is subnormal
  // 2^k <= x < 2^(k+1), so floor(k log10 2) is the exponent p of the first digit or one less.
  const int k = static_cast<int>(std::bit_cast<std::uint64_t>(x) >> 52) - 1023;
  int p = (k * 78913) >> 18;
  // x / 10^(p - kCount + 1): at least 10^(kCount-1), and below 2 * 10^kCount.
  double scaled = x * power_of_10(kCount - 1 - p);
  if (scaled > kCarry - kUnsure) {
    // At or above 10^kCount - 1/2 the digits belong to the next power of ten: the exact value
    // rounds up to 10^kCount there, which is 10^(kCount-1) one place on.
    if (scaled < kCarry + kUnsure) return exact_float_digits<kCount>(x, n);
    ++p;
    scaled = x * power_of_10(kCount - 1 - p);
  }
  const auto whole = static_cast<unsigned>(scaled);
  const double fraction = scaled - whole;
  if (std::fabs(fraction - 0.5) < kUnsure) return exact_float_digits<kCount>(x, n);
  n = whole + (fraction > 0.5 ? 1 : 0);
  return p;
}

// "E-45" to "E+38", the exponent texts of the first digits of floats.
constexpr int kLowestExponent = -45;
constexpr auto kExponents = [] {
  std::array<std::array<char, 4>, 38 - kLowestExponent + 1> texts{};
  for (int p = kLowestExponent; p <= 38; ++p) {
    const int magnitude = p < 0 ? -p : p;
    texts[static_cast<std::size_t>(p - kLowestExponent)] = {
        'E', p < 0 ? '-' : '+', static_cast<char>('0' + magnitude / 10),
        static_cast<char>('0' + magnitude % 10)};
  }
  return texts;
}();

// "d.d" (two digits) or "d.dd" (three) for every n below 10^kCount, four characters apiece.
template <int kCount>
constexpr auto kMantissas = [] {
  std::array<std::array<char, 4>, kCount == 2 ? 100 : 1000> texts{};
  for (std::size_t n = 0; n < texts.size(); ++n) {
    const auto digit = [n](std::size_t place) { return static_cast<char>('0' + n / place % 10); };
    texts[n] = kCount == 2 ? std::array<char, 4>{digit(10), '.', digit(1), ' '}
                           : std::array<char, 4>{digit(100), '.', digit(10), digit(1)};
  }
  return texts;
}();

template <int kCount>
char* write_field(float v, char* out) {
  *out++ = v < 0 ? '-' : ' ';  // NaN and negative zero show a blank
  const std::uint32_t magnitude = std::bit_cast<std::uint32_t>(v) & 0x7fffffffu;
  unsigned n = 0;
  int p = 0;
  if (magnitude - 1 < 0x7f7fffffu) {  // finite and not zero
    p = float_digits<kCount>(std::bit_cast<float>(magnitude), n);
  } else if (magnitude == 0x7f800000u) {  // infinite
    constexpr std::string_view kInfinity = kCount == 2 ? "1.0E+999" : "1.00E+999";
    std::memcpy(out, kInfinity.data(), kInfinity.size());
    return out + kInfinity.size();
  }  // zero and NaN show 0
  // All four characters are copied; with two digits the last is written over by the exponent.
  std::memcpy(out, kMantissas<kCount>[n].data(), 4);
  out += kCount + 1;
  // A float's first digit lies between 10^-45 and 10^38: two exponent digits, as the marks ask.
  std::memcpy(out, kExponents[static_cast<std::size_t>(p - kLowestExponent)].data(), 4);
  return out + 4;
}

}  // namespace

char* write_time_field(float v, char* out) { return write_field<2>(v, out); }

char* write_coefficient_field(float v, char* out) { return write_field<3>(v, out); }

}  // namespace kestrane
