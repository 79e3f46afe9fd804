// The command lines of the three programs in the GNU manner, read by glibc's getopt_long:
// options in any order, "--opt value" and "--opt=value", a flag anywhere, an unambiguous
// abbreviation of a long option, "--" ending the options. --help is laid out in 80 columns
// (usage first, then the options as "--dir DIR" with their descriptions beside them), and a
// usage error reads "PROGRAM: unknown option '--sizes'", then the usage and "Try 'PROGRAM
// --help' for more information.".
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "base/text_wrap.h"

namespace kestrane {

// The width every line of --help fits in.
inline constexpr std::size_t kHelpWidth = 80;

// One long option of a program.
struct OptionSpec {
  std::string name;        // without the leading "--": "data-set"
  std::string value_name;  // "SET" for an option that takes a value; empty for a flag
  std::string description;
  bool required = false;
  // The values allowed, compared without regard to case; any value when empty.
  std::vector<std::string> choices = {};
  // Why a value is refused ("directory does not exist"), or empty when it is taken.
  std::function<std::string(const std::string&)> check = {};
};

// A program's command line: what --help shows and what the parser takes. --help (also -h)
// and --version are added to `options` by the parser and the help.
struct CommandLineSpec {
  std::string program;      // "kestrane-batch"
  std::string usage;        // "Usage: kestrane-batch --data-set SET ..."
  std::string description;  // lines below the usage in --help
  std::vector<OptionSpec> options;
  std::string footer;   // after the options in --help
  std::string version;  // the line --version prints: "kestrane-batch 1.4.0"
};

// The options given: for each option by its name, the values in the order given (a flag
// holds one empty value each time it is given).
class GivenOptions {
 public:
  bool has(std::string_view name) const { return values_.contains(std::string(name)); }
  // The value of an option that takes one, or `fallback` when it was not given.
  std::string value_or(std::string_view name, std::string fallback) const;
  void add(const std::string& name, std::string value) {
    values_[name].push_back(std::move(value));
  }

 private:
  std::map<std::string, std::vector<std::string>, std::less<>> values_;
};

// The --help text of `spec`.
std::string help_text(const CommandLineSpec& spec);

// Reads the command line by `spec`. Returns the options given when the program is to run
// with them; otherwise writes --help or --version to `out` and sets `exit_status` to 0, or
// writes a usage error to `err` and sets it to 2. The first fault in the order getopt_long
// meets them is named: an unknown or ambiguous option, a value missing or not allowed, a value
// given twice, a value refused by its choices or its check; then a stray argument; then, unless
// --help or --version was asked, the required options that are missing.
std::optional<GivenOptions> parse_command_line(const CommandLineSpec& spec, int argc,
                                               const char* const* argv, std::ostream& out,
                                               std::ostream& err, int& exit_status);

// Writes a usage error: "PROGRAM: MESSAGE", the usage, then the pointer to --help.
void write_usage_error(std::ostream& err, std::string_view program, std::string_view usage,
                       std::string_view message);

}  // namespace kestrane
