// The digit engine of the mask formatter: the first digits of a double, correctly rounded from
// its exact binary value, by exact integer arithmetic in 64 bits where that suffices, in 128
// bits for most other values, and with big integers for the rest.
//
// std::to_chars(v, std::chars_format::scientific, count - 1) gives the same digits (the
// formatter's sweeps against the C library pass with it) but is slower here: measured on
// 2026-12-09 (GCC 12, Release, 2 cores under load), a pair of coefficient fields took 243 ns
// of CPU against 139 ns (bin/bench_format_using), and a whole run of kestrane-batch on the
// 1 GB inhalation file with all ages and regions 3.38 s of CPU against 3.03 s, fastest of
// three (bench/run_benchmark.sh; wall 8.3 s against 7.2 s, fastest of three alternating
// runs). That is beyond the 5% a whole run may lose, so the engine stays.
#include "output/decimal_digits.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <string>

namespace kestrane {
namespace {

__extension__ typedef unsigned __int128 Uint128;

int bit_length(Uint128 x) {
  const auto high = static_cast<std::uint64_t>(x >> 64);
  const auto low = static_cast<std::uint64_t>(x);
  return high != 0 ? 128 - std::countl_zero(high) : 64 - std::countl_zero(low);
}

constexpr int kMaxPower5 = 55;  // 5^55 is the largest power of 5 below 2^128
constexpr auto kPowersOf5 = [] {
  std::array<Uint128, kMaxPower5 + 1> p{};
  p[0] = 1;
  for (int i = 1; i <= kMaxPower5; ++i) p[i] = p[i - 1] * 5;
  return p;
}();

constexpr int kMaxPower5In64 = 27;  // 5^27 is the largest power of 5 below 2^64
constexpr auto kPowersOf5In64 = [] {
  std::array<std::uint64_t, kMaxPower5In64 + 1> p{};
  p[0] = 1;
  for (int i = 1; i <= kMaxPower5In64; ++i) p[i] = p[i - 1] * 5;
  return p;
}();

constexpr int kMaxFastDigits = 19;  // 10^19 is the largest power of 10 below 2^64
constexpr auto kPowersOf10 = [] {
  std::array<std::uint64_t, kMaxFastDigits + 1> p{};
  p[0] = 1;
  for (int i = 1; i <= kMaxFastDigits; ++i) p[i] = p[i - 1] * 10;
  return p;
}();

// 10^-kMaxTablePower to 10^kMaxTablePower as doubles, the nearest double to each.
constexpr int kMaxTablePower = 40;
const auto kDoublePowersOf10 = [] {
  std::array<double, 2 * kMaxTablePower + 1> p{};
  for (int i = -kMaxTablePower; i <= kMaxTablePower; ++i) {
    p[static_cast<std::size_t>(i + kMaxTablePower)] = std::stod("1e" + std::to_string(i));
  }
  return p;
}();

// m * 2^e / 10^q, split into its integer part `quotient` and the side of one half on which
// the fraction lies (`half` < 0 below, 0 exactly, > 0 above), when 128 bits are enough for
// the exact computation. Returns false when they are not.
bool divide_exactly_in_128_bits(std::uint64_t m, int e, int q, Uint128& quotient, int& half) {
  if (q < -kMaxPower5 || q > kMaxPower5) return false;
  const int s = e - q;  // m * 2^e / 10^q = m * 2^s / 5^q
  if (q <= 0) {
    const Uint128 factor = kPowersOf5[static_cast<std::size_t>(-q)];
    if (bit_length(m) + bit_length(factor) > 128) return false;
    const Uint128 x = m * factor;
    if (s >= 0) {
      if (bit_length(x) + s > 128) return false;
      quotient = x << s;
      half = -1;
      return true;
    }
    if (s <= -128) return false;
    quotient = x >> -s;
    const Uint128 fraction = x & ((Uint128{1} << -s) - 1);
    const Uint128 one_half = Uint128{1} << (-s - 1);
    half = fraction < one_half ? -1 : fraction > one_half ? 1 : 0;
    return true;
  }
  Uint128 numerator = m;
  Uint128 divisor = kPowersOf5[static_cast<std::size_t>(q)];
  if (s >= 0) {
    if (bit_length(m) + s > 128) return false;
    numerator <<= s;
  } else {
    if (bit_length(divisor) - s > 128) return false;
    divisor <<= -s;
  }
  quotient = numerator / divisor;
  const Uint128 remainder = numerator - quotient * divisor;
  const Uint128 rest = divisor - remainder;
  half = remainder < rest ? -1 : remainder > rest ? 1 : 0;
  return true;
}

// A non-negative integer of fixed capacity, enough for the exact decimal scaling of any
// double: the numbers below stay under 2^830 (the smallest subnormal scaled to its first
// digit), so 40 limbs of 32 bits leave room to spare.
class BigNumber {
 public:
  explicit BigNumber(std::uint64_t v) {
    while (v != 0) {
      limb_[size_++] = static_cast<std::uint32_t>(v);
      v >>= 32;
    }
  }

