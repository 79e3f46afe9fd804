// kestrane.integrate: the integrals of the monotone interpolant from 0, through the same
// HermiteRows pass as the record loop, so the same bits as the programs.
#include <pybind11/numpy.h>

#include <string>
#include <vector>

#include "dose/hermite_rows.h"
#include "dose/tail_rows.h"
#include "input/time_limits.h"
#include "module_support.h"
#include "run/choice_lists.h"

namespace kestrane::python {
namespace {

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::string slope_refusal(SlopeStatus status) {
  return status == SlopeStatus::too_few_points
             ? "integrate: x needs at least two time points"
             : "integrate: the times x must increase strictly and be finite";
}

// The model of a keyword, or ValueError naming the valid models.
template <typename Resolve>
auto model_of(Resolve resolve, const std::string& name, const char* label) {
  try {
    return resolve(name, label);
  } catch (const ChoiceError& error) {
    throw py::value_error(std::string("integrate: ") + error.what());
  }
}

py::array integrate(const Doubles& x, const Doubles& f, const py::object& upper,
                    const std::string& before, const std::string& after) {
  const TailModels models{model_of(resolve_before_model, before, "before"),
                          model_of(resolve_after_model, after, "after")};
  if (x.ndim() != 1) throw py::value_error("integrate: x must be one-dimensional");
  if (f.ndim() != 1 && f.ndim() != 2) throw py::value_error("integrate: f must be (N,) or (R, N)");
  const bool is_array = py::isinstance<py::array>(upper);
  if (is_array && py::array(upper).ndim() > 1) {
    throw py::value_error("integrate: upper must be one-dimensional");
  }
  // The limits as the programs take integration times: real numbers, finite, 0 or more.
  const std::vector<double> limits_given =
      time_list(is_array ? upper.attr("ravel")() : upper, "integrate: upper");
  for (const double limit : limits_given) {
    if (const std::string refusal = integration_time_refusal(limit); !refusal.empty()) {
      throw py::value_error("integrate: upper: " + refusal);
    }
  }
  const auto n = static_cast<std::size_t>(x.shape(0));
  const auto rows = f.ndim() == 1 ? std::size_t{1} : static_cast<std::size_t>(f.shape(0));
  if (static_cast<std::size_t>(f.shape(f.ndim() - 1)) != n) {
    throw py::value_error("integrate: f must hold one rate per time of x in each row");
  }
  const std::size_t m = limits_given.size();
  py::array_t<double> out(f.ndim() == 1 ? std::vector<py::ssize_t>{static_cast<py::ssize_t>(m)}
                                        : std::vector<py::ssize_t>{static_cast<py::ssize_t>(rows),
                                                                   static_cast<py::ssize_t>(m)});
  const double* xs = x.data();
  const double* fs = f.data();
  const double* limits = limits_given.data();
  double* values = out.mutable_data();
  std::string refusal;
  {
    py::gil_scoped_release release;
    // With both models `extend`, the record loop's one pass from 0; otherwise its split into
    // the parts before, inside and after the table.
    HermiteRows whole;
    TailRows tails;
    const bool split = !models.extend_both();
    if (split) {
      tails.prepare(std::span<const double>(xs, n), std::span<const double>(limits, m), models);
    } else {
      whole.prepare(std::span<const double>(xs, n), 0.0, std::span<const double>(limits, m));
    }
    HermiteRows& work = split ? tails.inside() : whole;
    std::vector<double> slopes(n);
    std::vector<double> parts(m);
    std::int64_t fallbacks = 0;
    for (std::size_t r = 0; r < rows && refusal.empty(); ++r) {
      const std::span<const double> row(fs + r * n, n);
      const SlopeResult slope = work.slopes(row, slopes);
      if (slope.status != SlopeStatus::ok) {
        refusal = slope_refusal(slope.status);
        break;
      }
      const std::span<double> out_row(values + r * m, m);
      const IntegralStatus status = split ? tails.integrate(row, slopes, out_row, parts, fallbacks)
                                          : work.integrate(row, slopes, out_row);
      if (refused(status)) refusal = "integrate: the times x must increase strictly and be finite";
    }
  }
  if (!refusal.empty()) throw py::value_error(refusal);
  return out;
}

}  // namespace

void register_integrate(py::module_& m) {
  m.def("integrate", &integrate, py::arg("x"), py::arg("f"), py::arg("upper"),
        py::arg("before") = "extend", py::arg("after") = "extend",
        "integrate(x, f, upper, before='extend', after='extend') -> numpy.ndarray\n\n"
        "The integrals from 0 to each of `upper` of the monotone cubic Hermite interpolant\n"
        "through the rates f at the times x (strictly increasing, at least two): the very\n"
        "numbers of the programs. f of shape (N,) gives shape (M,); f of shape (R, N), R rows\n"
        "of rates at the same times, gives (R, M).\n\n"
        "before is the rate from 0 to the first time x1: 'extend' (the first cubic piece\n"
        "continued), 'zero', 'constant' (f1) or 'linear' (from 0 at time 0 to f1 at x1).\n"
        "after is the rate past the last time xN: 'extend' (the last cubic piece continued),\n"
        "'zero', 'constant' (fN) or 'exponential' (fN exp(-lambda (t - xN)), lambda =\n"
        "ln(f[N-2] / fN) / (xN - x[N-2]), where the last two rates fall to fN > 0; constant\n"
        "where fN != 0 and they do not fall). Inside [x1, xN] the interpolant is integrated.\n\n"
        "Raises ValueError for times that cannot be integrated, for an unknown model and for\n"
        "a limit the programs refuse as an integration time (negative, not finite, too\n"
        "large), TypeError for a limit that is not a real number.");
}

}  // namespace kestrane::python
