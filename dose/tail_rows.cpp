// The integrals of a record's rows with the rate models of a run before the first and after
// the last tabulated time: the closed forms of the models' parts, and the inside part by the
// pass of dose/hermite_rows.h over the span the table covers.
#include "dose/tail_rows.h"

#include <algorithm>
#include <cmath>

#include "base/ascii.h"

// The parts are summed in a fixed order, so no contraction into fused multiply-adds.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace kestrane {

namespace {

template <typename Model, std::size_t N>
std::optional<Model> model_of(std::string_view name, const std::array<std::string_view, N>& names) {
  for (std::size_t i = 0; i < N; ++i) {
    if (ascii::equal_ignoring_case(name, names[i])) return static_cast<Model>(i);
  }
  return std::nullopt;
}

// The decay rate of the exponential after-part, ln(fp / fN) / (xN - xp), for fp > fN > 0. The
// logarithm is taken of 1 + (fp - fN) / fN, whose difference is exact where the rates are near
// each other, so that a slow decay keeps its digits; a quotient too large for a double takes
// the difference of the logarithms.
double decay_rate(double xp, double xN, double fp, double fN) {
  const double excess = (fp - fN) / fN;
  const double log_ratio = std::isinf(excess) ? std::log(fp) - std::log(fN) : std::log1p(excess);
  return log_ratio / (xN - xp);
}

// The exponential after-part from `from` to T of a rate fN e^(-lambda (t - xN)) (lambda > 0):
// fN ((1 - e^(-lambda (T - xN))) - (1 - e^(-lambda (from - xN)))) / lambda, each bracket by
// expm1, so that a small lambda (T - xN) keeps its digits.
double decaying_part(double lambda, double xN, double fN, double from, double limit) {
  if (!(lambda > 0.0)) return fN * (limit - from);  // a decay below the doubles: the rate stays
  double fraction = -std::expm1(-lambda * (limit - xN));
  if (from != xN) fraction = fraction + std::expm1(-lambda * (from - xN));
  return fN * fraction / lambda;
}

}  // namespace

double exponential_decay_rate(double xp, double xN, double fp, double fN) {
  return fp > fN && fN > 0.0 ? decay_rate(xp, xN, fp, fN) : 0.0;
}

std::string_view model_name(BeforeModel model) {
  return kBeforeModelNames[static_cast<std::size_t>(model)];
}

std::string_view model_name(AfterModel model) {
  return kAfterModelNames[static_cast<std::size_t>(model)];
}

std::optional<BeforeModel> before_model_named(std::string_view name) {
  return model_of<BeforeModel>(name, kBeforeModelNames);
}

std::optional<AfterModel> after_model_named(std::string_view name) {
  return model_of<AfterModel>(name, kAfterModelNames);
}

double before_part(BeforeModel model, double x1, double x2, double f1, double f2, double d1,
                   double d2, double limit) {
  if (!(x1 > 0.0) || !(limit > 0.0)) return 0.0;
  const double upper = std::min(limit, x1);
  switch (model) {
    case BeforeModel::extend:
      return integrate_cubic_piece(x1, x2, f1, f2, d1, d2, 0.0, upper);
    case BeforeModel::zero:
      return 0.0;
    case BeforeModel::constant:
      return f1 * upper;
    case BeforeModel::linear:
      // f1 upper^2 / (2 x1), the quotient first: it is at most 1/2, so nothing overflows.
      return (f1 * upper) * (upper / (2.0 * x1));
  }
  return 0.0;
}

double after_part(AfterModel model, double xp, double xN, double fp, double fN, double dp,
                  double dN, double limit, bool& fell_back) {
  if (!(limit > xN)) return 0.0;
  const double from = std::max(0.0, xN);
  switch (model) {
    case AfterModel::extend:
      return integrate_cubic_piece(xp, xN, fp, fN, dp, dN, from, limit);
    case AfterModel::zero:
      return 0.0;
    case AfterModel::constant:
      return fN * (limit - from);
    case AfterModel::exponential:
      if (fN == 0.0) return 0.0;
      if (!(fp > fN && fN > 0.0)) {
        fell_back = true;
        return fN * (limit - from);
      }
      return decaying_part(decay_rate(xp, xN, fp, fN), xN, fN, from, limit);
  }
  return 0.0;
}

