// The slopes and integrals of many rate rows at once, one row per lane: every operation of the
// point-by-point reference (dose/hermite.cpp) taken lane by lane in the same order, so that
// each lane rounds as the scalar operation does. Compiled once per processor target by
// Highway; the best target of the processor is chosen at run time. Built without contraction
// of products and sums into fused multiply-adds; the only fused operations are the explicit
// ones that check a secant formed from a reciprocal. The members of HermiteRows that hand the
// rows to the lanes are defined here too, at the end.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "dose/hermite_lanes.cpp"
#include "dose/hermite_lanes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "dose/hermite_rows.h"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

// No contraction of products and sums (the build turns it off for GCC as well).
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#endif

HWY_BEFORE_NAMESPACE();
namespace kestrane::hermite_lanes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using D = hn::ScalableTag<double>;
using V = hn::Vec<D>;
using M = hn::Mask<D>;

// The secant dF / h(k) of every lane. Where the processor fuses multiply-adds and the widths
// allow it, the quotient q is formed from the reciprocal y = 1 / h (q = dF y, corrected once
// by the remainder dF - q h) and kept only when its remainder shows it to be the correctly
// rounded quotient, which is what the division gives:
//   |dF - q h| < h ulp(q) / 2 (h ulp(q) / 4 when q is a power of two, whose lower neighbour is
//   nearer) means that no other double lies as near dF / h. The remainder is rounded once by
//   the fused operation, and rounding cannot carry a value across the threshold, which is
//   exact (a power of two times h 2^-53), so the test never passes a wrong quotient.
// The half-ulp of q comes from the exponent of the double just below |q|, which is q's own
// except at a power of two. With |dF| within 2^-500..2^500 (or 0, whose quotient is exact)
// and the widths within 2^-200..2^200, nothing over- or underflows. Any lane that fails sends
// the whole vector to the division. Only with AVX-512: with AVX2 (measured on 60 rows of 150
// points, GCC 12, 2026-12-10) the checks cost more than the division, about 28 us against 24.
HWY_INLINE V secants(D d, V df, const SlopeTimes& t, int k) {
  const V h = hn::Set(d, t.h[k]);
#if HWY_NATIVE_FMA && HWY_CAP_GE512
  if (t.inverse_h != nullptr) {
    const hn::RebindToUnsigned<D> du;
    const V y = hn::Set(d, t.inverse_h[k]);
    V q = hn::Mul(df, y);
    q = hn::MulAdd(hn::NegMulAdd(q, h, df), y, q);
    const V r = hn::NegMulAdd(q, h, df);
    const auto below = hn::Sub(hn::BitCast(du, q), hn::Set(du, 1));
    const V exponent = hn::BitCast(d, hn::And(below, hn::Set(du, 0x7FF0000000000000ULL)));
    const V threshold = hn::Mul(exponent, hn::Set(d, t.half_ulp_h[k]));
    const V size = hn::Abs(df);
    const M in_range = hn::And(hn::Le(size, hn::Set(d, 0x1p500)),
                               hn::Or(hn::Ge(size, hn::Set(d, 0x1p-500)), hn::Eq(df, hn::Zero(d))));
    if (hn::AllTrue(d, hn::And(in_range, hn::Lt(hn::Abs(r), threshold)))) return q;
  }
#endif
  return hn::Div(df, h);
}

// The end formula: s = w1 del1 + w2 del2, 0 unless it has the sign of `near` (the secant of
// the end interval), and within 3 near where the secants differ in sign. Signs as
// sign_product sees them: negative is below 0, and 0 has none.
HWY_INLINE V end_slope(D d, V w1, V del1, V w2, V del2, V near, V far) {
  const V zero = hn::Zero(d);
  const V s = hn::Add(hn::Mul(w1, del1), hn::Mul(w2, del2));
  const M near_negative = hn::Lt(near, zero);
  const M against =
      hn::Or(hn::Or(hn::Eq(s, zero), hn::Eq(near, zero)), hn::Xor(hn::Lt(s, zero), near_negative));
  const M turn =
      hn::And(hn::Ne(far, zero), hn::Xor(near_negative, hn::Lt(far, zero)));  // near is non-zero
  const V dmax = hn::Mul(hn::Set(d, 3.0), near);
  const M clamp = hn::And(turn, hn::Gt(hn::Abs(s), hn::Abs(dmax)));
  return hn::IfThenZeroElse(against, hn::IfThenElse(clamp, dmax, s));
}

