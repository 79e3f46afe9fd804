// Tests of HermiteRows, the fast pass of the record loop: the slopes and integrals of rows that
// share their times must be, bit for bit and status for status, what estimate_monotone_slopes
// and integrate_hermite give row by row and limit by limit; and the parts outside the table.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "dose/hermite_rows.h"
#include "hwy/targets.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// The bits of `v`, any NaN counting as the same (its sign and payload depend on the order of
// the operands, which the sums of many rows at once need not keep; every NaN coefficient is
// refused).
std::uint64_t bits_or_nan(double v) { return std::isnan(v) ? 0x7FF8000000000000 : bits(v); }

using test_support::Rng;

struct Table {
  std::vector<double> x, f, d;
  int n() const { return static_cast<int>(x.size()); }
};

// Times mostly increasing on a roughly logarithmic grid, sometimes with equal neighbours, a
// decrease or a NaN; rates of mixed sign with runs of zeros and flat stretches; slopes from
// estimate_monotone_slopes where it accepts the table, random otherwise.
Table random_table(Rng& rng, int n) {
  Table t;
  t.x.resize(static_cast<std::size_t>(n));
  double time = rng.one_in(4) ? -rng.unit() * 10 : (rng.one_in(3) ? 0.0 : rng.unit());
  for (double& xi : t.x) {
    xi = time;
    const int kind = rng.below(20);
    if (kind == 0) continue;  // the next time equals this one
    if (kind == 1 && rng.one_in(4))
      time -= rng.unit();  // times decrease here
    else
      time += std::pow(10.0, rng.unit() * 4 - 2);
  }
  if (n > 0 && rng.one_in(40)) t.x[static_cast<std::size_t>(rng.below(n))] = kNaN;

  t.f.resize(static_cast<std::size_t>(n));
  double rate = std::pow(10.0, -rng.unit() * 14 - 8);
  for (double& fi : t.f) {
    const int kind = rng.below(10);
    if (kind == 0)
      rate = 0.0;
    else if (kind == 1)
      rate = -rate;
    else if (kind < 4)
      rate *= 1.0;  // flat
    else if (rate == 0.0 && rng.one_in(3))
      rate = std::pow(10.0, -rng.unit() * 14 - 8);
    else
      rate *= 0.2 + rng.unit() * 1.6;
    fi = rate;
  }

  // Now and then rates near the top of the double range or beyond it, whose secants overflow.
  if (n > 0 && rng.one_in(15)) {
    const double extremes[] = {1.7e308, -1.7e308, kInf, -kInf, 1e300};
    for (int k = rng.below(3); k >= 0; --k) {
      t.f[static_cast<std::size_t>(rng.below(n))] = extremes[rng.below(5)];
    }
  }

  t.d.assign(static_cast<std::size_t>(n), 0.0);
  const SlopeResult slopes = estimate_monotone_slopes(t.x, t.f, t.d);
  if (slopes.status != SlopeStatus::ok || rng.one_in(10)) {
    for (double& di : t.d) di = (rng.unit() - 0.5) * rate * 10;
  }
  return t;
}

// A limit of every kind relative to the table: below it, at a node, between nodes, beyond it,
// negative, infinite or NaN.
double random_limit(Rng& rng, const Table& t) {
  const int n = t.n();
  const double first = n > 0 ? t.x.front() : 0.0;
  const double last = n > 0 ? t.x.back() : 1.0;
  switch (rng.below(12)) {
    case 0:
      return first - rng.unit() * 5;
    case 1:
      return last + rng.unit() * 1000;
    case 2:
    case 3:
      return n > 0 ? t.x[static_cast<std::size_t>(rng.below(n))] : 0.0;
    case 4:
      return -rng.unit() * 100;
    case 5:
      return rng.one_in(2) ? 0.0 : -0.0;
    case 6:
      return rng.one_in(3) ? kNaN : (rng.one_in(2) ? kInf : -kInf);
    default: {
      if (n < 2) return rng.unit() * 10;
      const auto i = static_cast<std::size_t>(rng.below(n - 1));
      return t.x[i] + (t.x[i + 1] - t.x[i]) * rng.unit();
    }
  }
}

