// The slopes and integrals of many rate rows tabulated at the same times, the fast pass of
// the record loop beside the point-by-point reference of dose/hermite.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "dose/hermite.h"
#include "dose/hermite_lanes.h"

namespace kestrane {

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
  // Takes the times x (copied; n = x.size()) and the limits: every row is to be integrated
  // from `a` to each of `limits`, in that order.
  void prepare(std::span<const double> x, double a, std::span<const double> limits);

  // d and the result as estimate_monotone_slopes(x, f, d) leaves them (f and d hold n values).
  SlopeResult slopes(std::span<const double> f, std::span<double> d) const;

  // The slopes of one row: slope i at d[i * stride].
  struct RowSlopes {
    const double* d = nullptr;
    std::size_t stride = 1;
  };

  // slopes() of `count` rows at once: row j of the rates at rows + j * row_stride (n values),
  // its result to results[j] and its slopes kept here, as row_slopes(j), until the next call.
  // From four rows on, where the processor's vectors hold four doubles or more, the rows go
  // side by side into their lanes, one lane per row (dose/hermite_lanes.h); otherwise one by
  // one. Defined in dose/hermite_lanes.cpp.
  void slopes_of_rows(const double* rows, std::size_t row_stride, int count,
                      std::span<SlopeResult> results);
  RowSlopes row_slopes(int j) const;
  // integrate() and outside() of each of the rows that slopes_of_rows() was last given (the
  // same `rows`): row j's integrals to out + j * out_stride, their parts outside the table to
  // parts + j * parts_stride. Where the pieces allow it (no limit below `a`, none far from its
  // piece) the integrals are formed in the lanes where the slopes are. Returns the status of
  // the last limit, the same for every row. Defined in dose/hermite_lanes.cpp.
  IntegralStatus integrate_rows(const double* rows, std::size_t row_stride, int count, double* out,
                                std::size_t out_stride, double* parts, std::size_t parts_stride);

  // out[m] = integrate_hermite(x, f, d, a, limits[m]).value, checking the times, for every m
  // (out holds a value per limit). Returns the status of the last limit (inside when there are
  // none); `statuses`, when not empty, receives every status.
  IntegralStatus integrate(std::span<const double> f, std::span<const double> d,
                           std::span<double> out, std::span<IntegralStatus> statuses = {}) const {
    return integrate(f, RowSlopes{d.data(), 1}, out, statuses);
  }
  IntegralStatus integrate(std::span<const double> f, RowSlopes d, std::span<double> out,
                           std::span<IntegralStatus> statuses = {}) const;

  // out[m]: the part of integrals[m] (the integral to limits[m], as integrate() leaves it) that
  // lies outside [x(1), x(n)], where the first piece is continued below the table and the last
  // piece above it, from the same slopes and the same piece formula. An integral wholly
  // outside the table is its own outside part; one wholly inside has 0. All 0 when the times
  // were refused.
  void outside(std::span<const double> f, std::span<const double> d,
               std::span<const double> integrals, std::span<double> out) const {
    outside(f, RowSlopes{d.data(), 1}, integrals, out);
  }
  void outside(std::span<const double> f, RowSlopes d, std::span<const double> integrals,
               std::span<double> out) const;

 private:
  // integrate_cubic_piece on the piece from x[left] to x[left + 1] between two fixed limits.
  // A limit far outside the piece takes the far form, as integrate_cubic_piece does.
  struct Piece {
    int left = 0;
    bool zero_width = false;
    bool far = false;
    double x1 = 0, x2 = 0, lower = 0, upper = 0;  // for the far form: the piece and limits
    hermite_detail::CubicFactors factors;
    void set(const double* x, int first, double a, double b);
    double integral(const double* f, RowSlopes d) const;
  };
  // slopes() by estimate_monotone_slopes itself; for two points and for rows with an
  // infinite or NaN secant.
  SlopeResult slopes_in_order(const double* f, double* d) const;

  enum class Route : std::uint8_t { single_call, piece, nodes };
  struct Limit {
    Route route = Route::single_call;
    IntegralStatus status = IntegralStatus::inside;  // the range warnings
    double b = 0;                                    // the limit
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
  // Whether integrate_rows() can work in the lanes, with the pieces and limits laid out for
  // them (once per prepare()).
  bool limits_in_lanes();
  // Sets the outside part of a limit with a range warning.
  void set_outside(Limit& limit, double a, double b);

  int n_ = 0;
  double a_ = 0;
  std::vector<double> x_;
  SlopeStatus slope_check_ = SlopeStatus::ok;               // the check of estimate_monotone_slopes
  IntegralStatus integral_check_ = IntegralStatus::inside;  // that of integrate_hermite
  // Slope weights: interval widths h(k) = x(k + 1) - x(k), the weights of the interior
  // formula at each point and those of the end formulas.
  std::vector<double> h_, wl_, wr_;
  double first_w1_ = 0, first_w2_ = 0, last_w1_ = 0, last_w2_ = 0;
  // For the secants of the rows side by side: 1 / h(k) and h(k) 2^-53, where every width
  // allows them (reciprocal_), and the rates and slopes of the rows point by point.
  std::vector<double> inverse_h_, half_ulp_h_;
  bool reciprocal_ = false;
  std::vector<double> slab_f_, slab_d_, lane_changes_, lane_finite_;
  int slab_width_ = 0;  // the lanes of a point in slab_d_, or 0 for rows of n one after another
  // A row's slopes side by side for integrate_hermite (integrate() stays const).
  mutable std::vector<double> row_d_;
  // integrate_rows(): where each sum over whole intervals ends, the sums, the pieces and
  // limits in the lanes' terms, and the lanes' results.
  std::vector<int> stops_;
  std::vector<double> node_sums_, piece_values_, lane_values_, lane_parts_;
  enum class LaneLimits : std::uint8_t { unknown, lanes, rows } lane_limits_ = LaneLimits::unknown;
  std::vector<hermite_lanes::LanePiece> lane_pieces_;
  std::vector<hermite_lanes::LaneLimit> lane_limit_table_;
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