void SlopesAcross(const SlopeTimes& t, int width, const double* f, double* out, double* changes,
                  double* finite) {
  const D d;
  const auto lanes = static_cast<int>(hn::Lanes(d));
  const int n = t.n;
  const V zero = hn::Zero(d);
  const V one = hn::Set(d, 1.0);
  const V largest = hn::Set(d, std::numeric_limits<double>::max());
  const V sign_bit = hn::Set(d, -0.0);
  const auto w = static_cast<std::size_t>(width);
  for (int b = 0; b < width; b += lanes) {
    const double* fb = f + b;
    double* db = out + b;
    V f_here = hn::LoadU(d, fb + w);
    V del1 = secants(d, hn::Sub(f_here, hn::LoadU(d, fb)), t, 0);
    V a1 = hn::Abs(del1);
    M negative1 = hn::Lt(del1, zero);
    M all_finite = hn::Le(a1, largest);
    // The sign of the last non-zero secant so far: changes of direction are the neighbours of
    // opposite sign among the non-zero secants.
    M seen = hn::Ne(del1, zero);
    M seen_negative = negative1;
    V count = zero;
    const V first_del1 = del1;
    V first_del2 = zero, last_del1 = zero;
    for (int i = 1; i < n - 1; ++i) {
      const V f_next = hn::LoadU(d, fb + static_cast<std::size_t>(i + 1) * w);
      const V del2 = secants(d, hn::Sub(f_next, f_here), t, i);
      const V a2 = hn::Abs(del2);
      const M negative2 = hn::Lt(del2, zero);
      const M non_zero2 = hn::Ne(del2, zero);
      all_finite = hn::And(all_finite, hn::Le(a2, largest));
      count = hn::Add(
          count, hn::IfThenElseZero(
                     hn::And(hn::And(non_zero2, seen), hn::Xor(negative2, seen_negative)), one));
      seen_negative = hn::Or(hn::And(non_zero2, negative2), hn::AndNot(non_zero2, seen_negative));
      seen = hn::Or(seen, non_zero2);

      // Brodlie's weighted harmonic mean where both secants are non-zero with the same sign,
      // 0 elsewhere. The larger magnitude divided by itself is exactly 1 with its sign, and
      // the weight times +-1 is the weight with that sign: only the smaller is divided.
      const V dmin = hn::Min(a1, a2);
      const M same = hn::AndNot(hn::Xor(negative1, negative2), hn::Gt(dmin, zero));
      V slope = zero;
      if (!hn::AllFalse(d, same)) {
        const V wl = hn::Set(d, t.wl[i]);
        const V wr = hn::Set(d, t.wr[i]);
        const M left_smaller = hn::Lt(a1, a2);
        const V dmax = hn::IfThenElse(left_smaller, a2, a1);
        const V ratio = hn::Div(hn::IfThenElse(left_smaller, del1, del2), dmax);
        const V left =
            hn::IfThenElse(left_smaller, hn::Mul(wl, ratio), hn::Xor(wl, hn::And(del1, sign_bit)));
        const V right =
            hn::IfThenElse(left_smaller, hn::Xor(wr, hn::And(del2, sign_bit)), hn::Mul(wr, ratio));
        slope = hn::IfThenElseZero(same, hn::Div(dmin, hn::Add(left, right)));
      }
      hn::StoreU(slope, d, db + static_cast<std::size_t>(i) * w);
      if (i == 1) first_del2 = del2;
      last_del1 = del1;
      del1 = del2;
      a1 = a2;
      negative1 = negative2;
      f_here = f_next;
    }
    const V last_del2 = del1;
    hn::StoreU(end_slope(d, hn::Set(d, t.first_w1), first_del1, hn::Set(d, t.first_w2), first_del2,
                         first_del1, first_del2),
               d, db);
    hn::StoreU(end_slope(d, hn::Set(d, t.last_w1), last_del1, hn::Set(d, t.last_w2), last_del2,
                         last_del2, last_del1),
               d, db + static_cast<std::size_t>(n - 1) * w);
    hn::StoreU(count, d, changes + b);
    hn::StoreU(hn::IfThenElseZero(all_finite, one), d, finite + b);
  }
}

