// Shape-preserving slopes (Fritsch and Carlson, with Brodlie's interior formula, as in the
// SLATEC PCHIP routines) and the exact integral of the piecewise cubic Hermite interpolant.
// Every operation is written in a fixed order, so the results are the same to the last bit on
// any IEEE machine.
#include "dose/hermite.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

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

double abs_of(double v) { return std::fabs(v); }

constexpr double kLargestDouble = std::numeric_limits<double>::max();

double larger(double a, double b) { return a < b ? b : a; }

double smaller(double a, double b) { return b < a ? b : a; }

int larger(int a, int b) { return a < b ? b : a; }

int smaller(int a, int b) { return b < a ? b : a; }

// Times must not decrease; equal neighbours are allowed (a zero-width interval adds nothing).
// A time that is not a number cannot be placed in order either: it is refused like a
// decrease, since the search for the limits' intervals would otherwise run off the table.
// Returns 0, -1 for fewer than two points, -3 for a decrease or a time that is not a number.
int check_integration_table(int n, const double* x) {
  if (n < 2) return -1;
  for (int i = 1; i < n; ++i) {
    if (!(x[i - 1] <= x[i])) return -3;
  }
  return 0;
}

// sign_product(a, b) as an integer -1, 0 or +1, found by comparisons alone.
int sign_of_product(double a, double b) {
  if (a == 0.0 || b == 0.0) return 0;
  return (a < 0.0) == (b < 0.0) ? 1 : -1;
}

// The slope at an interior point from its finite secants del1 and del2 (Brodlie's weighted
// harmonic mean with the weights wl and wr), 0 unless both are non-zero with the same sign.
// The secant whose magnitude is dmax, divided by dmax, gives exactly 1 with its sign (a finite
// non-zero value divided by its own magnitude): only the other secant is divided.
double interior_slope(double del1, double del2, double wl, double wr) {
  if (sign_of_product(del1, del2) <= 0) return 0.0;
  const double a1 = abs_of(del1);
  const double a2 = abs_of(del2);
  const double dmax = larger(a1, a2);
  const double dmin = smaller(a1, a2);
  double drat1, drat2;
  if (a1 < a2) {
    drat1 = del1 / dmax;
    drat2 = del2 < 0.0 ? -1.0 : 1.0;
  } else {
    drat1 = del1 < 0.0 ? -1.0 : 1.0;
    drat2 = del2 / dmax;
  }
  return dmin / (wl * drat1 + wr * drat2);
}

// Two doubles side by side (the vector extension of GCC and Clang), for two points at once:
// every operation acts on each lane alone and rounds it as the same scalar operation would.
// A comparison gives a mask of all ones (true) or all zeros per lane.
using Pair = double __attribute__((vector_size(16)));
using PairMask = decltype(Pair{} < Pair{});

