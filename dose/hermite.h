// Monotone cubic Hermite interpolation of a rate table, point by point: the reference slope
// estimation and the exact integrals of the interpolant. Arrays are 0-based here (x[0] is
// time point 1); positions passed as numbers (ia, ib) count from 1, as the table positions
// do. No allocation, no tolerances.
#pragma once

#include <span>

namespace kestrane {

// What a slope estimate made of its table.
enum class SlopeStatus {
  ok,                    // slopes written
  too_few_points,        // fewer than two points: slopes not written
  times_not_increasing,  // equal or decreasing neighbouring times (or a NaN): not written
};

struct SlopeResult {
  SlopeStatus status = SlopeStatus::ok;
  int direction_changes = 0;  // changes of direction in the data (0 unless ok)
  bool operator==(const SlopeResult&) const = default;
};

// Where the limits of an integral lay, or why it was refused (the value is then 0). The
// warnings add: a outside the table 1, b outside 2.
enum class IntegralStatus {
  inside = 0,             // both limits within [x(1), x(n)]
  a_outside = 1,          // the end piece continued for a
  b_outside = 2,          // the end piece continued for b
  both_outside = 3,       // both limits outside
  too_few_points = -1,    // fewer than two points
  times_decrease = -3,    // times decrease somewhere (or a time is NaN)
  position_outside = -4,  // ia or ib outside 1..n (integrate_between_nodes)
  sum_failed = -5,        // the sum over whole intervals was refused (integrate_hermite)
};

constexpr bool refused(IntegralStatus status) { return static_cast<int>(status) < 0; }

struct IntegralResult {
  double value = 0.0;
  IntegralStatus status = IntegralStatus::inside;
  bool operator==(const IntegralResult&) const = default;
};

// Whether the times of a table are still to be checked before an integral, or the caller has
// checked them already (at least two points, times that do not decrease).
enum class TimesCheck { check, checked };

// Fills d[0..n-1] (n = x.size(); f and d hold at least n values) with shape-preserving slopes
// of the table (x, f) (Fritsch and Carlson; Brodlie's weighted harmonic mean at interior
// points): the interpolant is monotone wherever the data are, and the slope is 0 at every
// strict extremum and next to every flat interval. On a refusal d is not written.
SlopeResult estimate_monotone_slopes(std::span<const double> x, std::span<const double> f,
                                     std::span<double> d);

// +1 when a and b are non-zero with the same sign, -1 when non-zero with different signs,
// 0 when either is zero.
double sign_product(double a, double b);

// |m| with the sign of s (a negative zero in s counts as positive).
double transfer_sign(double m, double s);

// Integral of the interpolant of (x, f, d) from a to b (negative when b < a); below x[0] the
// first piece is continued, above x[n-1] the last. Equal neighbouring times are accepted.
IntegralResult integrate_hermite(std::span<const double> x, std::span<const double> f,
                                 std::span<const double> d, double a, double b,
                                 TimesCheck check = TimesCheck::check);

// Integral from x(ia) to x(ib), positions counting from 1.
IntegralResult integrate_between_nodes(std::span<const double> x, std::span<const double> f,
                                       std::span<const double> d, int ia, int ib,
                                       TimesCheck check = TimesCheck::check);

// Integral over [a, b] of the cubic with values f1, f2 and slopes d1, d2 at x1, x2; a and b
// may lie outside [x1, x2] (the cubic is continued). Swapping a and b flips only the sign;
// a piece of zero width gives 0. Where a limit lies more than kFarWidths widths outside the
// piece, the closed form in local coordinates would lose every digit to cancellation (its
// terms grow with the fourth power of the distance), so the integral is then formed from the
// cubic expanded about the piece's ends, in double-double arithmetic
// (hermite_detail::far_piece_integral); nearer limits keep the closed form to the last bit.
double integrate_cubic_piece(double x1, double x2, double f1, double f2, double d1, double d2,
                             double a, double b);

namespace hermite_detail {

// How many widths of a piece a limit may lie outside it before the far form is used.
inline constexpr double kFarWidths = 100.0;

// True when a or b lies more than kFarWidths widths (x2 - x1 > 0) below x1 or above x2.
inline bool far_from_piece(double x1, double x2, double a, double b) {
  const double reach = kFarWidths * (x2 - x1);
  return x1 - a > reach || x1 - b > reach || a - x2 > reach || b - x2 > reach;
}

// The integral of integrate_cubic_piece (x1 != x2) by the far form: the antiderivative from
// x1, expanded about x1 for a limit nearer x1 and about x2 (plus the whole piece) for one
// nearer x2, every difference and product carried in double-double, rounded once at the end.
double far_piece_integral(double x1, double x2, double f1, double f2, double d1, double d2,
                          double a, double b);

// inside, or the refusal of a table for integration: too_few_points, or times_decrease for a
// decrease or a time that is not a number.
IntegralStatus check_integration_times(std::span<const double> x);

// integrate_cubic_piece in two steps: the factors that depend on the piece [x1, x2] (x1 != x2)
// and the limits alone, then their combination with the values and slopes at its ends.
struct CubicFactors {
  double f1 = 0, f2 = 0, d1 = 0, d2 = 0;  // multiply the value or slope at x1 or x2
  double sixth = 0, half = 0;             // h / 6 and h * 0.5
  void set(double x1, double x2, double a, double b);
  double integral(double fv1, double fv2, double dv1, double dv2) const;
};

}  // namespace hermite_detail

}  // namespace kestrane
