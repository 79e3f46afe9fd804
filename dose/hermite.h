// Monotone cubic Hermite interpolation of a rate table: slope estimation and exact integrals.
// Arrays are 0-based here (x[0] is time point 1); positions passed as numbers (ia, ib) count
// from 1, as the table positions do. No allocation, no tolerances.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kestrane {

// Fills d[0..n-1] with shape-preserving slopes of the table (x, f) (Fritsch and Carlson;
// Brodlie's weighted harmonic mean at interior points): the interpolant is monotone wherever
// the data are, and the slope is 0 at every strict extremum and next to every flat interval.
// status: 0 normal; 1..n-2 the number of changes of direction in the data; -1 fewer than two
// points; -3 times not strictly increasing. On a negative status d is not written.
void estimate_monotone_slopes(int n, const double* x, const double* f, double* d, int& status);

// +1 when a and b are non-zero with the same sign, -1 when non-zero with different signs,
// 0 when either is zero.
double sign_product(double a, double b);

// |m| with the sign of s (a negative zero in s counts as positive).
double transfer_sign(double m, double s);

// Integral of the interpolant from a to b (negative when b < a); below x[0] the first piece
// is continued, above x[n-1] the last. skip: 0 asks for n and x to be checked, set to 1 once
// checked or when the check is skipped (a caller that passes a non-zero skip guarantees
// n >= 2 and non-decreasing times). status: 0 both limits inside the table, +1 when a lies
// outside it, +2 when b does; -1 fewer than two points, -3 decreasing times, -5 the sum over
// whole intervals failed. Every negative status returns 0. Equal neighbouring times are
// accepted.
double integrate_hermite(int n, const double* x, const double* f, const double* d, int& skip,
                         double a, double b, int& status);

// Integral from x(ia) to x(ib), positions counting from 1. skip as above. status: 0, or -1,
// -3 as above, -4 when ia or ib lies outside 1..n; every negative status returns 0.
double integrate_between_nodes(int n, const double* x, const double* f, const double* d, int& skip,
                               int ia, int ib, int& status);

// Integral over [a, b] of the cubic with values f1, f2 and slopes d1, d2 at x1, x2; a and b
// may lie outside [x1, x2] (the cubic is continued). Swapping a and b flips only the sign;
// a piece of zero width gives 0.
double integrate_cubic_piece(double x1, double x2, double f1, double f2, double d1, double d2,
                             double a, double b);

namespace hermite_detail {

// integrate_cubic_piece in two steps: the factors that depend on the piece [x1, x2] (x1 != x2)
// and the limits alone, then their combination with the values and slopes at its ends.
struct CubicFactors {
  double f1 = 0, f2 = 0, d1 = 0, d2 = 0;  // multiply the value or slope at x1 or x2
  double sixth = 0, half = 0;             // h / 6 and h * 0.5
  void set(double x1, double x2, double a, double b);
  double integral(double fv1, double fv2, double dv1, double dv2) const;
};

}  // namespace hermite_detail

// The slopes and integrals of many rate rows tabulated at the same times, as
// estimate_monotone_slopes and integrate_hermite give them, to the last bit and with the same
// statuses, with the work that depends on the times alone done once for all rows: the interval
// widths and slope weights, the validation, the positions of the limits in the table and the
// polynomial factors of the pieces that hold them. For the integrals of one row the sum over
// whole intervals is formed once, in one pass, for all upper limits: integrate_between_nodes
// sums from the lower position upwards, so the running sum at each upper position is the very
// value a separate call would return. Holds no reference to the rows; prepare() allocates
// only while the table grows beyond every earlier one.
class HermiteRows {
 public:
  // Takes the times x[0..n-1] (copied) and the limits: every row is to be integrated from `a`
  // to each of `limits`, in that order.
  void prepare(int n, const double* x, double a, std::span<const double> limits);

  // d and status as estimate_monotone_slopes(n, x, f, d, status) leaves them.
  void slopes(const double* f, double* d, int& status) const;

  // out[m] = integrate_hermite(n, x, f, d, skip, a, limits[m], status_m) with a fresh skip of 0
  // for every m. `status` ends as the last of those calls leaves it (unchanged when there are no
  // limits); `statuses`, when given, receives every status_m.
  void integrate(const double* f, const double* d, double* out, int& status,
                 int* statuses = nullptr) const;

  // out[m]: the part of integrals[m] (the integral to limits[m], as integrate() leaves it) that
  // lies outside [x(1), x(n)], where the first piece is continued below the table and the last
  // piece above it, from the same slopes and the same piece formula. An integral wholly
  // outside the table is its own outside part; one wholly inside has 0. All 0 when the times
  // were refused.
  void outside(const double* f, const double* d, const double* integrals, double* out) const;

 private:
  // integrate_cubic_piece on the piece from x[left] to x[left + 1] between two fixed limits.
  struct Piece {
    int left = 0;
    bool zero_width = false;
    hermite_detail::CubicFactors factors;
    void set(const double* x, int first, double a, double b);
    double integral(const double* f, const double* d) const;
  };
  // slopes() by estimate_monotone_slopes itself; for two points and for rows with an
  // infinite or NaN secant.
  void slopes_in_order(const double* f, double* d, int& status) const;

  enum class Route : std::uint8_t { single_call, piece, nodes };
  struct Limit {
    Route route = Route::single_call;
    int status = 0;      // the range warnings
    double b = 0;        // the limit
    int ib = 0;          // route nodes: last position (from 1) not above the limit
    bool right = false;  // route nodes: a right end beyond x(ib) is added
    Piece piece;         // route piece: the piece; route nodes: the right end
    // The part outside the table: none, the whole integral, or the sum of the continued ends
    // (the one below the table shared by every limit above a, or a piece of its own when the
    // limit lies below a; the one above on the last piece), times `sign` (-1 when b < a).
    enum class Outside : std::uint8_t { none, whole, ends } outside = Outside::none;
    bool below_shared = false, below_own = false, above = false;
    double sign = 1.0;
    Piece below_piece, above_piece;
  };
  // Sets the outside part of a limit with a range warning.
  void set_outside(Limit& limit, double a, double b);

  int n_ = 0;
  double a_ = 0;
  std::vector<double> x_;
  int slope_check_ = 0;     // 0, or the negative status of estimate_monotone_slopes
  int integral_check_ = 0;  // 0, or the negative status of the validation of integrate_hermite
  // Slope weights: interval widths h(k) = x(k + 1) - x(k), the weights of the interior
  // formula at each point and those of the end formulas.
  std::vector<double> h_, wl_, wr_;
  double first_w1_ = 0, first_w2_ = 0, last_w1_ = 0, last_w2_ = 0;
  // Integrals.
  std::vector<double> sixth_;  // h(k) / 6
  std::vector<Limit> limits_;
  std::vector<int> by_ib_;  // the limits of route nodes, by ascending ib
  int ia_ = 0;              // first position (from 1) not below a
  bool left_ = false;       // a left end below x(ia) is added
  Piece left_piece_;
  bool below_shared_ = false;  // some limit takes the continued first piece from a to x(1)
  Piece below_shared_piece_;
};

}  // namespace kestrane
