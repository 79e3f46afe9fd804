// Tests of the CSV files' shortest decimals: worked values, and the same text as the C++
// library's std::to_chars on hand-picked groups of doubles and on random doubles of every
// exponent.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "output/shortest_decimal.h"

namespace kestrane {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::string own_text(double v) {
  char text[kShortestDecimalRoom];
  return std::string(text, write_shortest_decimal(v, text));
}

std::string library_text(double v) {
  char text[64];
  return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// `v`, its neighbours on either side and their negatives.
void expect_as_library(double v) {
  for (const double w : {v, std::nextafter(v, -kInf), std::nextafter(v, kInf)}) {
    for (const double x : {w, -w}) {
      ASSERT_EQ(own_text(x), library_text(x)) << std::hexfloat << x;
    }
  }
}

TEST(ShortestDecimal, WorkedValues) {
  EXPECT_EQ(own_text(0.1), "0.1");
  EXPECT_EQ(own_text(0.3), "0.3");
  EXPECT_EQ(own_text(365), "365");
  EXPECT_EQ(own_text(18250.5), "18250.5");
  EXPECT_EQ(own_text(1e-22), "1e-22");
  EXPECT_EQ(own_text(1e22), "1e+22");
  EXPECT_EQ(own_text(-2.5e-7), "-2.5e-07");
  EXPECT_EQ(own_text(0.001), "0.001");   // as long as "1e-03": the plain form
  EXPECT_EQ(own_text(0.0001), "1e-04");  // one shorter than "0.0001"
  EXPECT_EQ(own_text(1.0 / 3), "0.3333333333333333");
  EXPECT_EQ(own_text(2.0 / 3 * 1e-10), "6.666666666666667e-11");
  EXPECT_EQ(own_text(std::numeric_limits<double>::max()), "1.7976931348623157e+308");
  EXPECT_EQ(own_text(std::numeric_limits<double>::min()), "2.2250738585072014e-308");
  EXPECT_EQ(own_text(std::numeric_limits<double>::denorm_min()), "5e-324");
  EXPECT_EQ(own_text(-0.0), "-0");
}

struct DoubleCase {
  const char* name;
  std::vector<double> (*values)();
};
void PrintTo(const DoubleCase& c, std::ostream* os) { *os << c.name; }

std::vector<double> powers_of_two() {
  // Their lower neighbour is half as far as the upper one.
  std::vector<double> values;
  for (int e = -1074; e <= 1023; ++e) values.push_back(std::ldexp(1.0, e));
  return values;
}
std::vector<double> powers_of_ten() {
  std::vector<double> values;
  for (int k = -323; k <= 308; ++k) {
    values.push_back(std::strtod(("1e" + std::to_string(k)).c_str(), nullptr));
  }
  return values;
}
std::vector<double> integers_and_halves() {
  std::vector<double> values;
  for (int i = 1; i <= 3000; ++i) values.push_back(i * 0.5);
  for (const double big : {0x1p53, 1e15, 1e16, 1e17, 123456789012345680.0, 0x1p63}) {
    for (int i = -3; i <= 3; ++i) values.push_back(big + i);
  }
  return values;
}
std::vector<double> choice_of_form() {
  // Around the lengths where the plain and the exponent form take turns.
  std::vector<double> values;
  for (int k = -8; k <= 17; ++k) {
    for (const char* digits : {"1", "12", "123", "1.5", "9.99", "1.2345678901234567"}) {
      values.push_back(
          std::strtod((std::string(digits) + "e" + std::to_string(k)).c_str(), nullptr));
    }
  }
  return values;
}
std::vector<double> extremes_and_subnormals() {  // and zero, infinity and NaN
  std::vector<double> values = {std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::min(),
                                std::numeric_limits<double>::denorm_min(),
                                0.0,
                                kInf,
                                std::numeric_limits<double>::quiet_NaN()};
  for (std::uint64_t bits = 1; bits < (std::uint64_t{1} << 52); bits = bits * 7 + 3) {
    values.push_back(std::bit_cast<double>(bits));
  }
  return values;
}
class ShortestDecimalAsLibrary : public testing::TestWithParam<DoubleCase> {};

TEST_P(ShortestDecimalAsLibrary, ValueTheirNeighboursAndNegatives) {
  const std::vector<double> values = GetParam().values();
  ASSERT_FALSE(values.empty());
  for (const double v : values) expect_as_library(v);
}

INSTANTIATE_TEST_SUITE_P(HandPicked, ShortestDecimalAsLibrary,
                         testing::Values(DoubleCase{"PowersOfTwo", powers_of_two},
                                         DoubleCase{"PowersOfTen", powers_of_ten},
                                         DoubleCase{"IntegersAndHalves", integers_and_halves},
                                         DoubleCase{"ChoiceOfForm", choice_of_form},
                                         DoubleCase{"ExtremesSubnormalsAndNotFinite",
                                                    extremes_and_subnormals}),
                         [](const testing::TestParamInfo<DoubleCase>& case_info) {
                           return std::string(case_info.param.name);
                         });

// Random doubles: any bit pattern (every exponent alike), and magnitudes spread evenly over
// those of the coefficients and shares. More of them in the long tests.
#if KESTRANE_LONG_TESTS
constexpr int kRandomCount = 50'000'000;
#else
constexpr int kRandomCount = 300'000;
#endif

TEST(ShortestDecimalSweep, RandomBitPatterns) {
  std::mt19937_64 rng(22);
  for (int n = 0; n < kRandomCount; ++n) {
    const double v = std::bit_cast<double>(rng());
    ASSERT_EQ(own_text(v), library_text(v)) << std::hexfloat << v;
  }
}

TEST(ShortestDecimalSweep, RandomCoefficientMagnitudes) {
  std::mt19937_64 rng(23);
  std::uniform_real_distribution<double> exponent(-25, 5);
  for (int n = 0; n < kRandomCount; ++n) {
    const double v = std::pow(10.0, exponent(rng));
    ASSERT_EQ(own_text(v), library_text(v)) << std::hexfloat << v;
  }
}

}  // namespace
}  // namespace kestrane