// Compares HermiteRows with estimate_monotone_slopes and integrate_hermite on one table, one
// lower limit and a list of upper limits. `rows` may hold an earlier table, which must leave no
// trace. `what` names the case in failure messages.
void expect_same_as_single_calls(HermiteRows& rows, const Table& t, double a,
                                 const std::vector<double>& limits, const std::string& what) {
  rows.prepare(t.x, a, limits);

  // Slopes, including an untouched d on a refusal.
  std::vector<double> d_one(t.x.size() + 1, 7.0), d_rows(t.x.size() + 1, 7.0);
  const SlopeResult one = estimate_monotone_slopes(t.x, t.f, d_one);
  ASSERT_EQ(rows.slopes(t.f, d_rows), one) << what;
  for (std::size_t i = 0; i < d_one.size(); ++i) {
    ASSERT_EQ(bits(d_rows[i]), bits(d_one[i])) << what << ", slope " << i;
  }

  // Integrals, one call per limit with a fresh skip of 0, as the record loop made them. A NaN
  // among the times passes the integral's check of order but makes integrate_hermite's
  // positions meaningless (it can read before the table), so such tables are compared for
  // their slopes only; the record loop never integrates them, as their slopes are refused.
  if (std::any_of(t.x.begin(), t.x.end(), [](double v) { return std::isnan(v); })) return;
  std::vector<double> out(limits.size(), 5.0);
  std::vector<IntegralStatus> statuses(limits.size(), IntegralStatus::sum_failed);
  const IntegralStatus last_status = rows.integrate(t.f, t.d, out, statuses);
  IntegralStatus expected_last = IntegralStatus::inside;
  for (std::size_t m = 0; m < limits.size(); ++m) {
    const IntegralResult expected = integrate_hermite(t.x, t.f, t.d, a, limits[m]);
    expected_last = expected.status;
    ASSERT_EQ(bits(out[m]), bits(expected.value))
        << what << ", a = " << a << ", limit " << m << " = " << limits[m] << ": " << out[m]
        << " instead of " << expected.value;
    ASSERT_EQ(statuses[m], expected.status) << what << ", limit " << m << " = " << limits[m];
  }
  EXPECT_EQ(last_status, expected_last) << what;

  // Without the list of statuses, the same values.
  std::vector<double> again(limits.size(), 3.0);
  EXPECT_EQ(rows.integrate(t.f, t.d, again), last_status) << what;
  for (std::size_t m = 0; m < limits.size(); ++m) EXPECT_EQ(bits(again[m]), bits(out[m])) << what;
}

TEST(HermiteRows, WorkedExamplesOfTheIntegrals) {
  // x = 0, 1, 2, 3 with f = 4, 2, 0, 0: 23/6 over [0, 3] and [0, 10] (status 2), 25/12 over
  // [0.5, 2.5], 37/96 over [1.25, 1.75].
  const std::vector<double> x{0, 1, 2, 3}, f{4, 2, 0, 0};
  HermiteRows rows;
  rows.prepare(x, 0.0, std::vector<double>{3.0, 10.0, 0.0});
  std::vector<double> d(4);
  EXPECT_EQ(rows.slopes(f, d), (SlopeResult{SlopeStatus::ok, 0}));
  EXPECT_EQ(d, (std::vector<double>{-2, -2, 0, 0}));
  std::array<double, 3> out;
  std::array<IntegralStatus, 3> statuses;
  EXPECT_EQ(rows.integrate(f, d, out, statuses), IntegralStatus::inside);
  EXPECT_DOUBLE_EQ(out[0], 23.0 / 6);
  EXPECT_DOUBLE_EQ(out[1], 23.0 / 6);
  EXPECT_EQ(out[2], 0.0);
  EXPECT_EQ(statuses, (std::array{IntegralStatus::inside, IntegralStatus::b_outside,
                                  IntegralStatus::inside}));

  rows.prepare(x, 0.5, std::vector<double>{2.5});
  rows.integrate(f, d, out);
  EXPECT_DOUBLE_EQ(out[0], 25.0 / 12);
  rows.prepare(x, 1.25, std::vector<double>{1.75});
  rows.integrate(f, d, out);
  EXPECT_DOUBLE_EQ(out[0], 37.0 / 96);
}

