// The slopes of many rate rows at once: rows that share their times side by side in the lanes
// of vector registers, one lane per row, with the processor's widest vectors chosen when the
// program runs. Used by HermiteRows (dose/hermite_rows.h); every slope is the one
// estimate_monotone_slopes gives, bit for bit.
#pragma once

#include <cstddef>

namespace kestrane::hermite_lanes {

// Lanes are handed over in blocks of this many rows (the widest vector holds eight doubles).
inline constexpr int kLaneBlock = 8;

// What the slopes of a table depend on besides its rates: the times (at least three, strictly
// increasing) reduced to the factors of the slope formulas, each formed exactly as
// estimate_monotone_slopes forms it.
struct SlopeTimes {
  int n = 0;                   // points, at least 3
  const double* h = nullptr;   // n - 1 interval widths x(k + 1) - x(k)
  const double* wl = nullptr;  // n weights of the interior formula (1 to n - 2 used)
  const double* wr = nullptr;  // the same, right
  double first_w1 = 0, first_w2 = 0, last_w1 = 0, last_w2 = 0;  // the end formulas
  // For secants formed from the widths' reciprocals (each quotient checked to be the
  // correctly rounded one by its remainder, or formed by a division): 1 / h(k) and
  // h(k) * 2^-53, when every width lies between 2^-200 and 2^200; otherwise null.
  const double* inverse_h = nullptr;
  const double* half_ulp_h = nullptr;
};

// The slopes of `width` rows (a multiple of kLaneBlock) laid out point by point: the rate of
// row j at point i is f[i * width + j], its slope goes to d[i * width + j]. changes[j] gets the
// row's changes of direction; finite[j] is 1 for a row whose secants are all finite and 0
// otherwise (such a row's d and changes are not its slopes: it is left to the point-by-point
// estimate).
void slopes_across(const SlopeTimes& times, int width, const double* f, double* d, double* changes,
                   double* finite);

// How many rows the vectors of the best target the processor has (or the one a test forced)
// hold side by side: 8 with AVX-512, 4 with AVX2, 2 below. Rows in lanes pay only from 4 on,
// where they save more than it costs to lay them side by side.
int lane_count();

// The integral over one piece between two fixed limits, as hermite_detail::CubicFactors forms
// it from the values and slopes at points `left` and left + 1; 0 for a piece of zero width.
struct LanePiece {
  int left = 0;
  bool zero_width = false;
  double f1 = 0, f2 = 0, d1 = 0, d2 = 0, sixth = 0, half = 0;
};

// How the integral to one limit above the lower limit and its part outside the table are put
// together from the sums over whole intervals and the pieces (indices, or -1 for none), in the
// order of HermiteRows::integrate and HermiteRows::outside.
struct LaneLimit {
  bool piece_only = false;     // the integral is piece `right` alone
  int sum = -1;                // half of this sum over whole intervals, then
  int left = -1, right = -1;   // plus the left end, plus the right end
  int outside = 0;             // outside part: 0 none, 1 the whole integral, 2 the ends:
  int below = -1, above = -1;  // below + above (the sign of a limit above `a` is 1)
};

// The integrals of `width` rows laid out as for slopes_across (f and d point by point) to each
// of `limit_count` limits, into values[m * width + j], and their parts outside the table into
// outside[m * width + j]; sums[s * width + j] holds the sums over whole intervals, and
// piece_values room for piece_count * width values.
void limits_across(const double* f, const double* d, int width, const LanePiece* pieces,
                   int piece_count, const LaneLimit* limits, int limit_count, const double* sums,
                   double* piece_values, double* values, double* outside);

}  // namespace kestrane::hermite_lanes