  void multiply(std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (int k = 0; k < size_; ++k) {
      const std::uint64_t product = std::uint64_t{limb_[k]} * factor + carry;
      limb_[k] = static_cast<std::uint32_t>(product);
      carry = product >> 32;
    }
    if (carry != 0) limb_[size_++] = static_cast<std::uint32_t>(carry);
  }

  void multiply_by_power_of_5(int n) {
    constexpr std::uint32_t kFive13 = 1220703125;  // 5^13, the largest power in 32 bits
    for (; n >= 13; n -= 13) multiply(kFive13);
    std::uint32_t rest = 1;
    for (; n > 0; --n) rest *= 5;
    if (rest != 1) multiply(rest);
  }

  void shift_left(int bits) {
    if (size_ == 0 || bits == 0) return;
    const int whole = bits / 32;
    const int part = bits % 32;
    if (part != 0) {
      std::uint32_t carry = 0;
      for (int k = 0; k < size_; ++k) {
        const std::uint32_t limb = limb_[k];
        limb_[k] = (limb << part) | carry;
        carry = limb >> (32 - part);
      }
      if (carry != 0) limb_[size_++] = carry;
    }
    if (whole != 0) {
      for (int k = size_ - 1; k >= 0; --k) limb_[k + whole] = limb_[k];
      for (int k = 0; k < whole; ++k) limb_[k] = 0;
      size_ += whole;
    }
  }

  // Subtracts `other`, which must not be larger.
  void subtract(const BigNumber& other) {
    std::uint32_t borrow = 0;
    for (int k = 0; k < size_; ++k) {
      const std::uint64_t rhs = std::uint64_t{k < other.size_ ? other.limb_[k] : 0u} + borrow;
      borrow = limb_[k] < rhs ? 1 : 0;
      limb_[k] = static_cast<std::uint32_t>(limb_[k] - rhs);
    }
    while (size_ > 0 && limb_[size_ - 1] == 0) --size_;
  }

  bool is_zero() const { return size_ == 0; }

  friend int compare(const BigNumber& a, const BigNumber& b) {
    if (a.size_ != b.size_) return a.size_ < b.size_ ? -1 : 1;
    for (int k = a.size_ - 1; k >= 0; --k) {
      if (a.limb_[k] != b.limb_[k]) return a.limb_[k] < b.limb_[k] ? -1 : 1;
    }
    return 0;
  }

