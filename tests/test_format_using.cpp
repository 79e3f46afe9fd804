// Tests of the picture-mask formatter: worked values, the mask language, refused masks, a
// comparison with the C library's correctly rounded conversion over whole binades, and the
// coefficient files' own path for their two fields against the mask formatter.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "output/format_using.h"
#include "output/format_using_float.h"

namespace kestrane {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr float kInfF = std::numeric_limits<float>::infinity();

// The value as the coefficient files hand it over: narrowed to 32 bits first.
double f32(double v) { return static_cast<double>(static_cast<float>(v)); }

std::string time_field(double v) { return format_using("##.#^^^^", {v}); }
std::string coef_field(double v) { return format_using("##.##^^^^", {v}); }

// The field "##.(frac)^^^^" as the C library writes it with "%.*E": correctly rounded from
// the exact value with ties to even in the default rounding mode.
std::string reference_field(double v, int frac) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%#.*E", frac, std::fabs(v));
  return std::string(std::signbit(v) && v != 0 ? "-" : " ") + buf;
}

TEST(FormatUsing, WorkedValues) {
  struct Row {
    double input;
    const char* time;
    const char* coef;
  };
  const Row rows[] = {
      {0, " 0.0E+00", " 0.00E+00"},       {1, " 1.0E+00", " 1.00E+00"},
      {-1, "-1.0E+00", "-1.00E+00"},      {0.000123, " 1.2E-04", " 1.23E-04"},
      {123456, " 1.2E+05", " 1.23E+05"},  {365, " 3.6E+02", " 3.65E+02"},
      {1825, " 1.8E+03", " 1.82E+03"},    {7300, " 7.3E+03", " 7.30E+03"},
      {1.125, " 1.1E+00", " 1.12E+00"},   {1.375, " 1.4E+00", " 1.38E+00"},
      {9.996, " 1.0E+01", " 1.00E+01"},   {99.95, " 1.0E+02", " 9.99E+01"},
      {-2.5E-7, "-2.5E-07", "-2.50E-07"}, {1E-30, " 1.0E-30", " 1.00E-30"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.input);
    EXPECT_EQ(time_field(f32(row.input)), row.time);
    EXPECT_EQ(coef_field(f32(row.input)), row.coef);
  }
}

TEST(FormatUsing, PairOfCoefficients) {
  const char* pair = "##.##^^^^##.##^^^^ ";
  EXPECT_EQ(format_using(pair, {f32(1.5E-10), f32(3.2E-12)}), " 1.50E-10 3.20E-12 ");
  EXPECT_EQ(format_using(pair, {f32(4.27E-9), 0.0}), " 4.27E-09 0.00E+00 ");
  EXPECT_EQ(format_using(pair, {-kInf, 1.0}), "-1.00E+999 1.00E+00 ");
}

TEST(FormatUsing, RoundingOnTheExactValue) {
  // Exact ties go to the even digit; anything above a tie goes up.
  EXPECT_EQ(coef_field(1.125), " 1.12E+00");
  EXPECT_EQ(coef_field(1.375), " 1.38E+00");
  EXPECT_EQ(time_field(12.5), " 1.2E+01");
  EXPECT_EQ(time_field(13.5), " 1.4E+01");
  EXPECT_EQ(coef_field(1825), " 1.82E+03");
  EXPECT_EQ(coef_field(1835), " 1.84E+03");
  EXPECT_EQ(time_field(f32(1.35)), " 1.4E+00");  // held as 1.35000002
  EXPECT_EQ(time_field(f32(1.25)), " 1.2E+00");  // held exactly
  EXPECT_EQ(time_field(std::nextafter(1.25, 2.0)), " 1.3E+00");
  EXPECT_EQ(time_field(std::nextafter(1.35, 0.0)), " 1.3E+00");  // 1.3499999999999999
  // 1.125000000001 narrows to 1.125, a tie.
  EXPECT_EQ(coef_field(f32(1.125000000001)), " 1.12E+00");
}