TEST(HermiteRows, RefusedTablesAndNoLimits) {
  const std::vector<double> x{0, 1, 1, 0.5}, f{1, 2, 3, 4}, d{0, 0, 0, 0};
  HermiteRows rows;
  rows.prepare(x, 0.0, std::vector<double>{0.5, 2.0});
  std::array<double, 2> out = {9, 9};
  std::array<IntegralStatus, 2> statuses{};
  EXPECT_EQ(rows.integrate(f, d, out, statuses), IntegralStatus::times_decrease);
  EXPECT_EQ(statuses, (std::array{IntegralStatus::times_decrease, IntegralStatus::times_decrease}));
  EXPECT_EQ(out, (std::array<double, 2>{0.0, 0.0}));

  rows.prepare(std::span(x).first(1), 0.0, std::vector<double>{0.5});
  EXPECT_EQ(rows.integrate(f, d, out), IntegralStatus::too_few_points);

  // No limits: nothing integrated, nothing refused.
  rows.prepare(x, 0.0, std::vector<double>{});
  EXPECT_EQ(rows.integrate(f, d, out), IntegralStatus::inside);
}

TEST(HermiteRows, SameBitsAsSingleCallsOnRandomTables) {
  Rng rng(20240611);
  HermiteRows rows;  // reused from table to table, as a record loop reuses it
  const int sizes[] = {0, 1, 2, 2, 3, 3, 4, 5, 8, 150};
  for (int trial = 0; trial < 6000; ++trial) {
    const int n = rng.one_in(3) ? sizes[rng.below(10)] : 2 + rng.below(149);
    const Table t = random_table(rng, n);
    std::vector<double> limits;
    const int count = rng.below(12);
    for (int m = 0; m < count; ++m) {
      // Equal neighbouring limits now and then.
      limits.push_back(m > 0 && rng.one_in(6) ? limits.back() : random_limit(rng, t));
    }
    if (rng.one_in(3)) std::sort(limits.begin(), limits.end());
    // Mostly from intake, as the record loop integrates; otherwise from anywhere.
    const double a = rng.below(3) != 0 ? 0.0 : random_limit(rng, t);
    expect_same_as_single_calls(rows, t, a, limits, "trial " + std::to_string(trial));
    if (HasFatalFailure()) return;
  }
}

TEST(HermiteRows, SmallTableAfterALargeOne) {
  Rng rng(7);
  HermiteRows rows;
  const Table big = random_table(rng, 150);
  rows.prepare(big.x, 0.0, std::vector<double>(100, 1e6));
  const std::vector<double> x{1, 2, 3}, f{2, 1, 0};
  const std::vector<double> limits{0.5, 2.0, 2.5, 40};
  Table small{x, f, {-1, -1, -1}};
  expect_same_as_single_calls(rows, small, 0.0, limits, "small after big");
}