int LaneCount() { return static_cast<int>(hn::Lanes(D())); }

// Lays `count` rows of n values (row j at rows + j * stride) point by point into `slab`:
// slab[i * width + j] is value i of row j, the lanes past the last row 0.
void GatherRows(const double* rows, std::size_t stride, int count, int n, int width, double* slab) {
  const auto w = static_cast<std::size_t>(width);
  const auto at = [&](int j, int i) {
    return rows + static_cast<std::size_t>(j) * stride + static_cast<std::size_t>(i);
  };
  int i = 0;
#if HWY_TARGET == HWY_AVX2 || HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
  // Four points of four rows at a time, exchanged in vectors of four lanes.
  const hn::Full256<double> d4;
  for (; i + 4 <= n; i += 4) {
    double* point = slab + static_cast<std::size_t>(i) * w;
    int j = 0;
    for (; j + 4 <= count; j += 4) {
      const auto r0 = hn::LoadU(d4, at(j, i));
      const auto r1 = hn::LoadU(d4, at(j + 1, i));
      const auto r2 = hn::LoadU(d4, at(j + 2, i));
      const auto r3 = hn::LoadU(d4, at(j + 3, i));
      const auto even01 = hn::InterleaveLower(d4, r0, r1);  // points i and i + 2
      const auto odd01 = hn::InterleaveUpper(d4, r0, r1);   // points i + 1 and i + 3
      const auto even23 = hn::InterleaveLower(d4, r2, r3);
      const auto odd23 = hn::InterleaveUpper(d4, r2, r3);
      hn::StoreU(hn::ConcatLowerLower(d4, even23, even01), d4, point + j);
      hn::StoreU(hn::ConcatLowerLower(d4, odd23, odd01), d4, point + w + j);
      hn::StoreU(hn::ConcatUpperUpper(d4, even23, even01), d4, point + 2 * w + j);
      hn::StoreU(hn::ConcatUpperUpper(d4, odd23, odd01), d4, point + 3 * w + j);
    }
    for (; j < width; ++j) {
      for (int q = 0; q < 4; ++q) {
        point[static_cast<std::size_t>(q) * w + static_cast<std::size_t>(j)] =
            j < count ? *at(j, i + q) : 0.0;
      }
    }
  }
#endif
  for (; i < n; i += 2) {
    double* point = slab + static_cast<std::size_t>(i) * w;
    double* next = point + w;
    const bool two = i + 1 < n;
    int j = 0;
#if HWY_TARGET != HWY_SCALAR
    const hn::Full128<double> d2;
    for (; two && j + 2 <= count; j += 2) {
      const auto row = hn::LoadU(d2, at(j, i));
      const auto below = hn::LoadU(d2, at(j + 1, i));
      hn::StoreU(hn::InterleaveLower(d2, row, below), d2, point + j);
      hn::StoreU(hn::InterleaveUpper(d2, row, below), d2, next + j);
    }
#endif
    for (; j < count; ++j) {
      point[j] = *at(j, i);
      if (two) next[j] = *at(j, i + 1);
    }
    for (; j < width; ++j) {
      point[j] = 0.0;
      if (two) next[j] = 0.0;
    }
  }
}