Pair load_pair(const double* p) {
  Pair v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void store_pair(double* p, Pair v) { std::memcpy(p, &v, sizeof v); }

PairMask bits_of(Pair v) { return std::bit_cast<PairMask>(v); }

Pair pair_of(PairMask m) { return std::bit_cast<Pair>(m); }

// The lanes of a where m is true, of b elsewhere.
Pair select(PairMask m, Pair a, Pair b) { return pair_of((bits_of(a) & m) | (bits_of(b) & ~m)); }

// |v| lane by lane: the sign bit cleared, as fabs clears it.
Pair magnitude(Pair v) {
  const PairMask no_sign = {std::numeric_limits<std::int64_t>::max(),
                            std::numeric_limits<std::int64_t>::max()};
  return pair_of(bits_of(v) & no_sign);
}

// interior_slope at two neighbouring points, every operation of the slope taken in both lanes
// and the results of the untaken branches discarded (they may be NaN from 0 / 0). Where the
// secants are non-zero, +-1 with the sign of a secant is 1 with its sign bit. Counts into
// `opposite` the lanes whose secants are non-zero with different signs and into `restart` those
// where a zero secant is followed by a non-zero one (a count of -1 per lane).
Pair interior_slopes(Pair del1, Pair del2, Pair wl, Pair wr, PairMask& opposite,
                     PairMask& restart) {
  const Pair zero = {0.0, 0.0};
  const Pair one = {1.0, 1.0};
  const PairMask sign_bit = {std::numeric_limits<std::int64_t>::min(),
                             std::numeric_limits<std::int64_t>::min()};
  const PairMask sign1 = bits_of(del1) & sign_bit;
  const PairMask sign2 = bits_of(del2) & sign_bit;
  const Pair a1 = magnitude(del1);
  const Pair a2 = magnitude(del2);
  const PairMask left_smaller = a1 < a2;
  const Pair dmax = select(left_smaller, a2, a1);
  const Pair dmin = select(a2 < a1, a2, a1);
  // Both secants non-zero (the smaller magnitude is), then of the same sign or not.
  const PairMask both_non_zero = dmin > zero;
  const PairMask differ = (del1 < zero) ^ (del2 < zero);
  opposite += both_non_zero & differ;
  restart += (a1 == zero) & (a2 > zero);
  // On a flat stretch (zero rates at the end of a row, say) neither slope needs a division.
  if ((both_non_zero[0] | both_non_zero[1]) == 0) return zero;
  const Pair ratio = select(left_smaller, del1, del2) / dmax;
  const Pair drat1 = select(left_smaller, ratio, pair_of(bits_of(one) | sign1));
  const Pair drat2 = select(left_smaller, pair_of(bits_of(one) | sign2), ratio);
  const Pair mean = dmin / (wl * drat1 + wr * drat2);
  return pair_of(bits_of(mean) & both_non_zero & ~differ);
}

}  // namespace

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

double transfer_sign(double m, double s) { return s < 0.0 ? -abs_of(m) : abs_of(m); }

double sign_product(double a, double b) {
  double result = transfer_sign(1.0, b) * transfer_sign(1.0, a);
  if (a == 0.0 || b == 0.0) result = 0.0;
  return result;
}

void estimate_monotone_slopes(int n, const double* x, const double* f, double* d, int& status) {
  if (n < 2) {
    status = -1;
    return;
  }
  // Strictly increasing times: a NaN time fails this test as well.
  for (int i = 1; i < n; ++i) {
    if (!(x[i - 1] < x[i])) {
      status = -3;
      return;
    }
  }
  status = 0;

  double h1 = x[1] - x[0];
  double del1 = (f[1] - f[0]) / h1;
  double dsave = del1;
  if (n == 2) {
    // Two points: the straight line through them.
    d[0] = del1;
    d[1] = del1;
    return;
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
    if (abs_of(d[0]) > abs_of(dmax)) d[0] = dmax;
  }

  // Interior points: weighted harmonic mean of the neighbouring secants where the data run
  // strictly one way through the point, 0 at extrema and next to flat intervals. The status
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
      status = status + 1;
      dsave = del2;
    } else if (s == 0.0) {
      if (del2 != 0.0) {
        if (sign_product(dsave, del2) < 0.0) status = status + 1;
        dsave = del2;
      }
    } else {
      double hsumt3 = hsum + hsum + hsum;
      double wl = (hsum + h1) / hsumt3;
      double wr = (hsum + h2) / hsumt3;
      double dmax = larger(abs_of(del1), abs_of(del2));
      double dmin = smaller(abs_of(del1), abs_of(del2));
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
    if (abs_of(d[n - 1]) > abs_of(dmax)) d[n - 1] = dmax;
  }
}

double integrate_cubic_piece(double x1, double x2, double f1, double f2, double d1, double d2,
                             double a, double b) {
  if (x1 == x2) return 0.0;
  hermite_detail::CubicFactors factors;
  factors.set(x1, x2, a, b);
  return factors.integral(f1, f2, d1, d2);
}

