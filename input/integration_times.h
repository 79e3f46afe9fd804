// The integration-times file: the upper limits T of the dose integrals, in days.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "input/line_reader.h"

namespace kestrane {

// Reads the values between the START line and the END line, in file order (at most
// kMaxIntegrationTimes). Throws InputError naming `display_name` when the file has no START
// line, no END line after it, or more than kMaxIntegrationTimes value lines.
std::vector<double> read_integration_times(const std::filesystem::path& host_path,
                                           const std::string& display_name);

// The same, from a reader already open (tests).
std::vector<double> read_integration_times(LineReader& reader);

}  // namespace kestrane
