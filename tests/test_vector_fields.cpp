// The vector reading of the usual rate fields against the scalar one and the exact rule: the
// same double, bit for bit, for every field it reads, and a refusal of every other form, on
// each processor target the machine can run (AVX2, SSE4 and SSSE3 forced, and the best).
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hwy/targets.h"
#include "input/fast_fields.h"
#include "input/number_rule.h"
#include "input/vector_fields.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

using number_detail::parse_e_fields10;
using number_detail::parse_e_fields10_on_target;

// A field of the usual form: lead, a digit, the point, three digits, the exponent letter, its
// sign and two digits, every character drawn at random from what the form allows.
std::string usual_field(test_support::Rng& rng) {
  auto digit = [&rng] { return static_cast<char>('0' + rng.below(10)); };
  std::string f;
  f += " -+"[rng.below(3)];
  f += digit();
  f += '.';
  for (int k = 0; k < 3; ++k) f += digit();
  f += "EeDd"[rng.below(4)];
  f += "+-"[rng.below(2)];
  f += digit();
  f += digit();
  return f;
}

// Fields that the number rule reads but that are not of the usual form, and fields it refuses.
const std::vector<std::string> kOtherFields = {
    "1.2345E-05", "  1.00E-05", " 1.234E-5 ",  " 1.234E+0 ", "  1.234E-5", "       0.0",
    "          ", " 12.34E-05", " 1.234     ", "    1234.5", " .1234E-05", " 1.234E 05",
    " 1,234E-05", " 1.234F-05", " 1.234E*05",  "-1.234e+9 ", " 1.2a4E-05", "\t1.234E-05",
    " 1.234E-0a", "&H1F      ", " 1.23456789", "+1.234e-5 ", "1.2345D+00", "NaN       "};

// Whether the targets the machine can run include `target`.
bool runs(std::int64_t target) { return (hwy::SupportedTargets() & target) != 0; }

class VectorFields : public testing::TestWithParam<std::int64_t> {};

TEST_P(VectorFields, SameBitsAsTheScalarReadingOrRefused) {
  const std::int64_t target = GetParam();
  if (target != 0 && !runs(target)) GTEST_SKIP() << "the processor lacks this target";
  test_support::Rng rng(22);
  for (int n = 0; n < 4000; ++n) {
    const int count = 1 + rng.below(29);
    std::string line;
    for (int k = 0; k < count; ++k) line += usual_field(rng);
    const bool other = rng.one_in(3);
    int odd = count;  // the field of another form, if any
    if (other) {
      odd = rng.below(count);
      line.replace(
          static_cast<std::size_t>(10 * odd), 10,
          kOtherFields[static_cast<std::size_t>(rng.below(static_cast<int>(kOtherFields.size())))]);
    }
    // In a buffer of its own size, so that a read past the last field is caught.
    const std::vector<char> exact_size(line.begin(), line.end());
    std::vector<double> scalar(29), vector(29);
    const bool scalar_read = parse_e_fields10(line.data(), count, scalar.data());
    const int read = parse_e_fields10_on_target(target, exact_size.data(), count, vector.data());
    ASSERT_EQ(read == count, scalar_read) << line;
    ASSERT_EQ(read == count, !other) << line;
    // Fewer fields read only up to the one of another form; those read have their exact value.
    ASSERT_GE(read, 0);
    ASSERT_LE(read, odd) << line;
    for (int k = 0; k < read; ++k) {
      const auto i = static_cast<std::size_t>(k);
      double exact = 0.0;
      ASSERT_EQ(read_number_field(std::string_view(line).substr(10 * i, 10), exact),
                FieldReading::number);
      ASSERT_EQ(std::bit_cast<std::uint64_t>(vector[i]), std::bit_cast<std::uint64_t>(exact))
          << line.substr(10 * i, 10);
    }
  }
}