double integrate_between_nodes(int n, const double* x, const double* f, const double* d, int& skip,
                               int ia, int ib, int& status) {
  if (skip == 0) {
    int check = check_integration_table(n, x);
    if (check != 0) {
      status = check;
      return 0.0;
    }
  }
  skip = 1;
  if (ia < 1 || ia > n || ib < 1 || ib > n) {
    status = -4;
    return 0.0;
  }
  status = 0;
  if (ia == ib) return 0.0;

  // Whole intervals: h/2 (f(i) + f(i+1)) + h^2/12 (d(i) - d(i+1)) each, summed left to right.
  int low = smaller(ia, ib);
  int up = larger(ia, ib) - 1;
  double sum = 0.0;
  for (int i = low; i <= up; ++i) {
    double h = x[i] - x[i - 1];
    sum = sum + h * ((f[i - 1] + f[i]) + (d[i - 1] - d[i]) * (h / 6.0));
  }
  double value = 0.5 * sum;
  if (ib < ia) value = -value;
  return value;
}

double integrate_hermite(int n, const double* x, const double* f, const double* d, int& skip,
                         double a, double b, int& status) {
  if (skip == 0) {
    int check = check_integration_table(n, x);
    if (check != 0) {
      status = check;
      return 0.0;
    }
  }
  skip = 1;
  status = 0;
  if (a < x[0] || a > x[n - 1]) status = status + 1;
  if (b < x[0] || b > x[n - 1]) status = status + 2;
  if (a == b) return 0.0;

  double xa = smaller(a, b);
  double xb = larger(a, b);

  // Both limits on the first piece, or both on the last: that piece alone, extended beyond
  // the table when a limit lies outside it. The limits go in their given order.
  if (xb <= x[1]) return integrate_cubic_piece(x[0], x[1], f[0], f[1], d[0], d[1], a, b);
  if (xa >= x[n - 2]) {
    return integrate_cubic_piece(x[n - 2], x[n - 1], f[n - 2], f[n - 1], d[n - 2], d[n - 1], a, b);
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
    return integrate_cubic_piece(x[ib - 1], x[ia - 1], f[ib - 1], f[ia - 1], d[ib - 1], d[ia - 1],
                                 a, b);
  }

  double value = 0.0;
  if (ib > ia) {
    int nodes_status = 0;
    value = integrate_between_nodes(n, x, f, d, skip, ia, ib, nodes_status);
    if (nodes_status < 0) {
      status = -5;
      return 0.0;
    }
  }
  if (xa < x[ia - 1]) {
    // Left end, on the piece that holds xa (the first piece, extended, below the table).
    int il = larger(1, ia - 1);
    int ir = il + 1;
    value = value + integrate_cubic_piece(x[il - 1], x[ir - 1], f[il - 1], f[ir - 1], d[il - 1],
                                          d[ir - 1], xa, x[ia - 1]);
  }
  if (xb > x[ib - 1]) {
    // Right end, on the piece that holds xb (the last piece, extended, above the table).
    int ir = smaller(ib + 1, n);
    int il = ir - 1;
    value = value + integrate_cubic_piece(x[il - 1], x[ir - 1], f[il - 1], f[ir - 1], d[il - 1],
                                          d[ir - 1], x[ib - 1], xb);
  }
  if (a > b) value = -value;
  return value;
}

void HermiteRows::Piece::set(const double* x, int first, double a, double b) {
  left = first;
  zero_width = x[first] == x[first + 1];
  if (!zero_width) factors.set(x[first], x[first + 1], a, b);
}

double HermiteRows::Piece::integral(const double* f, const double* d) const {
  if (zero_width) return 0.0;
  return factors.integral(f[left], f[left + 1], d[left], d[left + 1]);
}