// The sums over whole intervals of integrate_between_nodes, in every lane, from interval
// `first` on: sums[s * width + j] is that of row j up to (not including) interval stops[s],
// for the ascending stops.
void NodeSums(const double* f, const double* d, int width, const double* h, const double* sixth,
              int first, const int* stops, int stop_count, double* sums) {
  const D dd;
  const auto lanes = static_cast<int>(hn::Lanes(dd));
  const auto w = static_cast<std::size_t>(width);
  for (int b = 0; b < width; b += lanes) {
    V sum = hn::Zero(dd);
    int k = first;
    V f_here = hn::LoadU(dd, f + static_cast<std::size_t>(k) * w + b);
    V d_here = hn::LoadU(dd, d + static_cast<std::size_t>(k) * w + b);
    for (int s = 0; s < stop_count; ++s) {
      for (; k < stops[s]; ++k) {
        const V f_next = hn::LoadU(dd, f + static_cast<std::size_t>(k + 1) * w + b);
        const V d_next = hn::LoadU(dd, d + static_cast<std::size_t>(k + 1) * w + b);
        const V term = hn::Add(hn::Add(f_here, f_next),
                               hn::Mul(hn::Sub(d_here, d_next), hn::Set(dd, sixth[k])));
        sum = hn::Add(sum, hn::Mul(hn::Set(dd, h[k]), term));
        f_here = f_next;
        d_here = d_next;
      }
      hn::StoreU(sum, dd, sums + static_cast<std::size_t>(s) * w + b);
    }
  }
}

void LimitsAcross(const double* f, const double* d, int width, const LanePiece* pieces,
                  int piece_count, const LaneLimit* limits, int limit_count, const double* sums,
                  double* piece_values, double* values, double* outside) {
  const D dd;
  const auto lanes = static_cast<int>(hn::Lanes(dd));
  const auto w = static_cast<std::size_t>(width);
  const auto at = [w](auto* base, int row, int b) {
    return base + static_cast<std::size_t>(row) * w + static_cast<std::size_t>(b);
  };
  for (int b = 0; b < width; b += lanes) {
    for (int p = 0; p < piece_count; ++p) {
      const LanePiece& piece = pieces[p];
      V value = hn::Zero(dd);
      if (!piece.zero_width) {
        const V fterm =
            hn::Add(hn::Mul(hn::LoadU(dd, at(f, piece.left, b)), hn::Set(dd, piece.f1)),
                    hn::Mul(hn::LoadU(dd, at(f, piece.left + 1, b)), hn::Set(dd, piece.f2)));
        const V dterm = hn::Mul(
            hn::Add(hn::Mul(hn::LoadU(dd, at(d, piece.left, b)), hn::Set(dd, piece.d1)),
                    hn::Mul(hn::LoadU(dd, at(d, piece.left + 1, b)), hn::Set(dd, piece.d2))),
            hn::Set(dd, piece.sixth));
        value = hn::Mul(hn::Set(dd, piece.half), hn::Add(fterm, dterm));
      }
      hn::StoreU(value, dd, at(piece_values, p, b));
    }
    const auto piece = [&](int p) { return hn::LoadU(dd, at(piece_values, p, b)); };
    for (int m = 0; m < limit_count; ++m) {
      const LaneLimit& limit = limits[m];
      V value = hn::Zero(dd);
      if (limit.piece_only) {
        value = piece(limit.right);
      } else {
        if (limit.sum >= 0)
          value = hn::Mul(hn::Set(dd, 0.5), hn::LoadU(dd, at(sums, limit.sum, b)));
        if (limit.left >= 0) value = hn::Add(value, piece(limit.left));
        if (limit.right >= 0) value = hn::Add(value, piece(limit.right));
      }
      hn::StoreU(value, dd, at(values, m, b));
      V part = hn::Zero(dd);
      if (limit.outside == 1) {
        part = value;
      } else if (limit.outside == 2) {
        if (limit.below >= 0) part = piece(limit.below);
        if (limit.above >= 0) part = hn::Add(part, piece(limit.above));
      }
      hn::StoreU(part, dd, at(outside, m, b));
    }
  }
}

}  // namespace kestrane::hermite_lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrane::hermite_lanes {

HWY_EXPORT(SlopesAcross);
HWY_EXPORT(LaneCount);
HWY_EXPORT(GatherRows);
HWY_EXPORT(NodeSums);
HWY_EXPORT(LimitsAcross);

void limits_across(const double* f, const double* d, int width, const LanePiece* pieces,
                   int piece_count, const LaneLimit* limits, int limit_count, const double* sums,
                   double* piece_values, double* values, double* outside) {
  HWY_DYNAMIC_DISPATCH(LimitsAcross)
  (f, d, width, pieces, piece_count, limits, limit_count, sums, piece_values, values, outside);
}

