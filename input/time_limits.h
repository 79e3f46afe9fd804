// What an integration time may be, in the words every front end refuses one with: the
// integration-times file, kestrane-batch and the Python module alike.
#pragma once

#include <string>
#include <string_view>

namespace kestrane {

// What follows the reason in a refusal of an integration time.
inline constexpr std::string_view kIntegrationTimeRule =
    "every integration time must be a finite number of days, 0 or more";

// Why `days` cannot be an integration time ("is negative"), or empty when it can: a NaN or
// an infinity, a negative time, or one too large for the single-precision numbers of the
// coefficient files, where no integral can be written.
std::string integration_time_problem(double days);

// The refusal of `days` as an integration time given as a number ("the integration time -5
// is negative; every integration time must be ..."), the number in the shortest text that
// reads back as it; empty when it is taken.
std::string integration_time_refusal(double days);

}  // namespace kestrane
