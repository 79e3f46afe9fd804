// Reading the integration-times file: the values between the START line and the END line.
#include "input/integration_times.h"

#include <string>

#include "input/run_tables.h"

namespace kestrane {

namespace {

bool starts_with(std::string_view line, std::string_view prefix) {
  return line.substr(0, prefix.size()) == prefix;
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
    if (starts_with(line, "START")) break;
  }
  const std::int64_t start_line = reader.line_number();

  std::vector<double> times;
  for (;;) {
    if (!reader.next_line(line)) {
      throw InputError(name + " holds no END line after the START line (line " +
                       std::to_string(start_line) + "): the integration times must end " +
                       "with a line that begins with END.");
    }
    if (starts_with(line, "END")) break;
    if (times.size() == static_cast<std::size_t>(kMaxIntegrationTimes)) {
      throw InputError(name + " holds more than " + std::to_string(kMaxIntegrationTimes) +
                       " integration times after the START line (line " +
                       std::to_string(start_line) + "); line " +
                       std::to_string(reader.line_number()) + " is one too many.");
    }
    times.push_back(parse_number(line));
  }
  return times;
}

}  // namespace kestrane