void HermiteRows::prepare(int n, const double* x, double a, std::span<const double> limits) {
  n_ = n;
  a_ = a;
  x_.assign(x, x + larger(n, 0));
  limits_.assign(limits.size(), Limit{});
  by_ib_.clear();
  left_ = false;
  below_shared_ = false;
  ia_ = 0;

  slope_check_ = 0;
  if (n < 2) {
    slope_check_ = -1;
  } else {
    for (int i = 1; i < n; ++i) {
      if (!(x[i - 1] < x[i])) {
        slope_check_ = -3;
        break;
      }
    }
  }
  integral_check_ = check_integration_table(n, x);
  if (integral_check_ != 0) return;

  // Interval widths, and the weights of the slope formulas where the times strictly increase;
  // each is formed exactly as estimate_monotone_slopes forms it.
  h_.resize(static_cast<std::size_t>(n - 1));
  sixth_.resize(static_cast<std::size_t>(n - 1));
  for (int k = 0; k < n - 1; ++k) {
    h_[k] = x[k + 1] - x[k];
    sixth_[k] = h_[k] / 6.0;
  }
  if (slope_check_ == 0 && n >= 3) {
    wl_.resize(static_cast<std::size_t>(n));
    wr_.resize(static_cast<std::size_t>(n));
    double h1 = h_[0];
    double hsum = h1 + h_[1];
    first_w1_ = (h1 + hsum) / hsum;
    first_w2_ = -h1 / hsum;
    for (int i = 1; i < n - 1; ++i) {
      h1 = h_[i - 1];
      const double h2 = h_[i];
      hsum = h1 + h2;
      const double hsumt3 = hsum + hsum + hsum;
      wl_[i] = (hsum + h1) / hsumt3;
      wr_[i] = (hsum + h2) / hsumt3;
    }
    const double h2 = h_[n - 2];
    hsum = h_[n - 3] + h2;
    last_w1_ = -h2 / hsum;
    last_w2_ = (h2 + hsum) / hsum;
  }

  // The limits take integrate_hermite's own route where the times are in order (no NaN among
  // them, so that its scans for ia and ib are searches of a sorted table) and the upper limit
  // lies above a; any other limit is left to a call of integrate_hermite itself.
  bool ordered = true;
  for (int i = 1; i < n; ++i) {
    if (!(x[i - 1] <= x[i])) ordered = false;
  }
  for (std::size_t m = 0; m < limits.size(); ++m) {
    const double b = limits[m];
    Limit& limit = limits_[m];
    limit.b = b;
    limit.status = 0;
    if (a < x[0] || a > x[n - 1]) limit.status = limit.status + 1;
    if (b < x[0] || b > x[n - 1]) limit.status = limit.status + 2;
    if (limit.status != 0) set_outside(limit, a, b);
    if (!ordered || !(b > a)) continue;  // Route::single_call
    if (b <= x[1]) {
      limit.route = Route::piece;
      limit.piece.set(x, 0, a, b);
      continue;
    }
    if (a >= x[n - 2]) {
      limit.route = Route::piece;
      limit.piece.set(x, n - 2, a, b);
      continue;
    }
    if (ia_ == 0) {
      // 1 + the number of x(1..n-1) below a: the last i < n with a > x(i), plus one.
      ia_ = 1 + static_cast<int>(std::lower_bound(x, x + n - 1, a) - x);
      left_ = a < x[ia_ - 1];
      if (left_) left_piece_.set(x, larger(1, ia_ - 1) - 1, a, x[ia_ - 1]);
    }
    // The first position from ia on whose time lies above b, less one; n when there is none.
    const int ib = static_cast<int>(std::upper_bound(x + ia_ - 1, x + n, b) - x);
    if (ib < ia_) {
      // Both limits inside the one interval [x(ib), x(ia)], ib = ia - 1.
      limit.route = Route::piece;
      limit.piece.set(x, ib - 1, a, b);
      continue;
    }
    limit.route = Route::nodes;
    limit.ib = ib;
    limit.right = b > x[ib - 1];
    if (limit.right) limit.piece.set(x, smaller(ib + 1, n) - 2, x[ib - 1], b);
    by_ib_.push_back(static_cast<int>(m));
  }
  std::sort(by_ib_.begin(), by_ib_.end(),
            [this](int p, int q) { return limits_[p].ib < limits_[q].ib; });
}