 private:
  std::array<std::uint32_t, 40> limb_{};
  int size_ = 0;
};

int exact_digits_big(std::uint64_t mantissa, int binary_exponent, int p, int count, char* digits);

}  // namespace

int exact_decimal_digits(double v, int count, char* digits) {
  // v = mantissa * 2^binary_exponent exactly, read from the bits of the double.
  const auto bits = std::bit_cast<std::uint64_t>(v);
  const auto stored_exponent = static_cast<int>(bits >> 52);
  constexpr std::uint64_t kFractionMask = (std::uint64_t{1} << 52) - 1;
  std::uint64_t mantissa = bits & kFractionMask;
  int binary_exponent = 0;
  if (stored_exponent == 0) {
    binary_exponent = -1074;  // subnormal
  } else {
    mantissa |= std::uint64_t{1} << 52;
    binary_exponent = stored_exponent - 1075;
  }
  const int zeros = std::countr_zero(mantissa);
  mantissa >>= zeros;
  binary_exponent += zeros;  // mantissa odd

  // Estimate p from the position of the leading bit: floor(k log10 2) in integers. It may
  // be one off, which the quotient below shows.
  const int k = binary_exponent + bit_length(mantissa) - 1;  // 2^k <= v < 2^(k + 1)
  int p = (k * 78913) >> 18;
  // Most values lie well inside the range of exactly comparable powers: one comparison with
  // the next power of ten settles the estimate (the quotient below still checks it).
  if (p >= -kMaxTablePower && p < kMaxTablePower &&
      v >= kDoublePowersOf10[p + 1 + kMaxTablePower]) {
    ++p;
  }

  // Rounds the quotient n, with the fraction on the side `half` of one half, to even and
  // writes its digits; a carry into a new leading digit moves p.
  auto finish = [&](std::uint64_t n, int half) {
    if (half > 0 || (half == 0 && n % 2 == 1)) ++n;
    if (n == kPowersOf10[static_cast<std::size_t>(count)]) {  // carry into a new digit
      n = kPowersOf10[static_cast<std::size_t>(count - 1)];
      ++p;
    }
    for (int i = count - 1; i >= 0; --i) {
      digits[i] = static_cast<char>('0' + n % 10);
      n /= 10;
    }
    return p;
  };

  // Most values, the coefficients above all, take 64 bits: v / 10^q = mantissa * 5^-q /
  // 2^(q - e) with q <= 0, an exact product and an exact shift.
  if (count <= kMaxFastDigits) {
    const int q = p - count + 1;
    const int s = binary_exponent - q;
    if (q <= 0 && -q <= kMaxPower5In64 && s < 0 && s > -64) {
      const std::uint64_t factor = kPowersOf5In64[static_cast<std::size_t>(-q)];
      if (std::bit_width(mantissa) + std::bit_width(factor) <= 64) {
        const std::uint64_t x = mantissa * factor;
        const std::uint64_t n = x >> -s;
        if (n >= kPowersOf10[static_cast<std::size_t>(count - 1)] &&
            n < kPowersOf10[static_cast<std::size_t>(count)]) {
          const std::uint64_t fraction = x & ((std::uint64_t{1} << -s) - 1);
          const std::uint64_t one_half = std::uint64_t{1} << (-s - 1);
          return finish(n, fraction < one_half ? -1 : fraction > one_half ? 1 : 0);
        }
      }
    }
  }

  if (count <= kMaxFastDigits) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      Uint128 quotient = 0;
      int half = 0;
      if (!divide_exactly_in_128_bits(mantissa, binary_exponent, p - count + 1, quotient, half)) {
        break;
      }
      if (quotient >= kPowersOf10[static_cast<std::size_t>(count)]) {
        ++p;
        continue;
      }
      if (quotient < kPowersOf10[static_cast<std::size_t>(count - 1)]) {
        --p;
        continue;
      }
      return finish(static_cast<std::uint64_t>(quotient), half);
    }
  }
  return exact_digits_big(mantissa, binary_exponent, p, count, digits);
}

namespace {

// The same for any digit count and magnitude, by long division of big integers.
int exact_digits_big(std::uint64_t mantissa, int binary_exponent, int p, int count, char* digits) {
  // v / 10^p = mantissa * 2^(e - p) * 5^(-p) = numerator / denominator.
  BigNumber numerator(mantissa);
  BigNumber denominator(1);
  const int power_of_2 = binary_exponent - p;
  if (power_of_2 > 0) {
    numerator.shift_left(power_of_2);
  } else {
    denominator.shift_left(-power_of_2);
  }
  if (p < 0) {
    numerator.multiply_by_power_of_5(-p);
  } else {
    denominator.multiply_by_power_of_5(p);
  }
  // Bring the quotient into [1, 10).
  for (;;) {
    if (compare(numerator, denominator) < 0) {
      numerator.multiply(10);
      --p;
      continue;
    }
    BigNumber ten_times = denominator;
    ten_times.multiply(10);
    if (compare(numerator, ten_times) >= 0) {
      denominator = ten_times;
      ++p;
      continue;
    }
    break;
  }

  // Long division, one decimal digit at a time; the remainder decides the rounding.
  std::fill(digits, digits + count, '0');
  for (int i = 0; i < count && !numerator.is_zero(); ++i) {
    if (i > 0) numerator.multiply(10);
    char digit = '0';
    while (compare(numerator, denominator) >= 0) {
      numerator.subtract(denominator);
      ++digit;
    }
    digits[i] = digit;
  }
  numerator.shift_left(1);
  const int half = compare(numerator, denominator);  // twice the remainder against one
  if (half > 0 || (half == 0 && (digits[count - 1] - '0') % 2 == 1)) {
    int i = count;
    while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
    if (i > 0) {
      ++digits[i - 1];
    } else {
      digits[0] = '1';  // carry into a new leading digit
      ++p;
    }
  }
  return p;
}

}  // namespace
}  // namespace kestrane
