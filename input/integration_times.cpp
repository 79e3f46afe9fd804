// Reading the integration-times file: the values between the START line and the END line.
#include "input/integration_times.h"

#include <cmath>
#include <string>
#include <string_view>

#include "base/ascii.h"
#include "input/input_error.h"
#include "input/number_rule.h"
#include "input/record_tables.h"
#include "input/time_limits.h"

namespace kestrane {

namespace {

// True when what follows the number of a value line may follow it: nothing but blanks, or
// blanks and then a word beginning with d or D ("30 days", "7 Day"), after which the rest of
// the line is a comment.
bool is_days_or_nothing(std::string_view after) {
  const std::string_view word = ascii::trim_left(after);
  if (word.empty()) return true;
  return word.size() < after.size() && ascii::to_lower(word.front()) == 'd';
}

// The integration time of a value line: the number the line begins with, by the number rule,
// followed by nothing or by blanks and a word of days (see is_days_or_nothing); 0 when the
// line begins with no number, so an empty line gives 0. A line whose number is followed by
// anything else ("50y", "18,250", "1.5.2", "1e", "3 weeks") is refused, as the number read up
// to it would not be the time meant; so is one that begins with NaN or inf(inity), or whose
// number overflows or is negative, since no integral can end there, and one too large to be
// printed in the coefficient files.
double integration_time(std::string_view line, const std::string& file_name,
                        std::int64_t line_number) {
  std::string_view text = ascii::trim_left(line);
  if (text.starts_with('-') || text.starts_with('+')) text.remove_prefix(1);
  const std::size_t end = end_of_number(line);
  const std::string_view after = line.substr(end);
  std::string problem;
  if (ascii::starts_with_ignoring_case(text, "nan") ||
      ascii::starts_with_ignoring_case(text, "inf")) {
    problem = "is not a number of days";
  } else if (end == 0) {
    return 0.0;
  } else if (!is_days_or_nothing(after)) {
    problem = "has \"" + printable_excerpt(ascii::trim(after)) +
              "\" after its number, where only blanks and a word beginning with d (as in \"30 "
              "days\") may follow";
  } else {
    const double value = parse_number(line.substr(0, end));
    if (!std::isfinite(value)) {
      // A number of the file that overflows, said so rather than as no number at all.
      problem = "is too large to be read as a finite number of days";
    } else {
      // The rule every front end applies to an integration time.
      problem = integration_time_problem(value);
      if (problem.empty()) return value;
    }
  }
  const std::string reason = "the integration time \"" + printable_excerpt(line) + "\" " + problem +
                             "; " + std::string(kIntegrationTimeRule) + ".";
  throw InputError::at_line(file_name, line_number, reason);
}

}  // namespace

std::vector<double> read_integration_times(const std::filesystem::path& host_path,
                                           const std::string& display_name,
                                           LineReader::Blocks blocks) {
  LineReader reader(host_path, display_name, LineReader::kDefaultBlockSize, blocks);
  return read_integration_times(reader);
}

std::vector<double> read_integration_times(LineReader& reader) {
  const std::string& name = reader.display_name();
  std::string_view line;
  for (;;) {
    if (!reader.next_line(line)) {
      throw InputError::of_file(
          name, name +
                    " holds no START line: the integration times must follow a line that "
                    "begins with START and end with a line that begins with END.");
    }
    if (line.starts_with("START")) break;
  }
  const std::int64_t start_line = reader.line_number();

  std::vector<double> times;
  for (;;) {
    if (!reader.next_line(line)) {
      throw InputError::of_file(name, name + " holds no END line after the START line (line " +
                                          std::to_string(start_line) +
                                          "): the integration times must end with a line that "
                                          "begins with END.");
    }
    if (line.starts_with("END")) break;
    if (times.size() == static_cast<std::size_t>(kMaxIntegrationTimes)) {
      throw InputError::of_file(
          name, name + " holds more than " + std::to_string(kMaxIntegrationTimes) +
                    " integration times after the START line (line " + std::to_string(start_line) +
                    "); line " + std::to_string(reader.line_number()) + " is one too many.");
    }
    times.push_back(integration_time(line, name, reader.line_number()));
  }
  return times;
}

}  // namespace kestrane