void HermiteRows::set_outside(Limit& limit, double a, double b) {
  const double* x = x_.data();
  const int n = n_;
  const double lo = std::min(a, b);
  const double hi = std::max(a, b);
  if (a == b || std::isnan(a) || std::isnan(b)) return;  // nothing, or no place in the table
  if (hi <= x[0] || lo >= x[n - 1]) {
    limit.outside = Limit::Outside::whole;
    return;
  }
  limit.outside = Limit::Outside::ends;
  limit.sign = b < a ? -1.0 : 1.0;
  if (lo < x[0]) {
    if (lo == a) {
      limit.below_shared = true;
      if (!below_shared_) below_shared_piece_.set(x, 0, a, x[0]);
      below_shared_ = true;
    } else {
      limit.below_own = true;
      limit.below_piece.set(x, 0, lo, x[0]);
    }
  }
  if (hi > x[n - 1]) {
    limit.above = true;
    limit.above_piece.set(x, n - 2, x[n - 1], hi);
  }
}

void HermiteRows::slopes(const double* f, double* d, int& status) const {
  if (slope_check_ != 0) {
    status = slope_check_;
    return;
  }
  const int n = n_;
  if (n == 2) {
    slopes_in_order(f, d, status);
    return;
  }
  const double* h = h_.data();

  // The secants del(k) = (f(k + 1) - f(k)) / h(k), each formed once and kept in d[k + 1] until
  // the slope at point k + 1 replaces it; the point-by-point loop forms each twice, as the right
  // secant of one point and the left one of the next, the same way both times.
  double* secant = d + 1;
  const Pair largest = {kLargestDouble, kLargestDouble};
  PairMask finite = {-1, -1};
  int k = 0;
  for (; k + 2 <= n - 1; k += 2) {
    const Pair del = (load_pair(f + k + 1) - load_pair(f + k)) / load_pair(h + k);
    store_pair(secant + k, del);
    finite &= magnitude(del) <= largest;
  }
  bool all_finite = finite[0] != 0 && finite[1] != 0;
  for (; k < n - 1; ++k) {
    const double del = (f[k + 1] - f[k]) / h[k];
    secant[k] = del;
    all_finite = all_finite && abs_of(del) <= kLargestDouble;
  }
  // An infinite or NaN secant needs the division of both secants by the larger magnitude at
  // an interior point; such rows (overflowing rates) are left to the point-by-point loop.
  if (!all_finite) {
    slopes_in_order(f, d, status);
    return;
  }

  const double first_del1 = secant[0];
  const double first_del2 = secant[1];
  const double last_del1 = secant[n - 3];
  const double last_del2 = secant[n - 2];

  // Interior points, two at a time: point i reads d[i] and d[i + 1] (its two secants) before
  // it writes d[i]. The changes of direction are the neighbours of opposite sign in the
  // sequence of the non-zero secants (the point-by-point loop's dsave always has the sign of
  // the last non-zero secant before the point, or is 0 while there is none). While no zero
  // secant is followed by a non-zero one, the non-zero secants are all neighbours.
  const double* wl = wl_.data();
  const double* wr = wr_.data();
  PairMask opposite = {0, 0};
  PairMask restart = {0, 0};
  int i = 1;
  for (; i + 2 <= n - 1; i += 2) {
    store_pair(d + i, interior_slopes(load_pair(d + i), load_pair(d + i + 1), load_pair(wl + i),
                                      load_pair(wr + i), opposite, restart));
  }
  int changes = static_cast<int>(-(opposite[0] + opposite[1]));
  bool restarts = restart[0] != 0 || restart[1] != 0;
  for (; i < n - 1; ++i) {
    const double del1 = d[i];
    const double del2 = d[i + 1];
    if (sign_of_product(del1, del2) < 0) changes = changes + 1;
    if (del1 == 0.0 && del2 != 0.0) restarts = true;
    d[i] = interior_slope(del1, del2, wl[i], wr[i]);
  }
  if (restarts) {
    // Zeros between non-zero secants: the count follows the last non-zero secant, each
    // secant formed again as above.
    changes = 0;
    int last_sign = 0;
    for (int j = 0; j < n - 1; ++j) {
      const double del = (f[j + 1] - f[j]) / h[j];
      const int sign = (del > 0.0) - (del < 0.0);
      changes = changes + (sign * last_sign < 0);
      last_sign = sign != 0 ? sign : last_sign;
    }
  }
  status = changes;

  d[0] = first_w1_ * first_del1 + first_w2_ * first_del2;
  if (sign_of_product(d[0], first_del1) <= 0) {
    d[0] = 0.0;
  } else if (sign_of_product(first_del1, first_del2) < 0) {
    double dmax = 3.0 * first_del1;
    if (abs_of(d[0]) > abs_of(dmax)) d[0] = dmax;
  }
  d[n - 1] = last_w1_ * last_del1 + last_w2_ * last_del2;
  if (sign_of_product(d[n - 1], last_del2) <= 0) {
    d[n - 1] = 0.0;
  } else if (sign_of_product(last_del1, last_del2) < 0) {
    double dmax = 3.0 * last_del2;
    if (abs_of(d[n - 1]) > abs_of(dmax)) d[n - 1] = dmax;
  }
}