// The changes of direction are counted across flat stretches (zero secants between rises and
// falls, at the start, at the end), on rows of odd and even length, worked out by hand.
TEST(HermiteRows, ChangesOfDirectionAcrossFlatStretches) {
  struct Case {
    std::vector<double> f;
    int changes;
  };
  // Secants in brackets; the changes are those of the non-zero secants alone.
  const Case cases[] = {
      {{1, 2, 2, 2, 1, 1, 3, 3}, 2},     // [1 0 0 -1 0 2 0]: up, down, up
      {{1, 2, 2, 3, 3, 5, 5}, 0},        // [1 0 1 0 2 0]: up throughout
      {{0, 0, 0, 1, 2, 1, 0, 0, 0}, 1},  // [0 0 1 1 -1 -1 0 0]
      {{5, 4, 6, 3, 7, 0, 0, 0}, 4},     // [-1 2 -3 4 -7 0 0]: zeros only at the end
      {{3, 3, 3, 3, 3}, 0},              // all flat
      {{1, 2, 1}, 1},
      {{1, 1, 2}, 0},
  };
  HermiteRows rows;
  for (const Case& c : cases) {
    Table t;
    t.f = c.f;
    for (std::size_t i = 0; i < c.f.size(); ++i) t.x.push_back(static_cast<double>(i));
    t.d.assign(c.f.size(), 0.0);
    const std::string what = "row of " + std::to_string(c.f.size()) + " points";
    rows.prepare(t.x, 0.0, {});
    std::vector<double> d(c.f.size());
    EXPECT_EQ(rows.slopes(t.f, d), (SlopeResult{SlopeStatus::ok, c.changes})) << what;
    expect_same_as_single_calls(rows, t, 0.0, {1.0}, what);
  }
}

// The part outside the table, against the same integrals by Simpson's rule, which is exact for
// a cubic: the end pieces evaluated from their Hermite form over [a, x(1)] and [x(n), b].
long double simpson_on_piece(const Table& t, std::size_t left, long double from, long double to) {
  const long double x1 = t.x[left], h = t.x[left + 1] - x1;
  auto at = [&](long double time) {
    const long double u = (time - x1) / h, v = 1 - u;
    return t.f[left] * (1 + 2 * u) * v * v + t.f[left + 1] * u * u * (3 - 2 * u) +
           h * t.d[left] * u * v * v - h * t.d[left + 1] * u * u * v;
  };
  return (to - from) / 6 * (at(from) + 4 * at((from + to) / 2) + at(to));
}

TEST(HermiteRows, PartOutsideTheTableOnRandomTables) {
  Rng rng(31);
  HermiteRows rows;
  int beyond = 0;
  for (int trial = 0; trial < 2000; ++trial) {
    Table t;
    const int n = 2 + rng.below(40);
    double time = rng.one_in(3) ? 0.0 : rng.unit() * 3;
    for (int i = 0; i < n; ++i) {
      t.x.push_back(time);
      t.f.push_back(rng.one_in(5) ? 0.0 : rng.unit() * 2 - 0.5);
      time += 0.01 + rng.unit() * 10;
    }
    t.d.assign(t.x.size(), 0.0);
    ASSERT_EQ(estimate_monotone_slopes(t.x, t.f, t.d).status, SlopeStatus::ok);
    const std::vector<double> limits = {0.0, t.x.front() * rng.unit(), t.x[1],
                                        t.x.back() * (1 + rng.unit()), t.x.back() + 1000};
    rows.prepare(t.x, 0.0, limits);
    std::vector<double> values(limits.size()), outside(limits.size());
    rows.integrate(t.f, t.d, values);
    rows.outside(t.f, t.d, values, outside);
    const auto last = t.x.size() - 2;
    for (std::size_t m = 0; m < limits.size(); ++m) {
      const double b = limits[m];
      long double expected = 0;
      if (b <= t.x.front()) {
        expected = simpson_on_piece(t, 0, 0, b);
      } else {
        expected = simpson_on_piece(t, 0, 0, t.x.front());
        if (b > t.x.back()) expected += simpson_on_piece(t, last, t.x.back(), b);
      }
      beyond += b > t.x.back() ? 1 : 0;
      // Exactly 0 wholly inside, the integral itself wholly outside; otherwise close to the
      // independent value, relative to the size of the integrands.
      if (b == 0.0 || (t.x.front() == 0.0 && b <= t.x.back())) {
        EXPECT_EQ(outside[m], 0.0) << "trial " << trial << ", limit " << m;
      } else if (b <= t.x.front()) {
        EXPECT_EQ(outside[m], values[m]) << "trial " << trial << ", limit " << m;
      }
      // The closed form on a piece continued far beyond its width loses digits to
      // cancellation: its terms grow with the fourth power of the distance in widths.
      auto terms = [&](std::size_t left, double to) {
        const double h = t.x[left + 1] - t.x[left];
        const double widths = std::abs(to - t.x[left]) / h + 1;
        return h * widths * widths * widths * widths *
               (std::abs(t.f[left]) + std::abs(t.f[left + 1]) +
                h * (std::abs(t.d[left]) + std::abs(t.d[left + 1])));
      };
      const double scale = terms(0, 0.0) + (b > t.x.back() ? terms(last, b) : 0.0);
      EXPECT_NEAR(outside[m], static_cast<double>(expected), 1e-14 * scale)
          << "trial " << trial << ", limit " << m;
    }
  }
  EXPECT_GT(beyond, 1000);
}

