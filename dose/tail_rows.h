// The rate before the first and after the last tabulated time, as a run chooses to model it,
// and the integrals of a record's rows from 0 with those models: the part before the table by
// the before-model, the part inside it by the interpolant (the same pass as HermiteRows, on the
// span the table covers), the part after it by the after-model.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "dose/hermite_rows.h"

namespace kestrane {

// The rate from 0 to the first tabulated time x1.
enum class BeforeModel : std::uint8_t {
  extend,    // the first cubic piece continued
  zero,      // 0
  constant,  // f1
  linear,    // rising in a straight line from 0 at time 0 to f1 at x1
};

// The rate after the last tabulated time xN.
enum class AfterModel : std::uint8_t {
  extend,       // the last cubic piece continued
  zero,         // 0
  constant,     // fN
  exponential,  // falling from fN at the rate of the last two tabulated points
};

// The models of a run; both `extend` is the integral of the interpolant from 0, as one piece.
struct TailModels {
  BeforeModel before = BeforeModel::extend;
  AfterModel after = AfterModel::extend;
  bool extend_both() const { return before == BeforeModel::extend && after == AfterModel::extend; }
  bool operator==(const TailModels&) const = default;
};

// The models' names, in the order of the enumerations.
inline constexpr std::array<std::string_view, 4> kBeforeModelNames = {"extend", "zero", "constant",
                                                                      "linear"};
inline constexpr std::array<std::string_view, 4> kAfterModelNames = {"extend", "zero", "constant",
                                                                     "exponential"};

std::string_view model_name(BeforeModel model);
std::string_view model_name(AfterModel model);
// The model of a name, without regard to case; none for any other text.
std::optional<BeforeModel> before_model_named(std::string_view name);
std::optional<AfterModel> after_model_named(std::string_view name);

// The part from 0 to min(T, x1) of the integral to T, for x1 > 0 (0 otherwise, and for T <= 0):
// the first piece [x1, x2] with values f1, f2 and slopes d1, d2 continued (extend), 0, f1 min(T,
// x1), or f1 min(T, x1)^2 / (2 x1).
double before_part(BeforeModel model, double x1, double x2, double f1, double f2, double d1,
                   double d2, double limit);

// The part from max(0, xN) to T of the integral to T, for T > xN (0 otherwise): the last piece
// [xp, xN] with values fp, fN and slopes dp, dN continued (extend), 0, fN (T - xN), or the rate
// fN e^(-lambda (t - xN)) with lambda = ln(fp / fN) / (xN - xp) where fp > fN > 0. With
// `exponential`, a rate fN of 0 gives 0, and any other rate that does not fall from fp gives the
// part of `constant` and sets `fell_back`.
double after_part(AfterModel model, double xp, double xN, double fp, double fN, double dp,
                  double dN, double limit, bool& fell_back);

// The decay rate of the exponential after-part, ln(fp / fN) / (xN - xp), where fp > fN > 0;
// 0 for any other rates.
double exponential_decay_rate(double xp, double xN, double fp, double fN);

// The integrals from 0 to each of many limits of rate rows that share their times, with the
// models of a run, split into the three parts: before + inside + after, in that order. The
// inside part, over [max(0, x1), min(T, xN)], is integrate_hermite's on that span, formed by a
// HermiteRows prepared for it (whose slopes serve the end pieces too); the part outside the
// table is before + after. Holds no reference to the rows.
class TailRows {
 public:
  // Takes the times x (copied) and the limits, every row to be integrated from 0 to each.
  void prepare(std::span<const double> x, std::span<const double> limits, TailModels models);

  // The pass over the span inside the table: its slopes_of_rows() and slopes() are those of
  // estimate_monotone_slopes, and must be called before the integrals below.
  HermiteRows& inside() { return inside_; }

  // The integrals of the rows that inside().slopes_of_rows() was last given (the same `rows`):
  // row j's to out + j * out_stride, their parts outside the table to parts + j * parts_stride;
  // adds to `fallbacks` the integrals whose exponential after-part fell back to constant.
  // Returns the status of the inside pass (refused only for times that cannot be integrated).
  IntegralStatus integrate_rows(const double* rows, std::size_t row_stride, int count, double* out,
                                std::size_t out_stride, double* parts, std::size_t parts_stride,
                                std::int64_t& fallbacks);

  // The same for one row whose slopes d inside().slopes() gave.
  IntegralStatus integrate(std::span<const double> f, std::span<const double> d,
                           std::span<double> out, std::span<double> parts, std::int64_t& fallbacks);

 private:
  // The integrals of one row from its inside parts (one per inside limit).
  void combine(const double* f, HermiteRows::RowSlopes d, const double* inside_values, double* out,
               double* parts, std::int64_t& fallbacks) const;

  TailModels models_;
  int n_ = 0;
  std::vector<double> x_;
  std::vector<double> limits_;
  // The limits whose span inside the table is not empty, and for each limit its place among
  // them (-1 for none).
  std::vector<double> inside_limits_;
  std::vector<int> inside_of_;
  HermiteRows inside_;
  std::vector<double> inside_values_, inside_parts_;
};

}  // namespace kestrane