namespace {

void gather_rows(const double* rows, std::size_t stride, int count, int n, int width,
                 double* slab) {
  HWY_DYNAMIC_DISPATCH(GatherRows)(rows, stride, count, n, width, slab);
}

void node_sums(const double* f, const double* d, int width, const double* h, const double* sixth,
               int first, const int* stops, int stop_count, double* sums) {
  HWY_DYNAMIC_DISPATCH(NodeSums)(f, d, width, h, sixth, first, stops, stop_count, sums);
}

}  // namespace

int lane_count() { return HWY_DYNAMIC_DISPATCH(LaneCount)(); }

void slopes_across(const SlopeTimes& times, int width, const double* f, double* d, double* changes,
                   double* finite) {
  HWY_DYNAMIC_DISPATCH(SlopesAcross)(times, width, f, d, changes, finite);
}

}  // namespace kestrane::hermite_lanes

namespace kestrane {

void HermiteRows::slopes_of_rows(const double* rows, std::size_t row_stride, int count,
                                 std::span<SlopeResult> results) {
  const int n = n_;
  const auto points = static_cast<std::size_t>(std::max(n, 0));
  const auto row = [&](int j) { return rows + static_cast<std::size_t>(j) * row_stride; };
  // Below four rows the lanes would mostly carry padding; vectors of two lanes do no better
  // than slopes(), which takes two points of one row at a time.
  if (slope_check_ != SlopeStatus::ok || n < 3 || count < 4 || hermite_lanes::lane_count() < 4) {
    slab_width_ = 0;
    slab_d_.resize(points * static_cast<std::size_t>(count));
    for (int j = 0; j < count; ++j) {
      results[static_cast<std::size_t>(j)] =
          slopes({row(j), points}, {slab_d_.data() + static_cast<std::size_t>(j) * points, points});
    }
    return;
  }
  const int block = hermite_lanes::kLaneBlock;
  const int width = (count + block - 1) / block * block;
  const auto w = static_cast<std::size_t>(width);
  slab_f_.resize(points * w);
  slab_d_.resize(points * w);
  lane_changes_.resize(w);
  lane_finite_.resize(w);
  slab_width_ = width;
  hermite_lanes::gather_rows(rows, row_stride, count, n, width, slab_f_.data());
  hermite_lanes::SlopeTimes times;
  times.n = n;
  times.h = h_.data();
  times.wl = wl_.data();
  times.wr = wr_.data();
  times.first_w1 = first_w1_;
  times.first_w2 = first_w2_;
  times.last_w1 = last_w1_;
  times.last_w2 = last_w2_;
  if (reciprocal_) {
    times.inverse_h = inverse_h_.data();
    times.half_ulp_h = half_ulp_h_.data();
  }
  hermite_lanes::slopes_across(times, width, slab_f_.data(), slab_d_.data(), lane_changes_.data(),
                               lane_finite_.data());
  for (int j = 0; j < count; ++j) {
    const auto lane = static_cast<std::size_t>(j);
    if (lane_finite_[lane] != 0.0) {
      results[lane] = {SlopeStatus::ok, static_cast<int>(lane_changes_[lane])};
      continue;
    }
    // A row with an infinite or NaN secant goes to the point-by-point estimate.
    row_d_.resize(points);
    results[lane] = slopes_in_order(row(j), row_d_.data());
    for (std::size_t i = 0; i < points; ++i) slab_d_[i * w + lane] = row_d_[i];
  }
}

bool HermiteRows::limits_in_lanes() {
  if (lane_limits_ != LaneLimits::unknown) return lane_limits_ == LaneLimits::lanes;
  lane_pieces_.clear();
  lane_limit_table_.clear();
  // Not in lanes: a refused table, a limit left to integrate_hermite, a piece of the far form.
  bool lanes = integral_check_ == IntegralStatus::inside;
  const auto add = [&](const Piece& p) {
    lanes = lanes && !p.far;
    hermite_lanes::LanePiece piece;
    piece.left = p.left;
    piece.zero_width = p.zero_width;
    piece.f1 = p.factors.f1;
    piece.f2 = p.factors.f2;
    piece.d1 = p.factors.d1;
    piece.d2 = p.factors.d2;
    piece.sixth = p.factors.sixth;
    piece.half = p.factors.half;
    lane_pieces_.push_back(piece);
    return static_cast<int>(lane_pieces_.size()) - 1;
  };
  const int left = left_ ? add(left_piece_) : -1;
  const int below = below_shared_ ? add(below_shared_piece_) : -1;
  for (std::size_t m = 0; m < limits_.size(); ++m) {
    const Limit& limit = limits_[m];
    hermite_lanes::LaneLimit lane;
    if (limit.route == Route::single_call) {
      lanes = false;
    } else if (limit.route == Route::piece) {
      lane.piece_only = true;
      lane.right = add(limit.piece);
    } else {
      if (limit.ib > ia_) {
        lane.sum = static_cast<int>(std::find(by_ib_.begin(), by_ib_.end(), static_cast<int>(m)) -
                                    by_ib_.begin());
      }
      lane.left = left;
      if (limit.right) lane.right = add(limit.piece);
    }
    lane.outside = static_cast<int>(limit.outside);
    if (limit.outside == Limit::Outside::ends) {
      if (limit.below_shared) lane.below = below;
      if (limit.below_own) lane.below = add(limit.below_piece);
      if (limit.above) lane.above = add(limit.above_piece);
    }
    lane_limit_table_.push_back(lane);
  }
  lane_limits_ = lanes ? LaneLimits::lanes : LaneLimits::rows;
  return lanes;
}

IntegralStatus HermiteRows::integrate_rows(const double* rows, std::size_t row_stride, int count,
                                           double* out, std::size_t out_stride, double* parts,
                                           std::size_t parts_stride) {
  const std::size_t limit_count = limits_.size();
  const auto points = static_cast<std::size_t>(n_);
  if (limit_count == 0 || slab_width_ == 0 || !limits_in_lanes()) {
    IntegralStatus status = IntegralStatus::inside;
    for (int j = 0; j < count; ++j) {
      const auto row = static_cast<std::size_t>(j);
      const std::span<const double> f(rows + row * row_stride, points);
      const std::span<double> values(out + row * out_stride, limit_count);
      status = integrate(f, row_slopes(j), values);
      outside(f, row_slopes(j), values, {parts + row * parts_stride, limit_count});
    }
    return status;
  }
  const auto w = static_cast<std::size_t>(slab_width_);
  // Each sum over whole intervals runs while k <= ib - 2, from ia - 1 on.
  stops_.clear();
  for (const int m : by_ib_) stops_.push_back(limits_[static_cast<std::size_t>(m)].ib - 1);
  node_sums_.resize(stops_.size() * w);
  if (!stops_.empty()) {
    hermite_lanes::node_sums(slab_f_.data(), slab_d_.data(), slab_width_, h_.data(), sixth_.data(),
                             ia_ - 1, stops_.data(), static_cast<int>(stops_.size()),
                             node_sums_.data());
  }
  piece_values_.resize(lane_pieces_.size() * w);
  lane_values_.resize(limit_count * w);
  lane_parts_.resize(limit_count * w);
  hermite_lanes::limits_across(slab_f_.data(), slab_d_.data(), slab_width_, lane_pieces_.data(),
                               static_cast<int>(lane_pieces_.size()), lane_limit_table_.data(),
                               static_cast<int>(limit_count), node_sums_.data(),
                               piece_values_.data(), lane_values_.data(), lane_parts_.data());
  for (int j = 0; j < count; ++j) {
    const auto row = static_cast<std::size_t>(j);
    for (std::size_t m = 0; m < limit_count; ++m) {
      out[row * out_stride + m] = lane_values_[m * w + row];
      parts[row * parts_stride + m] = lane_parts_[m * w + row];
    }
  }
  return limits_.back().status;
}

HermiteRows::RowSlopes HermiteRows::row_slopes(int j) const {
  const auto row = static_cast<std::size_t>(j);
  if (slab_width_ == 0) return {slab_d_.data() + row * static_cast<std::size_t>(n_), 1};
  return {slab_d_.data() + row, static_cast<std::size_t>(slab_width_)};
}

}  // namespace kestrane
#endif  // HWY_ONCE