TEST(FormatUsing, CarryIntoNewLeadingDigit) {
  EXPECT_EQ(coef_field(f32(9.996)), " 1.00E+01");
  EXPECT_EQ(coef_field(f32(9.995)), " 9.99E+00");  // held as 9.99499989
  EXPECT_EQ(time_field(f32(0.0999)), " 1.0E-01");
  EXPECT_EQ(coef_field(f32(-999.6)), "-1.00E+03");
  EXPECT_EQ(time_field(f32(9.95)), " 9.9E+00");  // held as 9.94999981
  EXPECT_EQ(time_field(f32(9.96)), " 1.0E+01");
}

TEST(FormatUsing, SignsZerosAndExtremes) {
  EXPECT_EQ(coef_field(-0.0), " 0.00E+00");
  EXPECT_EQ(time_field(-0.0), " 0.0E+00");
  const double smallest = std::numeric_limits<float>::denorm_min();
  const double largest = std::numeric_limits<float>::max();
  EXPECT_EQ(coef_field(smallest), " 1.40E-45");
  EXPECT_EQ(coef_field(-smallest), "-1.40E-45");
  EXPECT_EQ(coef_field(largest), " 3.40E+38");
  EXPECT_EQ(coef_field(std::numeric_limits<float>::min()), " 1.18E-38");
}

TEST(FormatUsing, ValuesThatAreNotFinite) {
  EXPECT_EQ(coef_field(kInf), " 1.00E+999");
  EXPECT_EQ(coef_field(-kInf), "-1.00E+999");
  EXPECT_EQ(time_field(kInf), " 1.0E+999");
  EXPECT_EQ(time_field(-kInf), "-1.0E+999");
  EXPECT_EQ(coef_field(std::numeric_limits<double>::quiet_NaN()), " 0.00E+00");
  EXPECT_EQ(coef_field(-std::numeric_limits<double>::quiet_NaN()), " 0.00E+00");
  EXPECT_EQ(format_using("##.#^^^^^", {kInf}), " 1.0E+999");  // three digits fit
}

TEST(FormatUsing, WideExponentGrowsTheField) {
  EXPECT_EQ(format_using("##.#^^^", {5}), " 5.0E+0");
  EXPECT_EQ(format_using("##.#^^^", {5E12}), " 5.0E+12");
  EXPECT_EQ(format_using("##.#^^^", {5E-12}), " 5.0E-12");
  EXPECT_EQ(format_using("##.#^^^^^^", {5E-12}), " 5.0E-0012");
  // Doubles reach three exponent digits.
  EXPECT_EQ(coef_field(1E-300), " 1.00E-300");
  EXPECT_EQ(coef_field(std::numeric_limits<double>::max()), " 1.80E+308");
  EXPECT_EQ(coef_field(std::numeric_limits<double>::denorm_min()), " 4.94E-324");
  // Many places before the point take the exponent to four digits.
  const std::string wide =
      format_using(std::string(700, '#') + ".^^^^", {std::numeric_limits<double>::denorm_min()});
  EXPECT_TRUE(wide.starts_with(" 494065645841246544")) << wide.substr(0, 30);
  EXPECT_EQ(wide.substr(699), "9.E-1022");
  EXPECT_EQ(wide.size(), 707u);
}

TEST(FormatUsing, OtherFieldShapes) {
  // More places before the point: the exponent belongs to the leading digit group.
  EXPECT_EQ(format_using("###.##^^^^", {12.345}), " 12.35E+00");  // held just above the tie
  EXPECT_EQ(format_using("###.##^^^^", {1.2345}), " 12.34E-01");  // held just below it
  EXPECT_EQ(format_using("###.##^^^^", {-99999}), "-10.00E+04");
  EXPECT_EQ(format_using("###.#^^^^", {kInf}), " 10.0E+999");
  EXPECT_EQ(format_using("##.^^^^", {3.5}), " 4.E+00");
  EXPECT_EQ(format_using("##.^^^^", {2.5}), " 2.E+00");
  EXPECT_EQ(format_using("##.################^^^^", {0.1}), " 1.0000000000000001E-01");
  EXPECT_EQ(format_using("##.########################^^^^", {0.1}),
            " 1.000000000000000055511151E-01");
}