// Every exponent of the form, with the smallest, largest and a middle mantissa, both signs.
TEST_P(VectorFields, EveryExponentAndTheEndsOfTheMantissa) {
  const std::int64_t target = GetParam();
  if (target != 0 && !runs(target)) GTEST_SKIP() << "the processor lacks this target";
  for (const char* mantissa : {"0.000", "1.000", "9.999", "4.567"}) {
    for (int e = -99; e <= 99; ++e) {
      std::string field = std::string("-") + mantissa + (e < 0 ? "E-" : "E+");
      field += static_cast<char>('0' + (e < 0 ? -e : e) / 10);
      field += static_cast<char>('0' + (e < 0 ? -e : e) % 10);
      const std::string line = field + " " + field.substr(1);
      double got[2] = {};
      double exact[2] = {};
      ASSERT_EQ(parse_e_fields10_on_target(target, line.data(), 2, got), 2) << line;
      ASSERT_EQ(read_number_field(field, exact[0]), FieldReading::number);
      std::string unsigned_field = field;  // the same field with a blank for its sign
      unsigned_field[0] = ' ';
      ASSERT_EQ(read_number_field(unsigned_field, exact[1]), FieldReading::number);
      for (int k = 0; k < 2; ++k) {
        ASSERT_EQ(std::bit_cast<std::uint64_t>(got[k]), std::bit_cast<std::uint64_t>(exact[k]))
            << line;
      }
    }
  }
}

// Every mantissa with every exponent whose power of ten a double holds exactly (scaled by one
// division or product), and the exponents either side of them, against the exact reading and
// strtod.
TEST_P(VectorFields, EveryMantissaWhereOneProductOrDivisionRounds) {
  const std::int64_t target = GetParam();
  if (target != 0 && !runs(target)) GTEST_SKIP() << "the processor lacks this target";
  std::string line;
  std::vector<double> exact;
  auto check = [&] {
    const int count = static_cast<int>(exact.size());
    std::vector<double> got(exact.size());
    ASSERT_EQ(parse_e_fields10_on_target(target, line.data(), count, got.data()), count) << line;
    for (std::size_t k = 0; k < exact.size(); ++k) {
      ASSERT_EQ(std::bit_cast<std::uint64_t>(got[k]), std::bit_cast<std::uint64_t>(exact[k]))
          << line.substr(10 * k, 10);
    }
    line.clear();
    exact.clear();
  };
  // Written exponents -20 to 26 are 10^-23 to 10^23 once the three fraction digits are counted.
  for (int written = -20; written <= 26; ++written) {
    for (int m = 0; m < 10000; ++m) {
      char field[16];
      std::snprintf(field, sizeof field, "%c%d.%03d%c%c%02d", " -+"[m % 3], m / 1000, m % 1000,
                    "EeDd"[m % 4], written < 0 || (written == 0 && m % 2 == 1) ? '-' : '+',
                    written < 0 ? -written : written);
      double value = 0.0;
      ASSERT_EQ(read_number_field(field, value), FieldReading::number) << field;
      std::string written_e = field;  // strtod takes no exponent letter D
      written_e[6] = 'E';
      ASSERT_EQ(std::bit_cast<std::uint64_t>(value),
                std::bit_cast<std::uint64_t>(std::strtod(written_e.c_str(), nullptr)))
          << field;
      line += field;
      exact.push_back(value);
      if (exact.size() == 29) check();
    }
  }
  if (!exact.empty()) check();
}

// Each column of a field in turn holds every byte: the vector reading takes the field exactly
// when the scalar reading does, with the same bits, wherever the field stands among others, and
// when it does not, reads no further than the fields before it.
TEST_P(VectorFields, EveryByteInEveryColumnOfAField) {
  const std::int64_t target = GetParam();
  if (target != 0 && !runs(target)) GTEST_SKIP() << "the processor lacks this target";
  const std::string usual = "-9.876E-12";
  for (int count : {1, 3, 29}) {
    for (int column = 0; column < 10; ++column) {
      for (int byte = 0; byte < 256; ++byte) {
        std::string line;
        for (int k = 0; k < count; ++k) line += usual;
        const auto at = static_cast<std::size_t>(10 * (byte % count) + column);
        line[at] = static_cast<char>(byte);
        double scalar[29], vector[29];
        const bool scalar_read = parse_e_fields10(line.data(), count, scalar);
        const int read = parse_e_fields10_on_target(target, line.data(), count, vector);
        ASSERT_EQ(read == count, scalar_read) << column << " " << byte;
        ASSERT_LE(read, byte % count + (scalar_read ? count : 0)) << column << " " << byte;
        for (int k = 0; k < read; ++k) {
          ASSERT_EQ(std::bit_cast<std::uint64_t>(vector[k]),
                    std::bit_cast<std::uint64_t>(scalar[k]))
              << line;
        }
      }
    }
  }
}

