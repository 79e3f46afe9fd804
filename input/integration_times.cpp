// Reading the integration-times file: the values between the START line and the END line.
#include "input/integration_times.h"

#include <cmath>
#include <string>

#include "input/ascii.h"
#include "input/input_error.h"
#include "input/record_tables.h"

namespace kestrane {

namespace {

// The integration time of a value line: the number the line begins with (0 when it holds
// none, so an empty line gives 0 and "30 days" gives 30). A line that begins with NaN or
// inf(inity), or whose number overflows or is negative, is refused: no integral can end there;
// so is one too large to be printed in the coefficient files.
double integration_time(std::string_view line, const std::string& file_name,
                        std::int64_t line_number) {
  std::string_view text = ascii::trim_left(line);
  if (text.starts_with('-') || text.starts_with('+')) text.remove_prefix(1);
  const double value = parse_number(line);
  std::string problem;
  if (ascii::starts_with_ignoring_case(text, "nan") ||
      ascii::starts_with_ignoring_case(text, "inf")) {
    problem = "is not a number of days";
  } else if (!std::isfinite(value)) {
    problem = "is too large to be read as a finite number of days";
  } else if (value < 0.0) {
    problem = "is negative";
  } else if (value >= kCoefficientFileLimit) {
    problem = "is too large for the single-precision numbers of the coefficient files";
  } else {
    return value;
  }
  throw InputError(file_name + ", line " + std::to_string(line_number) +
                   ": the integration time \"" + printable_excerpt(line) + "\" " + problem +
                   "; every integration time must be a finite number of days, 0 or more.");
}

}  // namespace

std::vector<double> read_integration_times(const std::filesystem::path& host_path,
                                           const std::string& display_name) {
  LineReader reader(host_path, display_name);
  return read_integration_times(reader);
}

std::vector<double> read_integration_times(LineReader& reader) {
  const std::string& name = reader.display_name();
  std::string_view line;
  for (;;) {
    if (!reader.next_line(line)) {
      throw InputError(name + " holds no START line: the integration times must follow a " +
                       "line that begins with START and end with a line that begins with END.");
    }
    if (line.starts_with("START")) break;
  }
  const std::int64_t start_line = reader.line_number();

  std::vector<double> times;
  for (;;) {
    if (!reader.next_line(line)) {
      throw InputError(name + " holds no END line after the START line (line " +
                       std::to_string(start_line) + "): the integration times must end " +
                       "with a line that begins with END.");
    }
    if (line.starts_with("END")) break;
    if (times.size() == static_cast<std::size_t>(kMaxIntegrationTimes)) {
      throw InputError(name + " holds more than " + std::to_string(kMaxIntegrationTimes) +
                       " integration times after the START line (line " +
                       std::to_string(start_line) + "); line " +
                       std::to_string(reader.line_number()) + " is one too many.");
    }
    times.push_back(integration_time(line, name, reader.line_number()));
  }
  return times;
}

}  // namespace kestrane