TEST(FormatUsing, MaskLanguage) {
  EXPECT_EQ(format_using("t=##.#^^^^ d", {365}), "t= 3.6E+02 d");
  // A longer value list starts the mask again, literal text included.
  EXPECT_EQ(format_using("[##.#^^^^]", {1, 2, 3}), "[ 1.0E+00][ 2.0E+00][ 3.0E+00]");
  EXPECT_EQ(format_using("##.##^^^^##.##^^^^ ", {1, 2, 3}), " 1.00E+00 2.00E+00  3.00E+00");
  // A shorter one ends where the next field would begin.
  EXPECT_EQ(format_using("a##.#^^^^b##.#^^^^c", {1}), "a 1.0E+00b");
  EXPECT_EQ(format_using("a##.#^^^^b##.#^^^^c", {}), "a");
  // Characters that only mean something inside a field are plain text outside one.
  EXPECT_EQ(format_using("x. ^ - ##.#^^^^ + *", {1}), "x. ^ -  1.0E+00 + *");
}

TEST(FormatUsing, MasksInTurnOnOneThreadKeepTheirOwnFields) {
  // The checked form of the last mask is kept: a different mask, a refused one in between, or
  // the same mask again must each be read as written.
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(format_using("##.##^^^^##.##^^^^ ", {1.5e-10, 2.25}), " 1.50E-10 2.25E+00 ");
    EXPECT_EQ(format_using("##.#^^^^", {2.25}), " 2.2E+00");
    EXPECT_THROW(format_using("##.#^^", {1}), MaskError);
    EXPECT_THROW(format_using("##.#^^", {1}), MaskError);
    EXPECT_EQ(format_using("##.#^^^^", {2.35}), " 2.4E+00");
    EXPECT_THROW(format_using("", {}), MaskError);
  }
}

TEST(FormatUsing, RefusesOtherMasks) {
  const char* refused[] = {
      "",              // no field
      "text only",     // no field
      "##.##",         // no exponent
      "##.##^^",       // too few exponent marks
      "##.##^^^^^^^",  // too many
      "#.##^^^^",      // one place before the point
      ".##^^^^",       // none
      "##^^^^",        // no point
      "##,###.#^^^^",  // thousands separator
      "##.#.#^^^^",    // two points
      "+##.#^^^^",     // leading sign
      "##.#^^^^-",     // trailing sign
      "##.#^^^^+",
      "**##.#^^^^",  // asterisk fill
      "$$##.#^^^^",  // currency
      "**$##.#^^^^",
      "##.#^^^^ !",  // string fields
      "##.#^^^^ &",
      "\\  \\##.#^^^^",
      "_##.#^^^^",   // escape
      "##.#^^^^ #",  // a field of another form after a good one
  };
  for (const char* mask : refused) {
    SCOPED_TRACE(mask);
    EXPECT_THROW(format_using(mask, {1.0}), MaskError);
  }
}

TEST(FormatUsing, FieldWidthIsFixedForFiniteFloats) {
  std::mt19937 rng(7);
  for (int n = 0; n < 20000; ++n) {
    const auto bits = static_cast<std::uint32_t>(rng());
    const float v = std::bit_cast<float>(bits);
    if (!std::isfinite(v)) continue;
    ASSERT_EQ(format_using("##.##^^^^##.##^^^^ ", {v, -v}).size(), 19u) << v;
    ASSERT_EQ(time_field(v).size(), 8u) << v;
  }
}

// The sweeps below format every value of their range when the long tests are built
// (KESTRANE_LONG_TESTS); otherwise they take every 251st value and fewer random ones, to stay
// within seconds in any build.
#if KESTRANE_LONG_TESTS
constexpr std::uint32_t kStride = 1;
constexpr int kScale = 1;
#else
constexpr std::uint32_t kStride = 251;
constexpr int kScale = 20;
#endif

