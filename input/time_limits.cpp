// The one rule of what an integration time may be.
#include "input/time_limits.h"

#include <charconv>
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

std::string integration_time_refusal(double days) {
  const std::string problem = integration_time_problem(days);
  if (problem.empty()) return {};
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, days);
  return "the integration time " + std::string(text, written.ptr) + " " + problem + "; " +
         std::string(kIntegrationTimeRule) + ".";
}

}  // namespace kestrane
