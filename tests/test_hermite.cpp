// Tests of the monotone slopes and the exact integrals of the rate interpolant.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "dose/hermite.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();

// A slope result as one number, as the worked examples give it: the count of changes of
// direction, -1 for too few points, -3 for times that do not increase.
int code_of(SlopeResult r) {
  switch (r.status) {
    case SlopeStatus::ok:
      return r.direction_changes;
    case SlopeStatus::too_few_points:
      return -1;
    case SlopeStatus::times_not_increasing:
      return -3;
  }
  return 99;
}

struct Slopes {
  std::vector<double> d;
  int status = 99;
};

Slopes slopes_of(const std::vector<double>& x, const std::vector<double>& f) {
  Slopes s;
  s.d.assign(x.size(), 0.0);
  s.status = code_of(estimate_monotone_slopes(x, f, s.d));
  return s;
}

// An integral with its status as a number: 0 to 3 for the range warnings, negative for a
// refusal.
struct Integral {
  double value = 0.0;
  int status = 99;
};

Integral number_of(IntegralResult r) { return {r.value, static_cast<int>(r.status)}; }

Integral integral(const std::vector<double>& x, const std::vector<double>& f,
                  const std::vector<double>& d, double a, double b) {
  return number_of(integrate_hermite(x, f, d, a, b));
}

Integral nodes_integral(const std::vector<double>& x, const std::vector<double>& f,
                        const std::vector<double>& d, int ia, int ib) {
  return number_of(integrate_between_nodes(x, f, d, ia, ib));
}

// The Hermite cubic of width h evaluated directly from its basis functions, in long double,
// at t = (time - x1) / h. Local coordinates keep full precision on short pieces far from 0.
long double cubic_at(long double h, double f1, double f2, double d1, double d2, long double t) {
  long double u = 1.0L - t;
  return f1 * (1.0L + 2.0L * t) * u * u + f2 * t * t * (3.0L - 2.0L * t) + h * d1 * t * u * u -
         h * d2 * t * t * u;
}

using test_support::Rng;

struct Table {
  std::vector<double> x, f, d;
  int status = 0;
};

// Increasing times with gaps over five decades, rates of both signs with runs of zeros,
// flat steps, sign flips, monotone runs and jumps.
Table random_table(Rng& rng, int n) {
  Table t;
  t.x.resize(n);
  t.f.resize(n);
  t.x[0] = rng.below(2) == 0 ? 0.0 : rng.unit() * 10.0;
  for (int i = 1; i < n; ++i) {
    double scale = std::pow(10.0, rng.below(5) - 2);
    t.x[i] = t.x[i - 1] + (rng.unit() + 0x1p-10) * scale;
  }
  double v = rng.unit() * 2.0 - 1.0;
  int i = 0;
  while (i < n) {
    int run = 1 + rng.below(8);
    int kind = rng.below(6);
    double step = (rng.unit() * 2.0 - 1.0) * std::pow(10.0, rng.below(3));
    for (int k = 0; k < run && i < n; ++k, ++i) {
      if (kind == 0) {
        v = 0.0;
      } else if (kind == 1) {
        // flat: v stays
      } else if (kind == 2) {
        v = -v * rng.unit() * 4.0;
      } else if (kind == 3) {
        v = v + step * (0.1 + rng.unit());  // monotone run
      } else {
        v = v + (rng.unit() * 2.0 - 1.0) * std::pow(10.0, rng.below(3));
      }
      t.f[i] = v;
    }
  }
  t.d.assign(n, 0.0);
  t.status = code_of(estimate_monotone_slopes(t.x, t.f, t.d));
  return t;
}

// A bound on the magnitude of the terms that the integral over pieces il..ir-1 (0-based
// interval indices) is built from: half-width times |f| at both ends plus the slope terms.
double envelope(const Table& t, int il, int ir) {
  double s = 0.0;
  for (int i = il; i < ir; ++i) {
    double h = t.x[i + 1] - t.x[i];
    s += 0.5 * h *
         (std::fabs(t.f[i]) + std::fabs(t.f[i + 1]) +
          h * (std::fabs(t.d[i]) + std::fabs(t.d[i + 1])) / 6.0);
  }
  return s;
}

// ---------------------------------------------------------------------------------------------
// Sign helpers

TEST(SignHelpers, TransferSignAndSignProduct) {
  EXPECT_EQ(transfer_sign(2.0, 5.0), 2.0);
  EXPECT_EQ(transfer_sign(-2.0, 5.0), 2.0);
  EXPECT_EQ(transfer_sign(2.0, -1e-300), -2.0);
  EXPECT_EQ(transfer_sign(-2.0, -3.0), -2.0);
  EXPECT_EQ(transfer_sign(2.0, 0.0), 2.0);
  EXPECT_EQ(transfer_sign(2.0, -0.0), 2.0);  // a negative zero counts as positive

  EXPECT_EQ(sign_product(3.0, 4.0), 1.0);
  EXPECT_EQ(sign_product(-3.0, -4e-200), 1.0);
  EXPECT_EQ(sign_product(3.0, -4.0), -1.0);
  EXPECT_EQ(sign_product(-3.0, 4.0), -1.0);
  EXPECT_EQ(sign_product(0.0, 4.0), 0.0);
  EXPECT_EQ(sign_product(-4.0, -0.0), 0.0);
  EXPECT_EQ(sign_product(0.0, 0.0), 0.0);
}

