// Shape-preserving slopes (Fritsch and Carlson, with Brodlie's interior formula, as in the
// SLATEC PCHIP routines) and the exact integral of the piecewise cubic Hermite interpolant,
// point by point: the reference that the fast pass of dose/hermite_rows.h must match.
// Every operation is written in a fixed order, so the results are the same to the last bit on
// any IEEE machine.
#include "dose/hermite.h"

#include <algorithm>
#include <cmath>

// A fused multiply-add rounds once where the order of operations above rounds twice, so the
// compiler must not contract a product and a sum into one; otherwise a target with FMA
// instructions would give different last bits.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace kestrane {

namespace {

// The range warnings of the limits a and b: 1 when a lies outside [x(1), x(n)], plus 2 when b
// does.
IntegralStatus range_warnings(std::span<const double> x, double a, double b) {
  int status = 0;
  if (a < x.front() || a > x.back()) status = status + 1;
  if (b < x.front() || b > x.back()) status = status + 2;
  return static_cast<IntegralStatus>(status);
}

// A double-double number: hi + lo with |lo| at most half an ulp of hi, about 106 bits.
struct Wide {
  double hi = 0.0, lo = 0.0;
};

// a + b exactly, as a rounded sum and its error.
Wide two_sum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

// The same where |a| >= |b| (or a is 0).
Wide fast_two_sum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

// a * b exactly: the fused multiply-add gives the error of the rounded product.
Wide two_product(double a, double b) {
  const double p = a * b;
  return {p, std::fma(a, b, -p)};
}

Wide operator+(Wide a, Wide b) {
  Wide s = two_sum(a.hi, b.hi);
  const Wide t = two_sum(a.lo, b.lo);
  s = fast_two_sum(s.hi, s.lo + t.hi);
  return fast_two_sum(s.hi, s.lo + t.lo);
}

Wide operator-(Wide a) { return {-a.hi, -a.lo}; }
Wide operator-(Wide a, Wide b) { return a + -b; }

Wide operator*(Wide a, Wide b) {
  const Wide p = two_product(a.hi, b.hi);
  return fast_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

Wide operator*(Wide a, double b) { return a * Wide{b, 0.0}; }

// a / b by a first quotient and two corrections, each from the exact remainder.
Wide operator/(Wide a, Wide b) {
  const double q1 = a.hi / b.hi;
  Wide r = a - b * q1;
  const double q2 = r.hi / b.hi;
  r = r - b * q2;
  const double q3 = r.hi / b.hi;
  return fast_two_sum(q1, q2) + Wide{q3, 0.0};
}

// The integral from the expansion point (0) to u (in widths h) of c0 + c1 u + c2 u^2 + c3 u^3,
// by Horner's rule: h u (c0 + u (c1 / 2 + u (c2 / 3 + u c3 / 4))).
Wide expanded_integral(Wide h, Wide u, double c0, Wide c1, Wide c2, Wide c3) {
  Wide inner = c2 / Wide{3.0, 0.0} + u * (c3 * 0.25);
  inner = c1 * 0.5 + u * inner;
  inner = Wide{c0, 0.0} + u * inner;
  return h * u * inner;
}

}  // namespace

// The cubic of the piece in widths from either end, with e1 = h d1, e2 = h d2 and
// delta = f2 - f1, all exact in double-double:
//   about x1, v = (t - x1) / h: f1 + e1 v + (3 delta - 2 e1 - e2) v^2 + c v^3,
//   about x2, u = (t - x2) / h: f2 + e2 u + (e1 + 2 e2 - 3 delta) u^2 + c u^3,
// with c = e1 + e2 - 2 delta in both. Each limit's antiderivative from x1 is taken from the
// expansion about its nearer end, so a limit far beyond x2 sees only the terms of the far
// end's expansion, which grow together instead of cancelling; the whole piece (the
// expansion about x1 at v = 1) is added for a limit nearer x2.
double hermite_detail::far_piece_integral(double x1, double x2, double f1, double f2, double d1,
                                          double d2, double a, double b) {
  const Wide h = two_sum(x2, -x1);
  const Wide e1 = h * d1;
  const Wide e2 = h * d2;
  const Wide delta = two_sum(f2, -f1);
  const Wide cubic = e1 + e2 - delta * 2.0;
  const Wide square_from_x1 = delta * 3.0 - e1 * 2.0 - e2;
  const Wide square_from_x2 = e1 + e2 * 2.0 - delta * 3.0;
  const Wide whole = expanded_integral(h, Wide{1.0, 0.0}, f1, e1, square_from_x1, cubic);
  auto from_x1 = [&](double t) {
    const Wide to_x1 = two_sum(t, -x1);
    const Wide to_x2 = two_sum(t, -x2);
    if (std::abs(to_x1.hi) <= std::abs(to_x2.hi)) {
      return expanded_integral(h, to_x1 / h, f1, e1, square_from_x1, cubic);
    }
    return whole + expanded_integral(h, to_x2 / h, f2, e2, square_from_x2, cubic);
  };
  const Wide result = from_x1(b) - from_x1(a);
  return result.hi + result.lo;
}

// Times must not decrease; equal neighbours are allowed (a zero-width interval adds nothing).
// A time that is not a number cannot be placed in order either: it is refused like a
// decrease, since the search for the limits' intervals would otherwise run off the table.
IntegralStatus hermite_detail::check_integration_times(std::span<const double> x) {
  if (x.size() < 2) return IntegralStatus::too_few_points;
  for (std::size_t i = 1; i < x.size(); ++i) {
    if (!(x[i - 1] <= x[i])) return IntegralStatus::times_decrease;
  }
  return IntegralStatus::inside;
}

// The antiderivative in the two local coordinates t1 = (t - x1) / h and t2 = (x2 - t) / h,
// taken at a and at b; the cubes are products so that no library power function enters.
void hermite_detail::CubicFactors::set(double x1, double x2, double a, double b) {
  double h = x2 - x1;
  double ta1 = (a - x1) / h;
  double ta2 = (x2 - a) / h;
  double tb1 = (b - x1) / h;
  double tb2 = (x2 - b) / h;

  double ua1 = ta1 * ta1 * ta1;
  double phia1 = ua1 * (2.0 - ta1);
  double psia1 = ua1 * (3.0 * ta1 - 4.0);
  double ua2 = ta2 * ta2 * ta2;
  double phia2 = ua2 * (2.0 - ta2);
  double psia2 = -ua2 * (3.0 * ta2 - 4.0);
  double ub1 = tb1 * tb1 * tb1;
  double phib1 = ub1 * (2.0 - tb1);
  double psib1 = ub1 * (3.0 * tb1 - 4.0);
  double ub2 = tb2 * tb2 * tb2;
  double phib2 = ub2 * (2.0 - tb2);
  double psib2 = -ub2 * (3.0 * tb2 - 4.0);

  f1 = phia2 - phib2;
  f2 = phib1 - phia1;
  d1 = psia2 - psib2;
  d2 = psib1 - psia1;
  sixth = h / 6.0;
  half = h * 0.5;
}

double hermite_detail::CubicFactors::integral(double fv1, double fv2, double dv1,
                                              double dv2) const {
  double fterm = fv1 * f1 + fv2 * f2;
  double dterm = (dv1 * d1 + dv2 * d2) * sixth;
  return half * (fterm + dterm);
}

double transfer_sign(double m, double s) { return s < 0.0 ? -std::abs(m) : std::abs(m); }

double sign_product(double a, double b) {
  double result = transfer_sign(1.0, b) * transfer_sign(1.0, a);
  if (a == 0.0 || b == 0.0) result = 0.0;
  return result;
}

SlopeResult estimate_monotone_slopes(std::span<const double> x, std::span<const double> f,
                                     std::span<double> d) {
  const int n = static_cast<int>(x.size());
  if (n < 2) return {SlopeStatus::too_few_points, 0};
  // Strictly increasing times: a NaN time fails this test as well.
  for (int i = 1; i < n; ++i) {
    if (!(x[i - 1] < x[i])) return {SlopeStatus::times_not_increasing, 0};
  }
  int changes = 0;

  double h1 = x[1] - x[0];
  double del1 = (f[1] - f[0]) / h1;
  double dsave = del1;
  if (n == 2) {
    // Two points: the straight line through them.
    d[0] = del1;
    d[1] = del1;
    return {SlopeStatus::ok, 0};
  }
  double h2 = x[2] - x[1];
  double del2 = (f[2] - f[1]) / h2;
  double hsum = h1 + h2;

  // First point: non-centred three-point formula, then kept in the direction of the first
  // secant and, where the data turn at the second point, within three times that secant.
  double w1 = (h1 + hsum) / hsum;
  double w2 = -h1 / hsum;
  d[0] = w1 * del1 + w2 * del2;
  if (sign_product(d[0], del1) <= 0.0) {
    d[0] = 0.0;
  } else if (sign_product(del1, del2) < 0.0) {
    double dmax = 3.0 * del1;
    if (std::abs(d[0]) > std::abs(dmax)) d[0] = dmax;
  }

  // Interior points: weighted harmonic mean of the neighbouring secants where the data run
  // strictly one way through the point, 0 at extrema and next to flat intervals. `changes`
  // counts the changes of direction; dsave keeps the last non-zero secant.
  for (int i = 1; i < n - 1; ++i) {
    if (i > 1) {
      h1 = h2;
      h2 = x[i + 1] - x[i];
      hsum = h1 + h2;
      del1 = del2;
      del2 = (f[i + 1] - f[i]) / h2;
    }
    d[i] = 0.0;
    double s = sign_product(del1, del2);
    if (s < 0.0) {
      changes = changes + 1;
      dsave = del2;
    } else if (s == 0.0) {
      if (del2 != 0.0) {
        if (sign_product(dsave, del2) < 0.0) changes = changes + 1;
        dsave = del2;
      }
    } else {
      double hsumt3 = hsum + hsum + hsum;
      double wl = (hsum + h1) / hsumt3;
      double wr = (hsum + h2) / hsumt3;
      double dmax = std::max(std::abs(del1), std::abs(del2));
      double dmin = std::min(std::abs(del1), std::abs(del2));
      double drat1 = del1 / dmax;
      double drat2 = del2 / dmax;
      d[i] = dmin / (wl * drat1 + wr * drat2);
    }
  }

  // Last point: the mirror image of the first, on the last two intervals.
  w1 = -h2 / hsum;
  w2 = (h2 + hsum) / hsum;
  d[n - 1] = w1 * del1 + w2 * del2;
  if (sign_product(d[n - 1], del2) <= 0.0) {
    d[n - 1] = 0.0;
  } else if (sign_product(del1, del2) < 0.0) {
    double dmax = 3.0 * del2;
    if (std::abs(d[n - 1]) > std::abs(dmax)) d[n - 1] = dmax;
  }
  return {SlopeStatus::ok, changes};
}

double integrate_cubic_piece(double x1, double x2, double f1, double f2, double d1, double d2,
                             double a, double b) {
  if (x1 == x2) return 0.0;
  if (hermite_detail::far_from_piece(x1, x2, a, b)) {
    return hermite_detail::far_piece_integral(x1, x2, f1, f2, d1, d2, a, b);
  }
  hermite_detail::CubicFactors factors;
  factors.set(x1, x2, a, b);
  return factors.integral(f1, f2, d1, d2);
}

IntegralResult integrate_between_nodes(std::span<const double> x, std::span<const double> f,
                                       std::span<const double> d, int ia, int ib,
                                       TimesCheck check) {
  if (check == TimesCheck::check) {
    const IntegralStatus times = hermite_detail::check_integration_times(x);
    if (times != IntegralStatus::inside) return {0.0, times};
  }
  const int n = static_cast<int>(x.size());
  if (ia < 1 || ia > n || ib < 1 || ib > n) return {0.0, IntegralStatus::position_outside};
  if (ia == ib) return {0.0, IntegralStatus::inside};

  // Whole intervals: h/2 (f(i) + f(i+1)) + h^2/12 (d(i) - d(i+1)) each, summed left to right.
  int low = std::min(ia, ib);
  int up = std::max(ia, ib) - 1;
  double sum = 0.0;
  for (int i = low; i <= up; ++i) {
    double h = x[i] - x[i - 1];
    sum = sum + h * ((f[i - 1] + f[i]) + (d[i - 1] - d[i]) * (h / 6.0));
  }
  double value = 0.5 * sum;
  if (ib < ia) value = -value;
  return {value, IntegralStatus::inside};
}

IntegralResult integrate_hermite(std::span<const double> x, std::span<const double> f,
                                 std::span<const double> d, double a, double b, TimesCheck check) {
  if (check == TimesCheck::check) {
    const IntegralStatus times = hermite_detail::check_integration_times(x);
    if (times != IntegralStatus::inside) return {0.0, times};
  }
  const int n = static_cast<int>(x.size());
  const IntegralStatus status = range_warnings(x, a, b);
  if (a == b) return {0.0, status};

  double xa = std::min(a, b);
  double xb = std::max(a, b);

  // Both limits on the first piece, or both on the last: that piece alone, extended beyond
  // the table when a limit lies outside it. The limits go in their given order.
  if (xb <= x[1]) return {integrate_cubic_piece(x[0], x[1], f[0], f[1], d[0], d[1], a, b), status};
  if (xa >= x[n - 2]) {
    return {integrate_cubic_piece(x[n - 2], x[n - 1], f[n - 2], f[n - 1], d[n - 2], d[n - 1], a, b),
            status};
  }

  // ia: the first position whose time is not below xa (1 when xa lies below the table).
  int ia = 1;
  for (int i = 1; i <= n - 1; ++i) {
    if (xa > x[i - 1]) ia = i + 1;
  }
  // ib: the last position whose time is not above xb (n when xb lies above the table).
  int ib = n;
  for (int i = n; i >= ia; --i) {
    if (xb < x[i - 1]) ib = i - 1;
  }

  if (ib < ia) {
    // Both limits inside the one interval [x(ib), x(ia)].
    return {integrate_cubic_piece(x[ib - 1], x[ia - 1], f[ib - 1], f[ia - 1], d[ib - 1], d[ia - 1],
                                  a, b),
            status};
  }

  double value = 0.0;
  if (ib > ia) {
    const IntegralResult nodes = integrate_between_nodes(x, f, d, ia, ib, TimesCheck::checked);
    if (refused(nodes.status)) return {0.0, IntegralStatus::sum_failed};
    value = nodes.value;
  }
  if (xa < x[ia - 1]) {
    // Left end, on the piece that holds xa (the first piece, extended, below the table).
    int il = std::max(1, ia - 1);
    int ir = il + 1;
    value = value + integrate_cubic_piece(x[il - 1], x[ir - 1], f[il - 1], f[ir - 1], d[il - 1],
                                          d[ir - 1], xa, x[ia - 1]);
  }
  if (xb > x[ib - 1]) {
    // Right end, on the piece that holds xb (the last piece, extended, above the table).
    int ir = std::min(ib + 1, n);
    int il = ir - 1;
    value = value + integrate_cubic_piece(x[il - 1], x[ir - 1], f[il - 1], f[ir - 1], d[il - 1],
                                          d[ir - 1], x[ib - 1], xb);
  }
  if (a > b) value = -value;
  return {value, status};
}

}  // namespace kestrane
