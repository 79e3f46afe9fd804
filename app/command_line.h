// The command lines of the three programs in the GNU manner: --help laid out in 80 columns
// (usage first, options as "--dir DIR" without CLI11's type tags), and usage errors as
// "PROGRAM: unknown option '--sizes'" followed by the usage and "Try 'PROGRAM --help' for
// more information.".
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace CLI {
class App;
}  // namespace CLI

namespace kestrane {

// The width every line of --help fits in.
inline constexpr std::size_t kHelpWidth = 80;

// Gives `app` the help layout: `usage` (a line starting with "Usage: "), the
// description, the options with their descriptions re-flowed at blanks beside them, then the
// footer. An option that takes a value shows the type name set on it (->type_name("DIR")).
void use_gnu_help(CLI::App& app, std::string_view usage);

// Writes a usage error: "PROGRAM: MESSAGE", the usage, then the pointer to --help.
void write_usage_error(std::ostream& err, std::string_view program, std::string_view usage,
                       std::string_view message);

// `text` broken at blanks into lines of at most `width` characters, each after `indent` (a
// word longer than a line stands alone on its line, whole); line feeds in `text` start new
// lines, and the blanks inside a line are kept as they are.
std::string wrap_at_blanks(std::string_view text, std::size_t width, std::string_view indent = {});

// Parses the command line with `app`. Nothing when the options are to be run with; else the
// exit status, with --help or --version written to `out` (0), or a usage error to `err` (2).
// Unknown options and stray arguments are named before any other error (a missing required
// option, for one), as getopt does.
std::optional<int> parse_command_line(CLI::App& app, int argc, const char* const* argv,
                                      std::ostream& out, std::ostream& err, std::string_view usage);

}  // namespace kestrane