void TailRows::prepare(std::span<const double> x, std::span<const double> limits,
                       TailModels models) {
  models_ = models;
  n_ = static_cast<int>(x.size());
  x_.assign(x.begin(), x.end());
  limits_.assign(limits.begin(), limits.end());
  inside_limits_.clear();
  inside_of_.assign(limits.size(), -1);
  // Too few points: the inside pass refuses the table, and no limit is placed.
  const double lower = n_ >= 2 ? std::max(0.0, x_.front()) : 0.0;
  if (n_ >= 2) {
    for (std::size_t m = 0; m < limits.size(); ++m) {
      const double upper = std::min(limits[m], x_.back());
      if (!(upper > lower)) continue;
      inside_of_[m] = static_cast<int>(inside_limits_.size());
      inside_limits_.push_back(upper);
    }
  }
  inside_.prepare(x, lower, inside_limits_);
}

void TailRows::combine(const double* f, HermiteRows::RowSlopes d, const double* inside_values,
                       double* out, double* parts, std::int64_t& fallbacks) const {
  const int n = n_;
  const double* x = x_.data();
  const auto slope = [&](int i) { return d.d[static_cast<std::size_t>(i) * d.stride]; };
  const double d1 = slope(0), d2 = slope(1), dp = slope(n - 2), dN = slope(n - 1);
  // The part before the whole of [0, x1] is shared by every limit from x1 on, and the decay
  // rate by every limit past xN.
  const double whole_before = before_part(models_.before, x[0], x[1], f[0], f[1], d1, d2, x[0]);
  const bool decays =
      models_.after == AfterModel::exponential && f[n - 2] > f[n - 1] && f[n - 1] > 0.0;
  const double lambda = decays ? decay_rate(x[n - 2], x[n - 1], f[n - 2], f[n - 1]) : 0.0;
  const double from = std::max(0.0, x[n - 1]);
  for (std::size_t m = 0; m < limits_.size(); ++m) {
    const double limit = limits_[m];
    const double before = limit >= x[0]
                              ? whole_before
                              : before_part(models_.before, x[0], x[1], f[0], f[1], d1, d2, limit);
    const double inside = inside_of_[m] >= 0 ? inside_values[inside_of_[m]] : 0.0;
    double after = 0.0;
    if (limit > x[n - 1]) {
      if (decays) {
        after = decaying_part(lambda, x[n - 1], f[n - 1], from, limit);
      } else {
        bool fell_back = false;
        after = after_part(models_.after, x[n - 2], x[n - 1], f[n - 2], f[n - 1], dp, dN, limit,
                           fell_back);
        fallbacks += fell_back ? 1 : 0;
      }
    }
    out[m] = (before + inside) + after;
    parts[m] = before + after;
  }
}

IntegralStatus TailRows::integrate_rows(const double* rows, std::size_t row_stride, int count,
                                        double* out, std::size_t out_stride, double* parts,
                                        std::size_t parts_stride, std::int64_t& fallbacks) {
  const std::size_t k = inside_limits_.size();
  IntegralStatus status = IntegralStatus::inside;
  if (k > 0) {
    inside_values_.resize(k * static_cast<std::size_t>(count));
    inside_parts_.resize(k * static_cast<std::size_t>(count));
    status = inside_.integrate_rows(rows, row_stride, count, inside_values_.data(), k,
                                    inside_parts_.data(), k);
    if (refused(status)) return status;
  }
  if (n_ < 2) return IntegralStatus::too_few_points;
  for (int j = 0; j < count; ++j) {
    const auto row = static_cast<std::size_t>(j);
    combine(rows + row * row_stride, inside_.row_slopes(j), inside_values_.data() + row * k,
            out + row * out_stride, parts + row * parts_stride, fallbacks);
  }
  return status;
}

IntegralStatus TailRows::integrate(std::span<const double> f, std::span<const double> d,
                                   std::span<double> out, std::span<double> parts,
                                   std::int64_t& fallbacks) {
  const std::size_t k = inside_limits_.size();
  IntegralStatus status = IntegralStatus::inside;
  inside_values_.resize(k);
  if (k > 0) {
    status = inside_.integrate(f, d, inside_values_);
    if (refused(status)) return status;
  }
  if (n_ < 2) return IntegralStatus::too_few_points;
  combine(f.data(), {d.data(), 1}, inside_values_.data(), out.data(), parts.data(), fallbacks);
  return status;
}

}  // namespace kestrane
