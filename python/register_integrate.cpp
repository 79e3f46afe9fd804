// kestrane.integrate: the integrals of the monotone interpolant from 0, through the same
// HermiteRows pass as the record loop, so the same bits as the programs.
#include <pybind11/numpy.h>

#include <string>
#include <vector>

#include "dose/hermite_rows.h"
#include "input/time_limits.h"
#include "module_support.h"

namespace kestrane::python {
namespace {

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::string slope_refusal(SlopeStatus status) {
  return status == SlopeStatus::too_few_points
             ? "integrate: x needs at least two time points"
             : "integrate: the times x must increase strictly and be finite";
}

py::array integrate(const Doubles& x, const Doubles& f, const py::object& upper) {
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
    HermiteRows work;
    work.prepare(std::span<const double>(xs, n), 0.0, std::span<const double>(limits, m));
    std::vector<double> slopes(n);
    for (std::size_t r = 0; r < rows && refusal.empty(); ++r) {
      const std::span<const double> row(fs + r * n, n);
      const SlopeResult slope = work.slopes(row, slopes);
      if (slope.status != SlopeStatus::ok) {
        refusal = slope_refusal(slope.status);
        break;
      }
      if (refused(work.integrate(row, slopes, std::span<double>(values + r * m, m)))) {
        refusal = "integrate: the times x must increase strictly and be finite";
      }
    }
  }
  if (!refusal.empty()) throw py::value_error(refusal);
  return out;
}

}  // namespace

void register_integrate(py::module_& m) {
  m.def("integrate", &integrate, py::arg("x"), py::arg("f"), py::arg("upper"),
        "integrate(x, f, upper) -> numpy.ndarray\n\n"
        "The integrals from 0 to each of `upper` of the monotone cubic Hermite interpolant\n"
        "through the rates f at the times x (strictly increasing, at least two), continued\n"
        "beyond the first and last time by its end pieces: the very numbers of the programs.\n"
        "f of shape (N,) gives shape (M,); f of shape (R, N), R rows of rates at the same\n"
        "times, gives (R, M). Raises ValueError for times that cannot be integrated and for a\n"
        "limit the programs refuse as an integration time (negative, not finite, too large),\n"
        "TypeError for a limit that is not a real number.");
}

}  // namespace kestrane::python