// The rows of a record side by side: slopes_of_rows against estimate_monotone_slopes row by
// row (slopes, status and changes of direction, bit for bit), and the integrals and their
// parts outside the table from the slopes where they are kept, against integrate_hermite and
// against the same from contiguous slopes, on the target the suite forces.
class RowsInLanes : public testing::TestWithParam<std::int64_t> {
 protected:
  void SetUp() override {
    const std::int64_t target = GetParam();
    if (target != 0 && (hwy::SupportedTargets() & target) == 0) {
      GTEST_SKIP() << "the processor lacks this target";
    }
    hwy::SetSupportedTargetsForTest(target);
  }
  void TearDown() override { hwy::SetSupportedTargetsForTest(0); }

  void expect_rows_as_reference(const std::vector<double>& x,
                                const std::vector<std::vector<double>>& rows,
                                const std::string& what) {
    const std::size_t n = x.size();
    // A stride past the row, to see that nothing else is read.
    const std::size_t stride = n + 3;
    std::vector<double> f(stride * rows.size() + 1, kNaN);
    for (std::size_t j = 0; j < rows.size(); ++j) {
      std::copy(rows[j].begin(), rows[j].end(),
                f.begin() + static_cast<std::ptrdiff_t>(j * stride));
    }
    // Limits whose integrals go in the lanes (inside the first interval, between and at points,
    // beyond the table), now and then with one that leaves them to the rows (far beyond the
    // table, or below the lower limit 0).
    std::vector<double> limits{1.0};
    if (n >= 2) {
      const double last = x.back(), width = x[n - 1] - x[n - 2];
      limits = {x[0] + (x[1] - x[0]) * 0.25, last * 0.5, last, last + 3 * width, x[n / 2]};
    }
    if (++calls_ % 3 == 0) limits.push_back(calls_ % 2 == 0 ? 1e5 : -1.0);
    work_.prepare(x, 0.0, limits);
    std::vector<SlopeResult> results(rows.size());
    work_.slopes_of_rows(f.data(), stride, static_cast<int>(rows.size()), results);
    std::vector<double> all_values(rows.size() * limits.size(), 5.0), all_outside = all_values;
    if (std::all_of(results.begin(), results.end(),
                    [](const SlopeResult& r) { return r.status == SlopeStatus::ok; })) {
      work_.integrate_rows(f.data(), stride, static_cast<int>(rows.size()), all_values.data(),
                           limits.size(), all_outside.data(), limits.size());
    }
    for (std::size_t j = 0; j < rows.size(); ++j) {
      std::vector<double> expected(n, 7.0);
      const SlopeResult one = estimate_monotone_slopes(x, rows[j], expected);
      ASSERT_EQ(results[j], one) << what << ", row " << j;
      if (one.status != SlopeStatus::ok) continue;
      const HermiteRows::RowSlopes d = work_.row_slopes(static_cast<int>(j));
      for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(bits(d.d[i * d.stride]), bits(expected[i]))
            << what << ", row " << j << ", point " << i << ": " << d.d[i * d.stride]
            << " instead of " << expected[i];
      }
      std::vector<double> values(limits.size()), outside(limits.size()),
          expected_outside(limits.size());
      work_.integrate(rows[j], d, values);
      work_.outside(rows[j], d, values, outside);
      work_.outside(rows[j], expected, values, expected_outside);
      for (std::size_t m = 0; m < limits.size(); ++m) {
        const IntegralResult single = integrate_hermite(x, rows[j], expected, 0.0, limits[m]);
        ASSERT_EQ(bits_or_nan(values[m]), bits_or_nan(single.value))
            << what << ", row " << j << ", limit " << m;
        ASSERT_EQ(bits_or_nan(all_values[j * limits.size() + m]), bits_or_nan(values[m]))
            << what << ", row " << j << ", limit " << m << ", all rows at once";
        ASSERT_EQ(bits_or_nan(all_outside[j * limits.size() + m]), bits_or_nan(outside[m]))
            << what << ", row " << j << ", limit " << m << ", all rows at once";
        ASSERT_EQ(bits_or_nan(outside[m]), bits_or_nan(expected_outside[m]))
            << what << ", row " << j << ", limit " << m;
      }
    }
  }

  HermiteRows work_;  // reused from record to record, as the record loop reuses it
  int calls_ = 0;
};

