// The curves a record picture draws of one row: its rate and integrals with the run's models,
// formed by the record loop's own passes, and the rate path thickened where it bends.
#include "output/plot_tails.h"

#include <algorithm>
#include <cmath>

#include "dose/hermite_rows.h"

namespace kestrane {

RowIntegrals integrate_row(std::span<const double> x, std::span<const double> f,
                           std::span<const double> limits, TailModels models) {
  RowIntegrals result;
  const std::size_t n = std::min(x.size(), f.size());
  x = x.first(n);
  f = f.first(n);
  std::vector<double> d(n);
  std::vector<double> values(limits.size());
  std::vector<double> parts(limits.size());
  // The passes of the record loop: one from 0 with both models extend, else the split one.
  if (models.extend_both()) {
    HermiteRows whole;
    whole.prepare(x, 0.0, limits);
    if (whole.slopes(f, d).status != SlopeStatus::ok) return result;
    if (refused(whole.integrate(f, d, values))) return result;
    whole.outside(f, d, values, parts);
  } else {
    TailRows tails;
    tails.prepare(x, limits, models);
    if (tails.inside().slopes(f, d).status != SlopeStatus::ok) return result;
    std::int64_t fallbacks = 0;
    if (refused(tails.integrate(f, d, values, parts, fallbacks))) return result;
  }
  result.slopes = std::move(d);
  result.integrals = std::move(values);
  result.outside = std::move(parts);
  result.ok = true;
  return result;
}

double interpolant_value(std::span<const double> x, std::span<const double> f,
                         std::span<const double> d, double t) {
  const std::size_t n = std::min({x.size(), f.size(), d.size()});
  if (n == 0) return 0.0;
  if (n == 1) return f[0];
  // The piece that holds t, the end pieces reaching beyond the table.
  std::size_t i = 0;
  if (t > x[1]) {
    i = n - 2;
    if (t < x[n - 2]) {
      i = static_cast<std::size_t>(std::upper_bound(x.begin(), x.begin() + n, t) - x.begin()) - 1;
    }
  }
  const double h = x[i + 1] - x[i];
  if (h == 0.0) return f[i];
  const double s = (t - x[i]) / h;
  const double s2 = s * s;
  const double s3 = s2 * s;
  return (2 * s3 - 3 * s2 + 1) * f[i] + (s3 - 2 * s2 + s) * h * d[i] +
         (-2 * s3 + 3 * s2) * f[i + 1] + (s3 - s2) * h * d[i + 1];
}

double before_rate(std::span<const double> x, std::span<const double> f, std::span<const double> d,
                   double t, BeforeModel model) {
  if (std::min({x.size(), f.size(), d.size()}) < 2) return interpolant_value(x, f, d, t);
  switch (model) {
    case BeforeModel::extend:
      break;
    case BeforeModel::zero:
      return 0.0;
    case BeforeModel::constant:
      return f[0];
    case BeforeModel::linear:
      return x[0] > 0 ? f[0] * (std::clamp(t, 0.0, x[0]) / x[0]) : f[0];
  }
  return interpolant_value(x, f, d, t);
}

double after_rate(std::span<const double> x, std::span<const double> f, std::span<const double> d,
                  double t, AfterModel model) {
  const std::size_t n = std::min({x.size(), f.size(), d.size()});
  if (n < 2) return interpolant_value(x, f, d, t);
  const double fN = f[n - 1];
  switch (model) {
    case AfterModel::extend:
      break;
    case AfterModel::zero:
      return 0.0;
    case AfterModel::constant:
      return fN;
    case AfterModel::exponential: {
      const double lambda = exponential_decay_rate(x[n - 2], x[n - 1], f[n - 2], fN);
      return lambda > 0 ? fN * std::exp(-lambda * std::max(t - x[n - 1], 0.0)) : fN;
    }
  }
  return interpolant_value(x, f, d, t);
}

double model_rate(std::span<const double> x, std::span<const double> f, std::span<const double> d,
                  double t, TailModels models) {
  const std::size_t n = std::min({x.size(), f.size(), d.size()});
  if (n >= 2 && t < x[0] && x[0] > 0) return before_rate(x, f, d, t, models.before);
  if (n >= 2 && t > x[n - 1]) return after_rate(x, f, d, t, models.after);
  return interpolant_value(x, f, d, t);
}

std::vector<double> times_between(const std::vector<double>& ts, double from, double to) {
  std::vector<double> kept;
  for (const double t : ts) {
    if (t >= from && t <= to) kept.push_back(t);
  }
  return kept;
}

namespace {

// Adds to `points` the points strictly between (t0, v0) and (t1, v1) that keep every step of
// the path within `step` on the page: each half of the span (in logarithmic time) in turn,
// until the step is short enough or no double lies between the times.
void refine(std::vector<RatePoint>& points, double t0, double v0, double t1, double v1,
            const std::function<double(double)>& rate, const std::function<double(double)>& y,
            double step, int depth) {
  if (depth == 0 || !(std::abs(y(v1) - y(v0)) > step)) return;
  const double t = std::sqrt(t0) * std::sqrt(t1);
  if (!(t > t0 && t < t1)) return;
  const double v = rate(t);
  refine(points, t0, v0, t, v, rate, y, step, depth - 1);
  points.push_back({t, v});
  refine(points, t, v, t1, v1, rate, y, step, depth - 1);
}

}  // namespace

std::vector<RatePoint> smooth_rate_path(const std::vector<double>& ts,
                                        const std::function<double(double)>& rate,
                                        const std::function<double(double)>& y, double step) {
  constexpr int kDepth = 60;  // halvings of a span at most: far below a double's resolution
  std::vector<RatePoint> points;
  for (std::size_t i = 0; i < ts.size(); ++i) {
    const double v = rate(ts[i]);
    // A span from time 0 stands at the left edge of the time axis: nothing to add there.
    if (i > 0 && ts[i - 1] > 0)
      refine(points, ts[i - 1], points.back().v, ts[i], v, rate, y, step, kDepth);
    points.push_back({ts[i], v});
  }
  return points;
}

std::string before_legend(BeforeModel model) {
  return "before the table: " + std::string(model_name(model));
}

std::string after_legend(AfterModel model) {
  return "after the table: " + std::string(model_name(model));
}

}  // namespace kestrane