// Checks the floats with bit patterns first, first + stride, ... below `last` (all of one
// sign) in the field "##.(frac)^^^^" against "%.*E". Both texts grow with the magnitude,
// so where the formatter gives the same text to a run of neighbouring values it is enough
// to check the first and the last of the run: the correctly rounded text is the same at
// both ends, hence the same in between.
void check_float_range(std::uint32_t first, std::uint32_t last, int frac) {
  const std::string mask = "##." + std::string(static_cast<std::size_t>(frac), '#') + "^^^^";
  int mismatches = 0;
  auto check = [&](std::uint32_t bits, const std::string& text) {
    const double v = std::bit_cast<float>(bits);
    const std::string expected = reference_field(v, frac);
    if (text != expected && ++mismatches <= 10) {
      ADD_FAILURE() << "bits 0x" << std::hex << bits << " (" << v << "): " << text << " expected "
                    << expected;
    }
  };
  std::string run_text;
  std::uint32_t run_last = first;
  for (std::uint32_t bits = first; bits < last; bits += kStride) {
    std::string text = format_using(mask, {static_cast<double>(std::bit_cast<float>(bits))});
    if (text != run_text) {
      if (!run_text.empty()) check(run_last, run_text);
      check(bits, text);
      run_text = std::move(text);
    }
    run_last = bits;
  }
  check(run_last, run_text);
}

std::uint32_t float_bits(float v) { return std::bit_cast<std::uint32_t>(v); }

void check_binade(float low, float high) {
  check_float_range(float_bits(low), float_bits(high), 1);
  check_float_range(float_bits(low), float_bits(high), 2);
}

// Whole binades: the one of the exact ties 1.125, 1.375, 1.625 ...; the one of the
// integration times of a year (365 is a tie for two digits); one of typical dose
// coefficients; the lowest subnormals; the top binade, negative.
TEST(FormatUsingAgainstLibrary, BinadeOneToTwo) { check_binade(1, 2); }
TEST(FormatUsingAgainstLibrary, Binade256To512) { check_binade(256, 512); }
TEST(FormatUsingAgainstLibrary, BinadeNearOneBillionth) { check_binade(0x1p-30f, 0x1p-29f); }
TEST(FormatUsingAgainstLibrary, LowestSubnormals) {
  check_float_range(1, 1u << 21, 1);
  check_float_range(1, 1u << 21, 2);
}
TEST(FormatUsingAgainstLibrary, TopBinadeNegative) {
  check_binade(-0x1p127f, -std::numeric_limits<float>::infinity());
}

TEST(FormatUsingAgainstLibrary, RandomFloats) {
  std::mt19937 rng(2024);
  for (int n = 0; n < 2'000'000 / kScale; ++n) {
    const float v = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
    if (!std::isfinite(v)) continue;
    ASSERT_EQ(coef_field(v), reference_field(v, 2)) << std::bit_cast<std::uint32_t>(v);
    ASSERT_EQ(time_field(v), reference_field(v, 1)) << std::bit_cast<std::uint32_t>(v);
  }
}

// Doubles and longer fields: up to 30 significant digits, three-digit exponents.
TEST(FormatUsingAgainstLibrary, RandomDoublesLongFields) {
  for (const double v : {std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
                         std::numeric_limits<double>::denorm_min(), 0x1.fffffffffffffp-1022}) {
    for (const int frac : {0, 2, 16, 40}) {
      const std::string mask = "##." + std::string(static_cast<std::size_t>(frac), '#') + "^^^^";
      EXPECT_EQ(format_using(mask, {-v}), reference_field(-v, frac)) << mask << " " << v;
    }
  }
  std::mt19937_64 rng(99);
  for (int n = 0; n < 400'000 / kScale; ++n) {
    const double v = std::bit_cast<double>(rng());
    if (!std::isfinite(v)) continue;
    const int frac = static_cast<int>(rng() % 30);
    const std::string mask = "##." + std::string(static_cast<std::size_t>(frac), '#') + "^^^^";
    ASSERT_EQ(format_using(mask, {v}), reference_field(v, frac)) << mask << " " << v;
  }
}

