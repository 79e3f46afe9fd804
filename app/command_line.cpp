// The programs' command lines read by getopt_long, the one parser of the GNU tools, and laid
// out for --help and usage errors in the GNU manner.
#include "app/command_line.h"

#include <getopt.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "base/ascii.h"

namespace kestrane {
namespace {

// The column at which option descriptions start.
constexpr std::size_t kDescriptionColumn = 24;

// The values getopt_long returns for the options of a spec: kFirstOption + the option's index.
constexpr int kFirstOption = 0x100;

// Built by appending: GCC 12 takes "'" + std::string(...) for an overlapping copy (-Wrestrict)
// in an optimised build.
std::string in_quotes(std::string_view text) {
  std::string quoted(1, '\'');
  quoted.append(text).push_back('\'');
  return quoted;
}

// The options of `spec` followed by --help and --version, as the parser and the help see them.
std::vector<OptionSpec> all_options(const CommandLineSpec& spec) {
  std::vector<OptionSpec> options = spec.options;
  options.push_back({.name = "help", .value_name = "", .description = "Print this help and exit"});
  options.push_back(
      {.name = "version", .value_name = "", .description = "Print the version and exit"});
  return options;
}

// "  --dir DIR" and the description re-flowed beside it, or below it when the name is too
// long for the column.
std::string option_help(const OptionSpec& option) {
  std::string left = option.name == "help" ? "  -h, --help" : "  --" + option.name;
  if (!option.value_name.empty()) left += " " + option.value_name;
  const std::string indent(kDescriptionColumn, ' ');
  std::string description = option.description;
  std::replace(description.begin(), description.end(), '\n', ' ');
  const std::string body = wrap_at_blanks(description, kHelpWidth, indent);
  if (left.size() + 2 <= kDescriptionColumn) return left + body.substr(left.size()) + "\n";
  return left + "\n" + body + "\n";
}

// The name of the long option that `arg` ("--dat=x") stands for, as getopt_long takes it:
// the option of that exact name, or the only one the name begins.
struct NameMatch {
  std::string typed;                 // "--dat"
  std::vector<std::string> options;  // the options it may stand for, "--data-set"
};

NameMatch match_long_name(const std::vector<OptionSpec>& options, std::string_view arg) {
  NameMatch match{std::string(arg.substr(0, arg.find('='))), {}};
  const std::string_view typed = std::string_view(match.typed).substr(2);
  for (const OptionSpec& option : options) {
    if (option.name == typed) return {match.typed, {"--" + option.name}};
    if (option.name.starts_with(typed)) match.options.push_back("--" + option.name);
  }
  return match;
}

// Why `value` is refused for `option`, in getopt's words; empty when it is taken.
std::string refusal(const OptionSpec& option, const std::string& value) {
  const std::string start = "invalid argument " + in_quotes(value) + " for '--" + option.name + "'";
  if (!option.choices.empty()) {
    const bool allowed = std::any_of(
        option.choices.begin(), option.choices.end(),
        [&](const std::string& choice) { return ascii::equal_ignoring_case(choice, value); });
    if (!allowed) {
      std::string valid;
      for (const std::string& choice : option.choices)
        valid += (valid.empty() ? "" : ", ") + choice;
      return start + "; valid arguments are " + valid;
    }
  }
  if (option.check) {
    if (const std::string reason = option.check(value); !reason.empty()) {
      return start + ": " + reason;
    }
  }
  return {};
}

// "missing option '--data-set'", "missing options '--data-set' and '--regions'".
std::string missing_text(const std::vector<std::string>& missing) {
  std::string text = missing.size() == 1 ? "missing option " : "missing options ";
  for (std::size_t k = 0; k < missing.size(); ++k) {
    if (k > 0) text += k + 1 == missing.size() ? " and " : ", ";
    text += in_quotes("--" + missing[k]);
  }
  return text;
}

}  // namespace

std::string GivenOptions::value_or(std::string_view name, std::string fallback) const {
  const auto found = values_.find(name);
  if (found == values_.end() || found->second.empty()) return fallback;
  return found->second.back();
}

std::string help_text(const CommandLineSpec& spec) {
  std::string text = spec.usage + "\n";
  std::string description = spec.description;
  while (description.ends_with('\n')) description.pop_back();
  if (!description.empty()) text += "\n" + description + "\n";
  text += "\nOptions:\n";
  for (const OptionSpec& option : all_options(spec)) text += option_help(option);
  if (!spec.footer.empty()) text += "\n" + spec.footer + "\n";
  return text;
}

std::optional<GivenOptions> parse_command_line(const CommandLineSpec& spec, int argc,
                                               const char* const* argv, std::ostream& out,
                                               std::ostream& err, int& exit_status) {
  constexpr int kUsageStatus = 2;
  const std::vector<OptionSpec> options = all_options(spec);
  std::vector<option> table;
  for (std::size_t k = 0; k < options.size(); ++k) {
    table.push_back({options[k].name.c_str(),
                     options[k].value_name.empty() ? no_argument : required_argument, nullptr,
                     kFirstOption + static_cast<int>(k)});
  }
  table.push_back({nullptr, 0, nullptr, 0});

  // getopt_long moves the arguments that are not options behind the others: it works on a
  // copy, so that the caller's array stays as it was.
  std::vector<std::string> storage(argv, argv + argc);
  std::vector<char*> args;
  for (std::string& arg : storage) args.push_back(arg.data());
  args.push_back(nullptr);

  const auto fail = [&](std::string_view message) -> std::optional<GivenOptions> {
    write_usage_error(err, spec.program, spec.usage, message);
    exit_status = kUsageStatus;
    return std::nullopt;
  };

  GivenOptions given;
  ::optind = 0;  // a new scan, whatever an earlier call left
  ::opterr = 0;  // the messages are ours
  for (;;) {
    int index = -1;
    const int got = ::getopt_long(argc, args.data(), ":h", table.data(), &index);
    if (got == -1) break;
    // The argument getopt_long has just passed (the option, or its value after it).
    const std::string_view current =
        ::optind > 0 && ::optind <= argc ? std::string_view(args[::optind - 1]) : "";
    if (got == '?' || got == ':') {
      if (::optopt >= kFirstOption) {
        const std::string name = "'--" + options[::optopt - kFirstOption].name + "'";
        return fail(got == ':' ? "option " + name + " requires an argument"
                               : "option " + name + " doesn't allow an argument");
      }
      if (::optopt != 0) {
        if (got == ':')
          return fail("option requires an argument -- " +
                      in_quotes(std::string(1, static_cast<char>(::optopt))));
        return fail("invalid option -- " + in_quotes(std::string(1, static_cast<char>(::optopt))));
      }
      const NameMatch match = match_long_name(options, current);
      if (match.options.size() > 1) {
        std::string text = "option " + in_quotes(match.typed) + " is ambiguous; possibilities:";
        for (const std::string& name : match.options) text += " " + in_quotes(name);
        return fail(text);
      }
      return fail("unknown option " + in_quotes(match.typed));
    }
    const std::size_t k =
        got == 'h' ? options.size() - 2 : static_cast<std::size_t>(got - kFirstOption);
    const OptionSpec& option = options[k];
    if (option.value_name.empty()) {
      given.add(option.name, "");
      continue;
    }
    const std::string value = ::optarg != nullptr ? ::optarg : "";
    if (given.has(option.name)) return fail("option '--" + option.name + "' given more than once");
    if (const std::string why = refusal(option, value); !why.empty()) return fail(why);
    given.add(option.name, value);
  }
  if (::optind < argc) return fail("unexpected argument " + in_quotes(args[::optind]));
  if (given.has("help")) {
    out << help_text(spec);
    exit_status = 0;
    return std::nullopt;
  }
  if (given.has("version")) {
    out << spec.version << "\n";
    exit_status = 0;
    return std::nullopt;
  }
  std::vector<std::string> missing;
  for (const OptionSpec& option : spec.options) {
    if (option.required && !given.has(option.name)) missing.push_back(option.name);
  }
  if (!missing.empty()) return fail(missing_text(missing));
  exit_status = 0;
  return given;
}

void write_usage_error(std::ostream& err, std::string_view program, std::string_view usage,
                       std::string_view message) {
  err << program << ": " << message << "\n"
      << usage << "\nTry '" << program << " --help' for more information.\n";
}

}  // namespace kestrane
