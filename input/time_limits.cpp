// The one rule of what an integration time may be.
#include "input/time_limits.h"

#include <cmath>

#include "input/record_tables.h"

namespace kestrane {

std::string integration_time_problem(double days) {
  if (!std::isfinite(days)) return "is not a number of days";
  if (days < 0.0) return "is negative";
  if (days >= kCoefficientFileLimit) {
    return "is too large for the single-precision numbers of the coefficient files";
  }
  return {};
}

}  // namespace kestrane