// ---------------------------------------------------------------------------------------------
// Slopes: worked examples and refusals

TEST(Slopes, TwoPointsGiveTheSecant) {
  Slopes s = slopes_of({1.0, 5.0}, {3.0, -5.0});
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(s.d[0], -2.0);
  EXPECT_EQ(s.d[1], -2.0);
}

TEST(Slopes, ConstantRatesHaveZeroSlopes) {
  Slopes s = slopes_of({0.0, 0.5, 2.0, 7.0, 8.0}, {3.0, 3.0, 3.0, 3.0, 3.0});
  EXPECT_EQ(s.status, 0);
  for (double v : s.d) EXPECT_EQ(v, 0.0);
}

TEST(Slopes, PeakHasZeroSlopeAndCountsOnce) {
  Slopes s = slopes_of({0.0, 1.0, 2.0}, {0.0, 1.0, 0.0});
  EXPECT_EQ(s.status, 1);
  EXPECT_EQ(s.d, (std::vector<double>{2.0, 0.0, -2.0}));
}

TEST(Slopes, EndSlopeLimitedToThreeSecantsWhereTheDataTurn) {
  // The three-point value at the first point is 6.5; the data turn at x = 1, so it is held to
  // three times the first secant. The last point is not limited (-15.5 is within 3 * -10).
  Slopes s = slopes_of({0.0, 1.0, 2.0}, {0.0, 1.0, -9.0});
  EXPECT_EQ(s.status, 1);
  EXPECT_EQ(s.d, (std::vector<double>{3.0, 0.0, -15.5}));
}

TEST(Slopes, UnequalIntervals) {
  Slopes s = slopes_of({0.0, 1.0, 3.0}, {0.0, 1.0, 2.0});
  EXPECT_EQ(s.status, 0);
  EXPECT_DOUBLE_EQ(s.d[0], 7.0 / 6.0);
  EXPECT_DOUBLE_EQ(s.d[1], 9.0 / 13.0);
  EXPECT_DOUBLE_EQ(s.d[2], 1.0 / 6.0);
}

TEST(Slopes, RateFallingToZeroStaysZero) {
  // The three-point value at the last point is +1, against a zero last secant: slope 0.
  Slopes s = slopes_of({0.0, 1.0, 2.0, 3.0}, {4.0, 2.0, 0.0, 0.0});
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(s.d, (std::vector<double>{-2.0, -2.0, 0.0, 0.0}));
}

TEST(Slopes, PlateauBetweenRisesAddsNoChangeOfDirection) {
  Slopes s = slopes_of({0.0, 1.0, 2.0, 3.0, 4.0}, {0.0, 1.0, 1.0, 2.0, 1.0});
  EXPECT_EQ(s.status, 1);
  EXPECT_EQ(s.d, (std::vector<double>{1.5, 0.0, 0.0, 0.0, -2.0}));
}

TEST(Slopes, PlateauBetweenRiseAndFallCountsOnce) {
  // Up, flat, flat, down, then up again: two changes of direction.
  Slopes s = slopes_of({0, 1, 2, 3, 4, 5}, {0.0, 1.0, 1.0, 1.0, 0.0, 2.0});
  EXPECT_EQ(s.status, 2);
  EXPECT_EQ(s.d[1], 0.0);
  EXPECT_EQ(s.d[2], 0.0);
  EXPECT_EQ(s.d[3], 0.0);
  EXPECT_EQ(s.d[4], 0.0);
}