void HermiteRows::slopes_in_order(const double* f, double* d, int& status) const {
  // The rare rows that leave the two-point pass are given to the point-by-point estimate
  // itself, which checks the times once more and is by definition the same to the bit.
  estimate_monotone_slopes(n_, x_.data(), f, d, status);
}

void HermiteRows::integrate(const double* f, const double* d, double* out, int& status,
                            int* statuses) const {
  if (limits_.empty()) return;
  if (integral_check_ != 0) {
    for (std::size_t m = 0; m < limits_.size(); ++m) {
      out[m] = 0.0;
      if (statuses != nullptr) statuses[m] = integral_check_;
    }
    status = integral_check_;
    return;
  }

  // Limits past whole intervals, by ascending ib: the sum over the intervals from ia on runs
  // once, and each limit takes it where its own sum would end.
  if (!by_ib_.empty()) {
    const double left_end = left_ ? left_piece_.integral(f, d) : 0.0;
    double sum = 0.0;
    int k = ia_ - 1;  // the next interval to add, from 0
    for (const int m : by_ib_) {
      const Limit& limit = limits_[m];
      for (; k <= limit.ib - 2; ++k) {
        sum = sum + h_[k] * ((f[k] + f[k + 1]) + (d[k] - d[k + 1]) * sixth_[k]);
      }
      double value = 0.0;
      if (limit.ib > ia_) value = 0.5 * sum;
      if (left_) value = value + left_end;
      if (limit.right) value = value + limit.piece.integral(f, d);
      out[m] = value;
    }
  }
  for (std::size_t m = 0; m < limits_.size(); ++m) {
    const Limit& limit = limits_[m];
    int limit_status = limit.status;
    if (limit.route == Route::piece) {
      out[m] = limit.piece.integral(f, d);
    } else if (limit.route == Route::single_call) {
      int skip = 1;  // validated above
      out[m] = integrate_hermite(n_, x_.data(), f, d, skip, a_, limit.b, limit_status);
    }
    if (statuses != nullptr) statuses[m] = limit_status;
    status = limit_status;
  }
}

void HermiteRows::outside(const double* f, const double* d, const double* integrals,
                          double* out) const {
  if (integral_check_ != 0) {
    std::fill_n(out, limits_.size(), 0.0);
    return;
  }
  const double below = below_shared_ ? below_shared_piece_.integral(f, d) : 0.0;
  for (std::size_t m = 0; m < limits_.size(); ++m) {
    const Limit& limit = limits_[m];
    double value = 0.0;
    if (limit.outside == Limit::Outside::whole) {
      value = integrals[m];
    } else if (limit.outside == Limit::Outside::ends) {
      if (limit.below_shared) value = below;
      if (limit.below_own) value = limit.below_piece.integral(f, d);
      if (limit.above) value = value + limit.above_piece.integral(f, d);
      value = limit.sign * value;
    }
    out[m] = value;
  }
}

}  // namespace kestrane
