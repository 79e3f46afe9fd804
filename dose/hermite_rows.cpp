// The fast pass of the record loop: the slopes and integrals of many rate rows that share
// their times, bit for bit what the point-by-point reference gives, with the work that depends
// on the times alone done once per record and the interior slopes formed two points at a time.
#include "dose/hermite_rows.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

// The same order of operations as the reference, so no contraction into fused multiply-adds.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace kestrane {

namespace {

constexpr double kLargestDouble = std::numeric_limits<double>::max();

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
  const double a1 = std::abs(del1);
  const double a2 = std::abs(del2);
  const double dmax = std::max(a1, a2);
  const double dmin = std::min(a1, a2);
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

void HermiteRows::Piece::set(const double* x, int first, double a, double b) {
  left = first;
  zero_width = x[first] == x[first + 1];
  far = !zero_width && hermite_detail::far_from_piece(x[first], x[first + 1], a, b);
  x1 = x[first];
  x2 = x[first + 1];
  lower = a;
  upper = b;
  if (!zero_width) factors.set(x[first], x[first + 1], a, b);
}

double HermiteRows::Piece::integral(const double* f, RowSlopes slopes) const {
  const double d1 = slopes.d[static_cast<std::size_t>(left) * slopes.stride];
  const double d2 = slopes.d[static_cast<std::size_t>(left + 1) * slopes.stride];
  if (zero_width) return 0.0;
  if (far) {
    return hermite_detail::far_piece_integral(x1, x2, f[left], f[left + 1], d1, d2, lower, upper);
  }
  return factors.integral(f[left], f[left + 1], d1, d2);
}

void HermiteRows::prepare(std::span<const double> times, double a, std::span<const double> limits) {
  const int n = static_cast<int>(times.size());
  const double* x = times.data();
  n_ = n;
  a_ = a;
  x_.assign(times.begin(), times.end());
  limits_.assign(limits.size(), Limit{});
  by_ib_.clear();
  left_ = false;
  below_shared_ = false;
  ia_ = 0;
  lane_limits_ = LaneLimits::unknown;

  slope_check_ = SlopeStatus::ok;
  if (n < 2) {
    slope_check_ = SlopeStatus::too_few_points;
  } else {
    for (int i = 1; i < n; ++i) {
      if (!(x[i - 1] < x[i])) {
        slope_check_ = SlopeStatus::times_not_increasing;
        break;
      }
    }
  }
  integral_check_ = hermite_detail::check_integration_times(times);
  if (integral_check_ != IntegralStatus::inside) return;

  // Interval widths, and the weights of the slope formulas where the times strictly increase;
  // each is formed exactly as estimate_monotone_slopes forms it.
  h_.resize(static_cast<std::size_t>(n - 1));
  sixth_.resize(static_cast<std::size_t>(n - 1));
  for (int k = 0; k < n - 1; ++k) {
    h_[k] = x[k + 1] - x[k];
    sixth_[k] = h_[k] / 6.0;
  }
  if (slope_check_ == SlopeStatus::ok && n >= 3) {
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
    inverse_h_.resize(static_cast<std::size_t>(n - 1));
    half_ulp_h_.resize(static_cast<std::size_t>(n - 1));
    reciprocal_ = true;
    for (int k = 0; k < n - 1; ++k) {
      reciprocal_ = reciprocal_ && h_[k] >= 0x1p-200 && h_[k] <= 0x1p200;
      inverse_h_[k] = 1.0 / h_[k];
      half_ulp_h_[k] = h_[k] * 0x1p-53;
    }
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
    int warnings = 0;
    if (a < x[0] || a > x[n - 1]) warnings = warnings + 1;
    if (b < x[0] || b > x[n - 1]) warnings = warnings + 2;
    limit.status = static_cast<IntegralStatus>(warnings);
    if (warnings != 0) set_outside(limit, a, b);
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
      if (left_) left_piece_.set(x, std::max(1, ia_ - 1) - 1, a, x[ia_ - 1]);
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
    if (limit.right) limit.piece.set(x, std::min(ib + 1, n) - 2, x[ib - 1], b);
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

SlopeResult HermiteRows::slopes(std::span<const double> row, std::span<double> slopes) const {
  if (slope_check_ != SlopeStatus::ok) return {slope_check_, 0};
  const double* f = row.data();
  double* d = slopes.data();
  const int n = n_;
  if (n == 2) return slopes_in_order(f, d);
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
    all_finite = all_finite && std::abs(del) <= kLargestDouble;
  }
  // An infinite or NaN secant needs the division of both secants by the larger magnitude at
  // an interior point; such rows (overflowing rates) are left to the point-by-point loop.
  if (!all_finite) return slopes_in_order(f, d);

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

  d[0] = first_w1_ * first_del1 + first_w2_ * first_del2;
  if (sign_of_product(d[0], first_del1) <= 0) {
    d[0] = 0.0;
  } else if (sign_of_product(first_del1, first_del2) < 0) {
    double dmax = 3.0 * first_del1;
    if (std::abs(d[0]) > std::abs(dmax)) d[0] = dmax;
  }
  d[n - 1] = last_w1_ * last_del1 + last_w2_ * last_del2;
  if (sign_of_product(d[n - 1], last_del2) <= 0) {
    d[n - 1] = 0.0;
  } else if (sign_of_product(last_del1, last_del2) < 0) {
    double dmax = 3.0 * last_del2;
    if (std::abs(d[n - 1]) > std::abs(dmax)) d[n - 1] = dmax;
  }
  return {SlopeStatus::ok, changes};
}

SlopeResult HermiteRows::slopes_in_order(const double* f, double* d) const {
  // The rare rows that leave the two-point pass are given to the point-by-point estimate
  // itself, which checks the times once more and is by definition the same to the bit.
  const auto n = static_cast<std::size_t>(n_);
  return estimate_monotone_slopes(x_, {f, n}, {d, n});
}

IntegralStatus HermiteRows::integrate(std::span<const double> row, RowSlopes d,
                                      std::span<double> values,
                                      std::span<IntegralStatus> statuses) const {
  if (limits_.empty()) return IntegralStatus::inside;
  const double* f = row.data();
  double* out = values.data();
  if (integral_check_ != IntegralStatus::inside) {
    for (std::size_t m = 0; m < limits_.size(); ++m) {
      out[m] = 0.0;
      if (!statuses.empty()) statuses[m] = integral_check_;
    }
    return integral_check_;
  }

  // Limits past whole intervals, by ascending ib: the sum over the intervals from ia on runs
  // once, and each limit takes it where its own sum would end.
  if (!by_ib_.empty()) {
    const double left_end = left_ ? left_piece_.integral(f, d) : 0.0;
    double sum = 0.0;
    int k = ia_ - 1;  // the next interval to add, from 0
    const double* dk = d.d + static_cast<std::size_t>(k) * d.stride;  // its slope at the left
    for (const int m : by_ib_) {
      const Limit& limit = limits_[m];
      for (; k <= limit.ib - 2; ++k) {
        const double* dk1 = dk + d.stride;
        sum = sum + h_[k] * ((f[k] + f[k + 1]) + (*dk - *dk1) * sixth_[k]);
        dk = dk1;
      }
      double value = 0.0;
      if (limit.ib > ia_) value = 0.5 * sum;
      if (left_) value = value + left_end;
      if (limit.right) value = value + limit.piece.integral(f, d);
      out[m] = value;
    }
  }
  IntegralStatus status = IntegralStatus::inside;
  for (std::size_t m = 0; m < limits_.size(); ++m) {
    const Limit& limit = limits_[m];
    status = limit.status;
    if (limit.route == Route::piece) {
      out[m] = limit.piece.integral(f, d);
    } else if (limit.route == Route::single_call) {
      const auto n = x_.size();
      if (d.stride != 1) {
        row_d_.resize(n);
        for (std::size_t i = 0; i < n; ++i) row_d_[i] = d.d[i * d.stride];
      }
      const double* slopes = d.stride == 1 ? d.d : row_d_.data();
      const IntegralResult result = integrate_hermite(x_, row.first(n), {slopes, n}, a_, limit.b,
                                                      TimesCheck::checked);  // checked above
      out[m] = result.value;
      status = result.status;
    }
    if (!statuses.empty()) statuses[m] = status;
  }
  return status;
}

void HermiteRows::outside(std::span<const double> row, RowSlopes d,
                          std::span<const double> integrals, std::span<double> parts) const {
  const double* f = row.data();
  double* out = parts.data();
  if (integral_check_ != IntegralStatus::inside) {
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