// ---- The coefficient files' own path for their two fields ------------------------------

std::string float_time_field(float v) {
  char text[kFloatFieldRoom];
  return std::string(text, write_time_field(v, text));
}
std::string float_coef_field(float v) {
  char text[kFloatFieldRoom];
  return std::string(text, write_coefficient_field(v, text));
}

// `v`, `-v` and their neighbours on either side in both fields, the own path against the mask.
void expect_fields_agree(float v) {
  for (const float w : {v, std::nextafter(v, -kInfF), std::nextafter(v, kInfF)}) {
    for (const float x : {w, -w}) {
      ASSERT_EQ(float_time_field(x), time_field(x)) << std::bit_cast<std::uint32_t>(x);
      ASSERT_EQ(float_coef_field(x), coef_field(x)) << std::bit_cast<std::uint32_t>(x);
    }
  }
}

// 10^k as the nearest float, for k where that is finite and not zero.
float float_power_of_10(int k) { return std::strtof(("1e" + std::to_string(k)).c_str(), nullptr); }

struct FloatCase {
  const char* name;
  std::vector<float> (*values)();
};
void PrintTo(const FloatCase& c, std::ostream* os) { *os << c.name; }

std::vector<float> exact_ties() {
  // d.d5 x 10^q and d.5 x 10^q: (2n+1)/2 x 10^q with n of two or three digits, held exactly
  // where a float can (else the nearest float). For q < 0 that is when 5^-q divides 2n+1.
  std::vector<float> values;
  for (std::uint64_t n = 10; n < 1000; ++n) {
    std::uint64_t odd = 2 * n + 1;
    for (int q = 0; q <= 8; ++q, odd *= 10) values.push_back(static_cast<float>(odd) / 2);
    odd = 2 * n + 1;
    for (int q = -1; odd % 5 == 0; --q) {
      odd /= 5;
      values.push_back(std::ldexp(static_cast<float>(odd), q - 1));
    }
  }
  std::erase_if(values, [](float v) { return !std::isfinite(v); });
  return values;
}
std::vector<float> nearest_to_ties() {
  // The floats nearest the middles between two outcomes, in every decade of the float range.
  std::vector<float> values;
  for (int q = -47; q <= 36; ++q) {
    for (const char* digits :
         {"1.25", "1.35", "3.65", "9.45", "1.125", "2.675", "9.995", "1.005"}) {
      const float v = std::strtof((std::string(digits) + "e" + std::to_string(q)).c_str(), nullptr);
      if (v != 0 && std::isfinite(v)) values.push_back(v);
    }
  }
  return values;
}
std::vector<float> powers_of_ten() {
  std::vector<float> values;
  for (int k = -45; k <= 38; ++k) values.push_back(float_power_of_10(k));
  return values;
}
std::vector<float> rounding_up_to_a_power() {
  // Printed as 1.0E+xx or 1.00E+xx after rounding up: just above 9.95 and 9.995 x 10^q.
  std::vector<float> values;
  for (int q = -45; q <= 37; ++q) {
    for (const char* digits : {"9.951", "9.9951", "9.96", "9.996", "9.9999"}) {
      values.push_back(
          std::strtof((std::string(digits) + "e" + std::to_string(q)).c_str(), nullptr));
    }
  }
  std::erase_if(values, [](float v) { return v == 0 || !std::isfinite(v); });
  return values;
}
std::vector<float> extremes() {
  return {std::numeric_limits<float>::max(), std::numeric_limits<float>::min(),
          std::numeric_limits<float>::denorm_min(), std::nextafter(kInfF, 0.0f)};
}
std::vector<float> subnormals() {
  std::vector<float> values;
  for (std::uint32_t bits = 1; bits < (1u << 23); bits = bits * 3 + 1) {
    values.push_back(std::bit_cast<float>(bits));
  }
  return values;
}
std::vector<float> zeros_and_not_finite() {
  return {0.0f, -0.0f, kInfF, std::numeric_limits<float>::quiet_NaN()};
}

