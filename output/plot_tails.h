// The curves of a record picture: the rate of one row as the run's models take it (the
// interpolant inside the table, each model's rate before and after it), its integrals from 0
// with their parts from outside the table, the points of a rate path drawn smooth on the
// symmetric-logarithmic axis, and the legend's words for the models.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "dose/tail_rows.h"

namespace kestrane {

// The slopes of the interpolant through one rate row and its integrals from 0 to each limit
// with the models, as the record loop forms them, with their parts from outside the table.
// `ok` is false when the row cannot be integrated (fewer than two points, times that do not
// increase); the vectors are then empty.
struct RowIntegrals {
  bool ok = false;
  std::vector<double> slopes;
  std::vector<double> integrals;
  std::vector<double> outside;
};
RowIntegrals integrate_row(std::span<const double> x, std::span<const double> f,
                           std::span<const double> limits, TailModels models = {});

// The value at `t` of the interpolant with slopes `d`; below x[0] the first piece is
// continued and above the last time the last piece, as the integrals continue them.
double interpolant_value(std::span<const double> x, std::span<const double> f,
                         std::span<const double> d, double t);

// The rate at `t` by the before-model or the after-model alone, at the table's end too (the
// limit from outside it): 0, f1, the line from 0 at time 0 to f1 at x1, fN, the exponential
// fall from fN (fN where the rates do not fall), or the interpolant for `extend`.
double before_rate(std::span<const double> x, std::span<const double> f, std::span<const double> d,
                   double t, BeforeModel model);
double after_rate(std::span<const double> x, std::span<const double> f, std::span<const double> d,
                  double t, AfterModel model);

// The rate at `t` as the models take it: the interpolant inside [x1, xN] (and wherever a
// model is `extend`), 0, the first or last rate, the line from 0 at time 0 to f1 at x1, or the
// exponential fall from fN (the last rate where the rates do not fall).
double model_rate(std::span<const double> x, std::span<const double> f, std::span<const double> d,
                  double t, TailModels models);

// The times of `ts` from `from` to `to`, in their order.
std::vector<double> times_between(const std::vector<double>& ts, double from, double to);

// The points (time, rate) of a rate path through the sample times `ts` (sorted), with times
// added between two neighbours wherever `y` (the rate's place on the page) moves more than
// `step` between them, so that the path is drawn smooth where the axis bends.
struct RatePoint {
  double t = 0, v = 0;
};
std::vector<RatePoint> smooth_rate_path(const std::vector<double>& ts,
                                        const std::function<double(double)>& rate,
                                        const std::function<double(double)>& y, double step);

// The legend's words for the rate before and after the table, naming the model: "before the
// table: linear", "after the table: extend".
std::string before_legend(BeforeModel model);
std::string after_legend(AfterModel model);

}  // namespace kestrane