// Every branch of the slope rules, in rows of one record side by side with other kinds of row
// (so that a lane differs from its neighbours), on unevenly and evenly spaced times.
TEST_P(RowsInLanes, EveryBranchOfTheSlopeRules) {
  struct Case {
    const char* what;
    std::vector<std::vector<double>> rows;  // rates at 0, 1, 2, ...
  };
  const Case cases[] = {
      {"two points", {{1, 2}, {2, 1}, {0, 0}, {-1, 3}, {5, 5}, {0, 1e-300}}},
      {"three points",
       {{1, 2, 3}, {3, 2, 1}, {1, 3, 2}, {2, 1, 3}, {0, 0, 1}, {1, 0, 0}, {4, 4, 4}, {1, 2, 2}}},
      {"rises, falls, peaks and troughs",
       {{1, 2, 4, 8, 9, 12},
        {12, 9, 8, 4, 2, 1},
        {1, 3, 6, 5, 2, 1},
        {6, 3, 1, 2, 5, 9},
        {-1, -2, -4, -3, -1, 0},
        {1, -1, 2, -2, 3, -3}}},
      {"zero secants between and around others",
       {{0, 0, 0, 1, 2, 1, 0, 0, 0},
        {1, 2, 2, 2, 1, 1, 3, 3, 3},
        {1, 2, 2, 3, 3, 5, 5, 6, 6},
        {5, 4, 6, 3, 7, 0, 0, 0, 0},
        {3, 3, 3, 3, 3, 3, 3, 3, 3},
        {0, -0.0, 0, -0.0, 0, 1, 0, -1, 0},
        {2, 2, 1, 1, 2, 2, 1, 1, 2}}},
      {"equal secants and equal magnitudes",
       {{0, 1, 2, 3, 4, 5, 6},
        {6, 5, 4, 3, 2, 1, 0},
        {0, 1, 0, 1, 0, 1, 0},
        {1, 3, 5, 3, 1, 3, 5},
        {-2, -4, -6, -8, -10, -12, -14}}},
      {"ends kept in direction or within three secants",
       {{0, 10, 10.5, 0, -5, -5.2, -5.3},
        {10, 0.1, 0, 0, 0.2, 4, 4.1},
        {0, 1, 10, 1, 0, 1, 10},
        {1, 0.9, -5, -6, -7, 20, 19},
        {3, 1, 2, 2, 2, 2, 0}}},
      {"rates at the edges of the double range",
       {{1e300, 1.7e308, -1.7e308, 1e300, 0, 1, 2},
        {4e-320, 5e-324, 0, 1e-310, 2e-310, 1e-300, 0},
        {0x1p500, 0x1p501, 0x1p499, 0x1p-500, 0x1p-501, 0, 1},
        {1, 2, kInf, 3, 4, 5, 6},
        {1, kNaN, 2, 3, 4, 5, 6},
        {-kInf, 1, 2, 3, 4, 5, 6}}},
  };
  for (const Case& c : cases) {
    const std::size_t n = c.rows.front().size();
    std::vector<double> even(n), uneven(n);
    for (std::size_t i = 0; i < n; ++i) {
      even[i] = static_cast<double>(i);
      uneven[i] = 0.01 * std::pow(3.0, static_cast<double>(i)) + (i == 0 ? 0.0 : 0.5);
    }
    // Few rows and many: the case's rows, then repeated to fill more lanes than a vector has.
    std::vector<std::vector<double>> many;
    for (int k = 0; k < 5; ++k) many.insert(many.end(), c.rows.begin(), c.rows.end());
    for (const auto* x : {&even, &uneven}) {
      expect_rows_as_reference(*x, c.rows, c.what);
      expect_rows_as_reference(*x, many, std::string(c.what) + ", repeated");
      expect_rows_as_reference(*x, {c.rows.begin(), c.rows.begin() + 1},
                               std::string(c.what) + ", one row");
      if (HasFatalFailure()) return;
    }
  }
  // Refused times: every row gets the refusal, no slope is written.
  expect_rows_as_reference({0, 1, 1, 2, 3}, std::vector<std::vector<double>>(6, {1, 2, 3, 4, 5}),
                           "equal times");
  expect_rows_as_reference({0}, std::vector<std::vector<double>>(5, {1}), "one point");
}