// Whether a field is a plain rate, character by character: a blank or '+', a digit, the point,
// three digits, E, e, D or d, '+' or '-', two digits.
bool plain_rate(std::string_view f) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return (f[0] == ' ' || f[0] == '+') && digit(f[1]) && f[2] == '.' && digit(f[3]) && digit(f[4]) &&
         digit(f[5]) && std::string_view("EeDd").find(f[6]) != std::string::npos &&
         (f[7] == '+' || f[7] == '-') && digit(f[8]) && digit(f[9]);
}

// The look at the form of the fields flags exactly the fields that are not plain rates, as the
// statement above says and as the scalar look does, with any byte in any column of any field of
// lines of 1 to 64 fields; every field it lets pass holds one number of 0 or more. The reading of
// rates takes the plain rates and no other field: all of the line exactly where none is
// flagged, else no further than the first flagged, each with the value of the exact rule.
TEST_P(VectorFields, FormOfEveryFieldFlaggedUnlessAPlainRate) {
  const std::int64_t target = GetParam();
  if (target != 0 && !runs(target)) GTEST_SKIP() << "the processor lacks this target";
  test_support::Rng rng(5);
  for (int n = 0; n < 20000; ++n) {
    const int count = 1 + rng.below(n % 2 == 0 ? 33 : 64);
    std::string line;
    for (int k = 0; k < count; ++k) line += usual_field(rng);
    for (int changes = rng.below(4); changes > 0; --changes) {
      if (rng.one_in(2)) {
        line[static_cast<std::size_t>(rng.below(10 * count))] = static_cast<char>(rng.below(256));
      } else {
        line.replace(static_cast<std::size_t>(10 * rng.below(count)), 10,
                     kOtherFields[static_cast<std::size_t>(
                         rng.below(static_cast<int>(kOtherFields.size())))]);
      }
    }
    std::uint64_t expected = 0;
    for (int k = 0; k < count; ++k) {
      const std::string_view field =
          std::string_view(line).substr(10 * static_cast<std::size_t>(k), 10);
      if (!plain_rate(field)) {
        expected |= std::uint64_t{1} << k;
      } else {
        double value = -1.0;
        ASSERT_EQ(read_number_field(field, value), FieldReading::number) << field;
        ASSERT_GE(value, 0.0) << field;
      }
    }
    // In a buffer of its own size, so that a look past the last field is caught.
    const std::vector<char> exact_size(line.begin(), line.end());
    ASSERT_EQ(number_detail::unusual_fields10_on_target(target, exact_size.data(), count), expected)
        << line;
    ASSERT_EQ(number_detail::unusual_fields10(line.data(), count), expected) << line;
    std::vector<double> rates(64);
    const int read =
        number_detail::parse_rates10_on_target(target, exact_size.data(), count, rates.data());
    ASSERT_EQ(read == count, expected == 0) << line;
    ASSERT_GE(read, 0);
    ASSERT_LE(read, expected == 0 ? count : std::countr_zero(expected)) << line;
    for (int k = 0; k < read; ++k) {
      double exact = 0.0;
      ASSERT_EQ(read_number_field(
                    std::string_view(line).substr(10 * static_cast<std::size_t>(k), 10), exact),
                FieldReading::number);
      ASSERT_EQ(std::bit_cast<std::uint64_t>(rates[static_cast<std::size_t>(k)]),
                std::bit_cast<std::uint64_t>(exact));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, VectorFields,
                         testing::Values(std::int64_t{HWY_AVX2}, std::int64_t{HWY_SSE4},
                                         std::int64_t{HWY_SSSE3}, std::int64_t{0}),
                         [](const testing::TestParamInfo<std::int64_t>& target) {
                           return target.param == 0 ? std::string("Best")
                                                    : std::string(hwy::TargetName(target.param));
                         });

}  // namespace
}  // namespace kestrane