class FloatFieldsAgreeWithMask : public testing::TestWithParam<FloatCase> {};

TEST_P(FloatFieldsAgreeWithMask, ValueTheirNeighboursAndNegatives) {
  const std::vector<float> values = GetParam().values();
  ASSERT_FALSE(values.empty());
  for (const float v : values) expect_fields_agree(v);
}

INSTANTIATE_TEST_SUITE_P(HandPicked, FloatFieldsAgreeWithMask,
                         testing::Values(FloatCase{"ExactTies", exact_ties},
                                         FloatCase{"NearestToTies", nearest_to_ties},
                                         FloatCase{"PowersOfTen", powers_of_ten},
                                         FloatCase{"RoundingUpToAPower", rounding_up_to_a_power},
                                         FloatCase{"Extremes", extremes},
                                         FloatCase{"Subnormals", subnormals},
                                         FloatCase{"ZerosAndNotFinite", zeros_and_not_finite}),
                         [](const testing::TestParamInfo<FloatCase>& case_info) {
                           return std::string(case_info.param.name);
                         });

TEST(FloatFields, WorkedValues) {
  EXPECT_EQ(float_time_field(365), " 3.6E+02");  // a tie, to even
  EXPECT_EQ(float_coef_field(1.125f), " 1.12E+00");
  EXPECT_EQ(float_coef_field(9.996f), " 1.00E+01");
  EXPECT_EQ(float_coef_field(-kInfF), "-1.00E+999");
  EXPECT_EQ(float_coef_field(std::numeric_limits<float>::denorm_min()), " 1.40E-45");
  EXPECT_EQ(float_time_field(-0.0f), " 0.0E+00");
}

// Every float of one sign (every kFloatStride-th outside the long tests), both fields, against
// the mask formatter. Both texts only grow with the value, so where the own path gives one text
// to a run of values it is enough to ask the mask formatter for the first and the last of it.
#if KESTRANE_LONG_TESTS
constexpr std::uint32_t kFloatStride = 1;
#else
constexpr std::uint32_t kFloatStride = 4099;
#endif

void sweep_float_fields(char* (*write)(float, char*), const char* mask) {
  int mismatches = 0;
  auto check = [&](std::uint32_t bits, const std::string& text) {
    const std::string expected = format_using(mask, {std::bit_cast<float>(bits)});
    if (text != expected && ++mismatches <= 10) {
      ADD_FAILURE() << mask << " bits 0x" << std::hex << bits << ": " << text << " expected "
                    << expected;
    }
  };
  const std::uint32_t last = std::bit_cast<std::uint32_t>(kInfF);
  std::string run_text;
  std::uint32_t run_last = 0;
  char buffer[kFloatFieldRoom];
  for (std::uint32_t bits = 0; bits < last; bits += kFloatStride) {
    const std::string_view text(buffer, write(std::bit_cast<float>(bits), buffer));
    if (text != run_text) {
      if (!run_text.empty()) check(run_last, run_text);
      run_text = text;
      check(bits, run_text);
    }
    run_last = bits;
  }
  check(run_last, run_text);
}

TEST(FloatFieldsSweep, EveryBinadeTimeField) { sweep_float_fields(write_time_field, "##.#^^^^"); }
TEST(FloatFieldsSweep, EveryBinadeCoefficientField) {
  sweep_float_fields(write_coefficient_field, "##.##^^^^");
}

TEST(FloatFieldsSweep, RandomFloatsOfBothSigns) {
  std::mt19937 rng(23);
  for (int n = 0; n < 1'000'000 / kScale; ++n) {
    const float v = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
    ASSERT_EQ(float_coef_field(v), coef_field(v)) << std::bit_cast<std::uint32_t>(v);
    ASSERT_EQ(float_time_field(v), time_field(v)) << std::bit_cast<std::uint32_t>(v);
  }
}

}  // namespace
}  // namespace kestrane