// Records of random length and width: times from intake on a rough logarithmic grid (now and
// then refused), rows of every shape random_table makes, some scaled towards the ends of the
// double range, where the secants leave the reciprocal for the division.
TEST_P(RowsInLanes, SameBitsAsTheReferenceOnRandomRecords) {
  Rng rng(2026121);
  for (int record = 0; record < 700; ++record) {
    const int n = rng.one_in(5) ? 2 + rng.below(3) : 2 + rng.below(149);
    std::vector<double> x = random_table(rng, n).x;  // mostly refused: equal or falling times
    if (!rng.one_in(10)) {
      double time = rng.one_in(2) ? 0.0 : rng.unit() * 0.1;
      for (double& xi : x) {
        xi = time;
        time += std::pow(10.0, rng.unit() * 5 - 3);
      }
    }
    const int count = 1 + rng.below(35);
    std::vector<std::vector<double>> rows;
    for (int j = 0; j < count; ++j) {
      std::vector<double> f = random_table(rng, n).f;
      if (rng.one_in(8)) {
        const double scale = std::ldexp(1.0, rng.below(1200) - 600);
        for (double& v : f) v *= scale;
      }
      rows.push_back(std::move(f));
    }
    expect_rows_as_reference(x, rows, "record " + std::to_string(record));
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, RowsInLanes,
                         testing::Values(std::int64_t{HWY_AVX3}, std::int64_t{HWY_AVX2},
                                         std::int64_t{HWY_SSE4}, std::int64_t{HWY_SSSE3},
                                         std::int64_t{0}),
                         [](const testing::TestParamInfo<std::int64_t>& target) {
                           return target.param == 0 ? std::string("Best")
                                                    : std::string(hwy::TargetName(target.param));
                         });

}  // namespace
}  // namespace kestrane
