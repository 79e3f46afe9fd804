// The integration-times file: the upper limits T of the dose integrals, in days.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "input/line_reader.h"

namespace kestrane {

// Reads the values between the START line and the END line, in file order (at most
// kMaxIntegrationTimes). A value line is optional blanks, a number by the number rule, and
// then nothing or blanks and a word beginning with d or D with anything after it ("30 days");
// one that begins with no number reads as 0. Throws InputError naming `display_name` when the
// file has no START line, no END line after it, or more than kMaxIntegrationTimes value lines,
// and naming the line as well when a value line has other text after its number or gives a
// time that is not a finite number of days, 0 or more, below the coefficient files' limit.
// `blocks` says how the file is read (LineReader::Blocks).
std::vector<double> read_integration_times(const std::filesystem::path& host_path,
                                           const std::string& display_name,
                                           LineReader::Blocks blocks = LineReader::Blocks::shared);

// The same, from a reader already open (tests).
std::vector<double> read_integration_times(LineReader& reader);

}  // namespace kestrane