TEST(Slopes, RefusedTablesLeaveSlopesUntouched) {
  const double mark = -123.0;
  struct Case {
    std::vector<double> x;
    int n;
    int status;
  };
  const std::vector<Case> cases = {
      {{0.0}, 1, -1},           {{}, 0, -1},
      {{0.0, 1.0}, 0, -1},      {{0.0, 1.0, 1.0, 2.0}, 4, -3},       // equal neighbours
      {{0.0, 2.0, 1.0}, 3, -3}, {{0.0, 1.0, 2.0, 3.0, 2.5}, 5, -3},  // decrease at the very end
      {{0.0, 1.0}, 2, 0},                                            // accepted, for contrast
  };
  for (const Case& c : cases) {
    std::vector<double> f(5, 1.0), d(5, mark);
    const auto n = static_cast<std::size_t>(c.n);
    const int status =
        code_of(estimate_monotone_slopes(std::span(c.x).first(n), std::span(f).first(n), d));
    EXPECT_EQ(status, c.status) << "n = " << c.n;
    if (c.status < 0) {
      for (double v : d) EXPECT_EQ(v, mark) << "n = " << c.n;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Integrals: worked examples

TEST(Integrals, PeakTable) {
  std::vector<double> x = {0.0, 1.0, 2.0}, f = {0.0, 1.0, 0.0};
  Slopes s = slopes_of(x, f);
  Integral whole = integral(x, f, s.d, 0.0, 2.0);
  EXPECT_DOUBLE_EQ(whole.value, 4.0 / 3.0);
  EXPECT_EQ(whole.status, 0);
  Integral back = integral(x, f, s.d, 2.0, 0.0);
  EXPECT_DOUBLE_EQ(back.value, -4.0 / 3.0);
  EXPECT_EQ(back.status, 0);
  Integral first = integral(x, f, s.d, 0.0, 0.5);
  EXPECT_DOUBLE_EQ(first.value, 5.0 / 24.0);
  EXPECT_EQ(first.status, 0);
}

TEST(Integrals, FallToZeroTable) {
  std::vector<double> x = {0.0, 1.0, 2.0, 3.0}, f = {4.0, 2.0, 0.0, 0.0};
  Slopes s = slopes_of(x, f);
  Integral whole = integral(x, f, s.d, 0.0, 3.0);
  EXPECT_DOUBLE_EQ(whole.value, 23.0 / 6.0);
  EXPECT_EQ(whole.status, 0);
  // The last piece is identically zero, so its extension adds nothing.
  Integral beyond = integral(x, f, s.d, 0.0, 10.0);
  EXPECT_EQ(beyond.value, whole.value);
  EXPECT_EQ(beyond.status, 2);
  Integral ends = integral(x, f, s.d, 0.5, 2.5);  // left end, one interval, right end
  EXPECT_DOUBLE_EQ(ends.value, 25.0 / 12.0);
  EXPECT_EQ(ends.status, 0);
  Integral inside = integral(x, f, s.d, 1.25, 1.75);  // within one interval
  EXPECT_DOUBLE_EQ(inside.value, 37.0 / 96.0);
  EXPECT_EQ(inside.status, 0);
}

TEST(Integrals, FirstPieceExtendedBelowTheTable) {
  std::vector<double> x = {1.0, 2.0, 3.0}, f = {2.0, 1.0, 0.0};
  Slopes s = slopes_of(x, f);
  EXPECT_EQ(s.d, (std::vector<double>{-1.0, -1.0, -1.0}));
  Integral r = integral(x, f, s.d, 0.0, 2.0);
  EXPECT_EQ(r.value, 4.0);
  EXPECT_EQ(r.status, 1);
}

TEST(Integrals, EndPiecesExtendedAroundWholeIntervals) {
  // The line 2t: limits beyond either end, with whole intervals between them.
  std::vector<double> x = {1.0, 2.0, 3.0, 4.0}, f = {2.0, 4.0, 6.0, 8.0};
  Slopes s = slopes_of(x, f);
  EXPECT_EQ(s.d, (std::vector<double>{2.0, 2.0, 2.0, 2.0}));
  const struct {
    double a, b, value;
    int status;
  } cases[] = {{0.0, 3.5, 12.25, 1}, {1.5, 5.0, 22.75, 2},  {0.0, 5.0, 25.0, 3},
               {5.0, 0.0, -25.0, 3}, {-1.0, 0.5, -0.75, 3}, {4.5, 6.0, 15.75, 3}};
  for (const auto& c : cases) {
    Integral r = integral(x, f, s.d, c.a, c.b);
    EXPECT_EQ(r.value, c.value) << c.a << ", " << c.b;
    EXPECT_EQ(r.status, c.status) << c.a << ", " << c.b;
  }
}

TEST(Integrals, EqualLimitsGiveZeroWithRangeWarnings) {
  std::vector<double> x = {0.0, 1.0, 2.0}, f = {0.0, 1.0, 0.0};
  Slopes s = slopes_of(x, f);
  Integral in = integral(x, f, s.d, 0.5, 0.5);
  EXPECT_EQ(in.value, 0.0);
  EXPECT_EQ(in.status, 0);
  Integral out = integral(x, f, s.d, 5.0, 5.0);
  EXPECT_EQ(out.value, 0.0);
  EXPECT_EQ(out.status, 3);
}

TEST(Integrals, TwoPointTableExtendsItsOnePiece) {
  std::vector<double> x = {1.0, 3.0}, f = {2.0, 6.0};  // the line 2t
  Slopes s = slopes_of(x, f);
  Integral both = integral(x, f, s.d, 0.0, 4.0);
  EXPECT_EQ(both.value, 16.0);
  EXPECT_EQ(both.status, 3);
  Integral back = integral(x, f, s.d, 4.0, 0.0);
  EXPECT_EQ(back.value, -16.0);
  EXPECT_EQ(back.status, 3);
  Integral below = integral(x, f, s.d, 0.0, 2.0);
  EXPECT_EQ(below.value, 4.0);
  EXPECT_EQ(below.status, 1);
  Integral inside = integral(x, f, s.d, 2.0, 2.5);
  EXPECT_EQ(inside.value, 2.25);
  EXPECT_EQ(inside.status, 0);
}

TEST(Integrals, EqualNeighbouringTimesAreAccepted) {
  // A step at t = 1: the zero-width interval contributes nothing.
  std::vector<double> x = {0.0, 1.0, 1.0, 2.0}, f = {0.0, 1.0, 3.0, 3.0}, d = {1.0, 1.0, 0.0, 0.0};
  Integral whole = integral(x, f, d, 0.0, 2.0);
  EXPECT_EQ(whole.value, 3.5);
  EXPECT_EQ(whole.status, 0);
  Integral across = integral(x, f, d, 0.5, 1.5);
  EXPECT_EQ(across.value, 0.375 + 1.5);
  EXPECT_EQ(across.status, 0);
  Integral nodes = nodes_integral(x, f, d, 1, 4);
  EXPECT_EQ(nodes.value, 3.5);
  EXPECT_EQ(nodes.status, 0);
  EXPECT_EQ(nodes_integral(x, f, d, 2, 3).value, 0.0);
  EXPECT_EQ(integrate_cubic_piece(1.0, 1.0, 1.0, 3.0, 5.0, 7.0, 0.0, 2.0), 0.0);
}

TEST(Integrals, RefusedTables) {
  const std::vector<double> f = {1.0, 2.0, 3.0}, d = {1.0, 1.0, 1.0};
  const std::vector<double> rising = {0.0, 1.0, 2.0}, falling = {0.0, 2.0, 1.0};
  for (std::size_t n : {1u, 0u}) {
    const std::span<const double> x = std::span(rising).first(n);
    EXPECT_EQ(integrate_hermite(x, f, d, 0.0, 1.0),
              (IntegralResult{0.0, IntegralStatus::too_few_points}));
    EXPECT_EQ(integrate_between_nodes(x, f, d, 1, 1),
              (IntegralResult{0.0, IntegralStatus::too_few_points}));
  }
  const IntegralResult decrease{0.0, IntegralStatus::times_decrease};
  EXPECT_EQ(integrate_hermite(falling, f, d, 0.0, 0.5), decrease);
  EXPECT_EQ(integrate_between_nodes(falling, f, d, 1, 2), decrease);

  // A time that is not a number is refused like a decrease: the limits' search would run off
  // the table (with these times and limits the interval found would lie before x(1)).
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> gap = {0.385, nan, -0.80, -0.52};
  const std::vector<double> f4 = {1.0, 2.0, 3.0, 4.0}, d4 = {0.0, 0.0, 0.0, 0.0};
  EXPECT_EQ(integrate_hermite(gap, f4, d4, -0.0, -1.09), decrease);
  EXPECT_EQ(integrate_between_nodes(gap, f4, d4, 1, 4), decrease);

  // Times the caller has checked are taken as they are: no refusal.
  EXPECT_EQ(integrate_between_nodes(falling, f, d, 1, 2, TimesCheck::checked),
            (IntegralResult{0.5 * (2.0 * (3.0 + 0.0)), IntegralStatus::inside}));
}

TEST(Integrals, NodePositionsOutsideTheTable) {
  std::vector<double> x = {0.0, 1.0, 2.0}, f = {0.0, 1.0, 0.0}, d = {2.0, 0.0, -2.0};
  const std::array<std::array<int, 2>, 4> bad = {{{0, 2}, {4, 2}, {1, 0}, {1, 4}}};
  for (const auto& [ia, ib] : bad) {
    Integral r = nodes_integral(x, f, d, ia, ib);
    EXPECT_EQ(r.value, 0.0) << ia << ", " << ib;
    EXPECT_EQ(r.status, -4) << ia << ", " << ib;
  }
  Integral same = nodes_integral(x, f, d, 2, 2);
  EXPECT_EQ(same.value, 0.0);
  EXPECT_EQ(same.status, 0);
  EXPECT_DOUBLE_EQ(nodes_integral(x, f, d, 1, 3).value, 4.0 / 3.0);
  EXPECT_DOUBLE_EQ(nodes_integral(x, f, d, 3, 1).value, -4.0 / 3.0);
}

// ---------------------------------------------------------------------------------------------
// Bit-exact results against a second transcription of the method (tests/data/hermite, written
// in Python, whose doubles round every operation on its own).

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

double hex_to_double(const std::string& s) { return std::strtod(s.c_str(), nullptr); }

TEST(GoldenBits, SlopesAndIntegralsMatchToTheLastBit) {
  std::ifstream in(std::string(KESTRANE_TEST_DATA) + "/hermite/golden.txt");
  ASSERT_TRUE(in) << "golden.txt missing";
  std::string line;
  int tables = 0, checks = 0;
  Table t;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string tag;
    ls >> tag;
    if (tag.empty() || tag[0] == '#') continue;
    if (tag == "table") {
      t = Table{};
      ++tables;
    } else if (tag == "point") {
      std::string x, f, d;
      ls >> x >> f >> d;
      t.x.push_back(hex_to_double(x));
      t.f.push_back(hex_to_double(f));
      t.d.push_back(hex_to_double(d));
    } else if (tag == "slopes") {
      int expected_status = 0;
      ls >> expected_status;
      Slopes s = slopes_of(t.x, t.f);
      EXPECT_EQ(s.status, expected_status) << "table " << tables;
      for (std::size_t i = 0; i < t.x.size(); ++i) {
        EXPECT_EQ(bits(s.d[i]), bits(t.d[i]))
            << "table " << tables << " point " << i + 1 << ": " << s.d[i] << " vs " << t.d[i];
        ++checks;
      }
    } else if (tag == "integral") {
      std::string a, b, v;
      int expected_status = 0;
      ls >> a >> b >> expected_status >> v;
      Integral r = integral(t.x, t.f, t.d, hex_to_double(a), hex_to_double(b));
      EXPECT_EQ(r.status, expected_status) << "table " << tables << " " << line;
      EXPECT_EQ(bits(r.value), bits(hex_to_double(v))) << "table " << tables << " " << line;
      ++checks;
    } else if (tag == "nodes") {
      int ia = 0, ib = 0, expected_status = 0;
      std::string v;
      ls >> ia >> ib >> expected_status >> v;
      Integral r = nodes_integral(t.x, t.f, t.d, ia, ib);
      EXPECT_EQ(r.status, expected_status) << "table " << tables << " " << line;
      EXPECT_EQ(bits(r.value), bits(hex_to_double(v))) << "table " << tables << " " << line;
      ++checks;
    }
  }
  EXPECT_GE(tables, 16);
  EXPECT_GE(checks, 1000);
}

// ---------------------------------------------------------------------------------------------
// Pieces continued far beyond the table, against exact integrals (tests/data/hermite/far.txt,
// worked out in rational arithmetic by make_far.py).

TEST(FarExtension, MatchesTheExactIntegralToOnePartInATrillion) {
  std::ifstream in(std::string(KESTRANE_TEST_DATA) + "/hermite/far.txt");
  ASSERT_TRUE(in) << "far.txt missing";
  std::string line;
  int cases = 0;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string tag, label, a, b, exact_hex;
    int n = 0;
    ls >> tag;
    if (tag != "case") continue;
    ls >> label >> n >> a >> b >> exact_hex;
    Table t;
    for (int i = 0; i < n && std::getline(in, line); ++i) {
      std::istringstream ps(line);
      std::string point, x, f, d;
      ps >> point >> x >> f >> d;
      t.x.push_back(hex_to_double(x));
      t.f.push_back(hex_to_double(f));
      t.d.push_back(hex_to_double(d));
    }
    const double exact = hex_to_double(exact_hex);
    const Integral got = integral(t.x, t.f, t.d, hex_to_double(a), hex_to_double(b));
    EXPECT_GT(got.status, 0) << label;
    EXPECT_LE(std::fabs(got.value - exact), 1e-12 * std::fabs(exact))
        << label << ": " << got.value << " against " << exact;
    ++cases;
  }
  EXPECT_GE(cases, 100);
}

// Up to 100 widths outside the piece the closed form stands, to the last bit; beyond, the far
// form, on either side.
TEST(FarExtension, TakesOverBeyondAHundredWidths) {
  const double x1 = 3.0, x2 = 3.5, f1 = 0.75, f2 = 0.5, d1 = -0.625, d2 = -0.125;
  auto closed_form = [&](double a, double b) {
    hermite_detail::CubicFactors factors;
    factors.set(x1, x2, a, b);
    return factors.integral(f1, f2, d1, d2);
  };
  auto far_form = [&](double a, double b) {
    return hermite_detail::far_piece_integral(x1, x2, f1, f2, d1, d2, a, b);
  };
  const double above = x2 + 50.0, below = x1 - 50.0;  // exactly 100 widths away
  for (auto [a, b] : {std::pair{x1, above}, {above, x1}, {below, x2}, {x2, below}}) {
    EXPECT_EQ(bits(integrate_cubic_piece(x1, x2, f1, f2, d1, d2, a, b)), bits(closed_form(a, b)));
  }
  const double past = std::nextafter(above, 1e9), before = std::nextafter(below, -1e9);
  for (auto [a, b] : {std::pair{x1, past}, {past, x1}, {before, x2}, {x2, before}}) {
    EXPECT_EQ(bits(integrate_cubic_piece(x1, x2, f1, f2, d1, d2, a, b)), bits(far_form(a, b)));
  }
  // At the boundary the two forms agree to rounding.
  EXPECT_NEAR(far_form(x1, above), closed_form(x1, above), 1e-12 * std::fabs(far_form(x1, above)));
}

// ---------------------------------------------------------------------------------------------
// Properties on random tables

constexpr int kTables = 1000;

TEST(SlopeProperties, ShapeIsPreserved) {
  Rng rng(17);
  int monotone_intervals = 0, flat_intervals = 0, extrema = 0;
  for (int k = 0; k < kTables; ++k) {
    const int n = 2 + k % 149;
    Table t = random_table(rng, n);
    ASSERT_GE(t.status, 0);

    // status counts the changes of direction among the non-zero differences.
    int changes = 0;
    double last = 0.0;
    for (int i = 0; i + 1 < n; ++i) {
      double diff = t.f[i + 1] - t.f[i];
      if (diff == 0.0) continue;
      if (last != 0.0 && (diff > 0.0) != (last > 0.0)) ++changes;
      last = diff;
    }
    EXPECT_EQ(t.status, changes) << "table " << k;

    // Zero slope at strict extrema and wherever a flat interval touches the point.
    for (int i = 0; i < n; ++i) {
      bool flat_left = i > 0 && t.f[i - 1] == t.f[i];
      bool flat_right = i + 1 < n && t.f[i] == t.f[i + 1];
      bool extremum = i > 0 && i + 1 < n && (t.f[i] - t.f[i - 1]) * (t.f[i + 1] - t.f[i]) < 0.0;
      if (flat_left || flat_right || extremum) {
        EXPECT_EQ(t.d[i], 0.0) << "table " << k << " point " << i + 1;
        extrema += extremum ? 1 : 0;
      }
    }

    for (int i = 0; i + 1 < n; ++i) {
      const double x1 = t.x[i], x2 = t.x[i + 1], f1 = t.f[i], f2 = t.f[i + 1];
      const double d1 = t.d[i], d2 = t.d[i + 1];
      const double h = x2 - x1;
      if (f1 == f2) {
        // Flat interval: the integral is exactly width times rate, and a zero rate is
        // interpolated as exactly zero.
        ++flat_intervals;
        EXPECT_EQ(nodes_integral(t.x, t.f, t.d, i + 1, i + 2).value, h * f1);
        if (f1 == 0.0) {
          for (int j = 1; j < 8; ++j) EXPECT_EQ(cubic_at(h, f1, f2, d1, d2, j / 8.0L), 0);
        }
        continue;
      }
      // Monotone data on the interval: slopes within the Fritsch-Carlson region (0 to 3
      // secants, to rounding), and the cubic itself never turns back or overshoots.
      ++monotone_intervals;
      const double secant = (f2 - f1) / h;
      EXPECT_GE(d1 / secant, 0.0);
      EXPECT_GE(d2 / secant, 0.0);
      EXPECT_LE(d1 / secant, 3.0 * (1.0 + 8.0 * kEps));
      EXPECT_LE(d2 / secant, 3.0 * (1.0 + 8.0 * kEps));
      const long double tol =
          16.0L * kEps * (std::fabs(f1) + std::fabs(f2) + h * (std::fabs(d1) + std::fabs(d2)));
      const long double dir = f2 > f1 ? 1.0L : -1.0L;
      long double prev = f1;
      constexpr int kPoints = 32;
      for (int j = 1; j <= kPoints; ++j) {
        long double p = cubic_at(h, f1, f2, d1, d2, static_cast<long double>(j) / kPoints);
        ASSERT_GE(dir * (p - prev), -tol) << "table " << k << " interval " << i + 1;
        ASSERT_LE(dir * (p - f2), tol) << "table " << k << " interval " << i + 1;
        prev = p;
      }
    }
  }
  // The generator really produced the shapes of interest.
  EXPECT_GT(monotone_intervals, 25000);
  EXPECT_GT(flat_intervals, 2500);
  EXPECT_GT(extrema, 2500);
}

TEST(IntegralProperties, AdditiveAndAntisymmetric) {
  Rng rng(29);
  double worst = 0.0;
  for (int k = 0; k < kTables; ++k) {
    const int n = 2 + (k * 7) % 149;
    Table t = random_table(rng, n);
    const double lo = t.x.front(), hi = t.x.back(), span = hi - lo;
    for (int trial = 0; trial < 12; ++trial) {
      // Three limits, mostly inside the table, now and then a little outside it, sometimes on
      // a node.
      std::array<double, 3> z{};
      for (double& v : z) {
        int pick = rng.below(10);
        if (pick == 0) {
          v = t.x[rng.below(n)];
        } else if (pick == 1) {
          v = lo - 0.02 * (t.x[1] - lo) * rng.unit();
        } else if (pick == 2) {
          v = hi + 0.02 * (hi - t.x[n - 2]) * rng.unit();
        } else {
          v = lo + span * rng.unit();
        }
      }
      const double a = z[0], b = z[1], c = z[2];
      Integral ab = integral(t.x, t.f, t.d, a, b);
      Integral bc = integral(t.x, t.f, t.d, b, c);
      Integral ac = integral(t.x, t.f, t.d, a, c);
      Integral ba = integral(t.x, t.f, t.d, b, a);
      ASSERT_GE(ab.status, 0);

      // Reversing the limits flips the sign exactly and swaps the range warnings.
      EXPECT_EQ(ba.value, -ab.value) << "table " << k;
      EXPECT_EQ(ba.status, (ab.status & 1) * 2 + (ab.status & 2) / 2);

      // Additivity holds to rounding: a few ulps of the size of the terms summed over the
      // intervals that the three limits span (the integral itself may cancel to near 0).
      int first = 0, last = n - 1;
      const double zlo = std::min({a, b, c}), zhi = std::max({a, b, c});
      while (first + 1 < n - 1 && t.x[first + 1] <= zlo) ++first;
      while (last - 1 > 0 && t.x[last - 1] >= zhi) --last;
      const double scale = envelope(t, first, last);
      const double gap = std::fabs(ac.value - (ab.value + bc.value));
      worst = std::max(worst, gap / (kEps * scale));
      EXPECT_LE(gap, 8.0 * kEps * scale) << "table " << k << ": " << a << ", " << b << ", " << c;
    }
    // Whole intervals by the node sum agree with the general integral between the same times.
    int ia = 1 + rng.below(n), ib = 1 + rng.below(n);
    Integral by_nodes = nodes_integral(t.x, t.f, t.d, ia, ib);
    Integral general = integral(t.x, t.f, t.d, t.x[ia - 1], t.x[ib - 1]);
    EXPECT_EQ(general.status, 0);
    const double scale = envelope(t, std::min(ia, ib) - 1, std::max(ia, ib) - 1);
    EXPECT_LE(std::fabs(by_nodes.value - general.value), 8.0 * kEps * scale) << "table " << k;
    EXPECT_EQ(nodes_integral(t.x, t.f, t.d, ib, ia).value, -by_nodes.value);
  }
  RecordProperty("worst_additivity_gap_in_eps_of_scale", std::to_string(worst));
}

TEST(IntegralProperties, StraightLinesAreIntegratedExactly) {
  // On an even grid with binary-fraction data every operation is exact, and so is the result.
  {
    std::vector<double> x, f;
    for (int i = 0; i < 40; ++i) {
      x.push_back(0.25 * i);
      f.push_back(3.0 - 0.75 * x.back());
    }
    Slopes s = slopes_of(x, f);
    ASSERT_EQ(s.status, 0);
    for (double v : s.d) EXPECT_EQ(v, -0.75);
    auto exact = [](double a, double b) { return 3.0 * (b - a) - 0.375 * (b * b - a * a); };
    for (auto [a, b] : {std::pair{0.0, 9.75},
                        {0.0, 2.0},
                        {0.0, 0.0625},
                        {1.125, 7.5},
                        {8.0, 0.5},
                        {9.5, 9.625},
                        {-1.0, 3.0},
                        {2.0, 12.0}}) {
      EXPECT_EQ(integral(x, f, s.d, a, b).value, exact(a, b)) << a << ", " << b;
    }
  }
  // On random grids the result is the line's integral to rounding.
  Rng rng(5);
  for (int k = 0; k < 200; ++k) {
    const int n = 2 + rng.below(149);
    const double alpha = rng.unit() * 20.0 - 10.0, beta = rng.unit() * 2.0 - 1.0;
    std::vector<double> x(n), f(n);
    x[0] = rng.unit();
    for (int i = 1; i < n; ++i) x[i] = x[i - 1] + 0.01 + rng.unit();
    for (int i = 0; i < n; ++i) f[i] = alpha + beta * x[i];
    Slopes s = slopes_of(x, f);
    const double a = x[0] + rng.unit() * (x[n - 1] - x[0]), b = x[n - 1] * rng.unit();
    const double expected = alpha * (b - a) + 0.5 * beta * (b * b - a * a);
    const double scale = (std::fabs(alpha) + std::fabs(beta) * x[n - 1]) * x[n - 1];
    EXPECT_NEAR(integral(x, f, s.d, a, b).value, expected, 64.0 * kEps * scale) << "table " << k;
  }
}

TEST(IntegralProperties, ConvergesToTheIntegralOfDecayingExponentials) {
  // A rate built from three exponentials of both signs: it rises, peaks and decays. The times
  // crowd towards intake, as in the dose-rate tables, where the rate changes fastest.
  const std::array<double, 3> amp = {3.0, -2.5, 0.5}, rate = {0.7, 5.0, 0.02};
  auto r = [&](double t) {
    double s = 0.0;
    for (int k = 0; k < 3; ++k) s += amp[k] * std::exp(-rate[k] * t);
    return s;
  };
  auto exact = [&](double T) {
    double s = 0.0;
    for (int k = 0; k < 3; ++k) s += amp[k] / rate[k] * -std::expm1(-rate[k] * T);
    return s;
  };
  for (double T : {20.0, 13.7, 0.3}) {
    double coarse_error = 0.0;
    for (int intervals = 16; intervals <= 1024; intervals *= 2) {
      std::vector<double> x(intervals + 1), f(intervals + 1);
      for (int i = 0; i <= intervals; ++i) {
        const double u = static_cast<double>(i) / intervals;
        x[i] = 20.0 * u * u;
        f[i] = r(x[i]);
      }
      Slopes s = slopes_of(x, f);
      ASSERT_EQ(s.status, 1);  // the one peak
      Integral got = integral(x, f, s.d, 0.0, T);
      EXPECT_EQ(got.status, 0);
      const double error = std::fabs(got.value - exact(T)) / std::fabs(exact(T));
      if (intervals == 16) {
        coarse_error = error;
      } else {
        // At least second order overall: the error falls with the square of the step.
        const double refinement = intervals / 16.0;
        EXPECT_LT(error, coarse_error / (refinement * refinement))
            << "T = " << T << ", " << intervals;
      }
      if (intervals == 1024) {
        EXPECT_LT(error, 1e-9) << "T = " << T;
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The closed form of a piece against Gauss-Legendre quadrature of the cubic itself.

struct GaussLegendre {
  static constexpr int kOrder = 8;
  std::array<long double, kOrder> node{}, weight{};
  GaussLegendre() {
    const long double pi = 3.141592653589793238462643383279502884L;
    for (int i = 0; i < kOrder; ++i) {
      long double z = std::cos(pi * (i + 0.75L) / (kOrder + 0.5L));
      long double dp = 0.0L;
      for (int iter = 0; iter < 100; ++iter) {
        long double p0 = 1.0L, p1 = z;
        for (int k = 2; k <= kOrder; ++k) {
          long double p2 = ((2 * k - 1) * z * p1 - (k - 1) * p0) / k;
          p0 = p1;
          p1 = p2;
        }
        dp = kOrder * (z * p1 - p0) / (z * z - 1.0L);
        long double step = p1 / dp;
        z -= step;
        if (std::fabs(step) < 1e-19L) break;
      }
      node[i] = z;
      weight[i] = 2.0L / ((1.0L - z * z) * dp * dp);
    }
  }
  template <class F>
  long double integrate(F&& g, long double a, long double b) const {
    long double mid = 0.5L * (a + b), half = 0.5L * (b - a), s = 0.0L;
    for (int i = 0; i < kOrder; ++i) s += weight[i] * g(mid + half * node[i]);
    return half * s;
  }
};

TEST(PieceIntegral, AgreesWithGaussLegendreQuadrature) {
  const GaussLegendre gl;
  // The rule integrates x^14 on [-1, 1] exactly: a check of the nodes and weights.
  EXPECT_NEAR(
      static_cast<double>(gl.integrate([](long double z) { return std::pow(z, 14); }, -1.0L, 1.0L)),
      2.0 / 15.0, 1e-15);
  Rng rng(101);
  double worst = 0.0;
  for (int k = 0; k < 50000; ++k) {
    const double x1 = (rng.unit() * 2.0 - 1.0) * std::pow(10.0, rng.below(4));
    const double h = (rng.unit() + 0x1p-8) * std::pow(10.0, rng.below(5) - 2);
    const double x2 = x1 + h;
    const double f1 = rng.unit() * 2.0 - 1.0, f2 = rng.below(4) == 0 ? 0.0 : rng.unit() * 2 - 1;
    const double d1 = (rng.unit() * 8.0 - 4.0) / h, d2 = (rng.unit() * 8.0 - 4.0) / h;
    // Limits anywhere from two widths below the piece to two widths above it.
    const double a = x1 + h * (rng.unit() * 5.0 - 2.0);
    const double b = x1 + h * (rng.unit() * 5.0 - 2.0);
    const long double width = static_cast<long double>(x2) - x1;
    const long double ta = (a - static_cast<long double>(x1)) / width;
    const long double tb = (b - static_cast<long double>(x1)) / width;
    auto cubic = [&](long double t) { return cubic_at(width, f1, f2, d1, d2, t); };
    const long double reference = width * gl.integrate(cubic, ta, tb);
    // Relative 1e-12 of the integral of |p| over [a, b]. The closed form subtracts
    // antiderivative values taken at a and at b, so a short span or a cancelling integral is
    // allowed in addition a few ulps of those values: the terms of the piece times the fourth
    // power of the farthest limit, in piece widths.
    const long double size =
        width * std::fabs(gl.integrate([&](long double t) { return std::fabs(cubic(t)); }, ta, tb));
    const double reach = std::max({1.0, std::fabs(a - x1) / h, std::fabs(b - x1) / h,
                                   std::fabs(x2 - a) / h, std::fabs(x2 - b) / h});
    const double terms = 0.5 * h *
                         (std::fabs(f1) + std::fabs(f2) + h * (std::fabs(d1) + std::fabs(d2)) / 6) *
                         reach * reach * reach * reach;
    const double got = integrate_cubic_piece(x1, x2, f1, f2, d1, d2, a, b);
    const long double tolerance = 1e-12L * size + 16.0L * kEps * terms;
    worst = std::max(worst, static_cast<double>(std::fabs(got - reference) / tolerance));
    EXPECT_LE(std::fabs(got - reference), tolerance)
        << "piece " << k << ": [" << x1 << ", " << x2 << "] over [" << a << ", " << b << "]";
    EXPECT_EQ(integrate_cubic_piece(x1, x2, f1, f2, d1, d2, b, a), -got);
  }
  std::ostringstream worst_text;
  worst_text << worst;
  RecordProperty("worst_gap_as_fraction_of_tolerance", worst_text.str());
}

}  // namespace
}  // namespace kestrane
