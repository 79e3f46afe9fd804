// The GNU look of the programs' command lines on top of CLI11: a help formatter and the
// usage errors, with unknown options found before CLI11 looks for required ones.
#include "app/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <memory>
#include <sstream>
#include <vector>

namespace kestrane {
namespace {

// The column at which option descriptions start.
constexpr std::size_t kDescriptionColumn = 24;

std::string in_quotes(std::string_view text) { return "'" + std::string(text) + "'"; }

class GnuHelp : public CLI::Formatter {
 public:
  explicit GnuHelp(std::string_view usage) : usage_(usage) {}

  std::string make_help(const CLI::App* app, std::string /*name*/,
                        CLI::AppFormatMode mode) const override {
    std::string text = usage_ + "\n";
    std::string description = make_description(app);
    while (description.ends_with('\n')) description.pop_back();
    if (!description.empty()) text += "\n" + description + "\n";
    text += make_groups(app, mode);
    if (const std::string footer = make_footer(app); !footer.empty()) text += "\n" + footer;
    return text;
  }

  // "  --dir DIR" and the description re-flowed beside it, or below it when the name is
  // too long for the column.
  std::string make_option(const CLI::Option* opt, bool is_positional) const override {
    std::string left = "  " + make_option_name(opt, is_positional);
    for (std::size_t comma = left.find(','); comma != std::string::npos;
         comma = left.find(',', comma + 2)) {
      left.replace(comma, 1, ", ");  // "-h, --help"
    }
    if (opt->get_type_size() != 0) {
      const std::string type = opt->get_type_name();
      // A validator adds its own tag after a colon ("TEXT:DIR"); the name set comes first.
      left += " " + type.substr(0, type.find(':'));
    }
    const std::string indent(kDescriptionColumn, ' ');
    std::string description = opt->get_description();
    for (char& c : description) {
      if (c == '\n') c = ' ';
    }
    std::string body = wrap_at_blanks(description, kHelpWidth, indent);
    if (left.size() + 2 <= kDescriptionColumn) return left + body.substr(left.size()) + "\n";
    return left + "\n" + body + "\n";
  }

 private:
  std::string usage_;
};

// The option of `app` named first in `message`, if any (the longest name that occurs).
const CLI::Option* option_named_in(const CLI::App& app, std::string_view message) {
  const CLI::Option* found = nullptr;
  std::size_t longest = 0;
  for (const CLI::Option* opt : app.get_options()) {
    for (const std::string& name : opt->get_lnames()) {
      const std::string flag = "--" + name;
      if (flag.size() > longest && message.find(flag) != std::string_view::npos) {
        found = opt;
        longest = flag.size();
      }
    }
  }
  return found;
}

// An unknown option or a stray argument, found the way getopt goes through a command line:
// an option that takes a value takes the next argument unless it has one after '='.
std::optional<std::string> unknown_argument(const CLI::App& app, int argc,
                                            const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") {
      if (i + 1 < argc) return "unexpected argument " + in_quotes(argv[i + 1]);
      return std::nullopt;
    }
    if (arg.size() < 2 || arg[0] != '-') return "unexpected argument " + in_quotes(arg);
    const bool is_long = arg[1] == '-';
    const std::string_view name = is_long ? arg.substr(0, arg.find('=')) : arg.substr(0, 2);
    const CLI::Option* opt = app.get_option_no_throw(std::string(name));
    if (opt == nullptr) {
      if (is_long) return "unknown option " + in_quotes(name);
      return "invalid option -- " + in_quotes(arg.substr(1, 1));
    }
    const bool value_attached = is_long ? name.size() < arg.size() : arg.size() > 2;
    // A flag expects no value, whatever type CLI11 gives it (a bool flag has a type size of
    // 1): only an option that expects one takes the next argument.
    if (opt->get_expected_max() != 0 && !value_attached) ++i;
  }
  return std::nullopt;
}

// CLI11's message of a parse error in the words of getopt and the GNU tools.
std::string gnu_message(const CLI::App& app, const CLI::ParseError& error) {
  const std::string what = error.what();
  if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
    std::vector<std::string> missing;
    for (const CLI::Option* opt : app.get_options()) {
      if (opt->get_required() && opt->count() == 0) missing.push_back(in_quotes(opt->get_name()));
    }
    if (missing.size() == 1) return "missing option " + missing.front();
    if (!missing.empty()) {
      std::string text = "missing options " + missing.front();
      for (std::size_t k = 1; k < missing.size(); ++k) {
        text += (k + 1 == missing.size() ? " and " : ", ") + missing[k];
      }
      return text;
    }
    return what;
  }
  const CLI::Option* opt = option_named_in(app, what);
  if (opt == nullptr) return what;
  const std::string name = in_quotes(opt->get_name());
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    if (opt->count() > 1) return "option " + name + " given more than once";
    return "option " + name + " requires an argument";
  }
  const bool invalid = dynamic_cast<const CLI::ValidationError*>(&error) != nullptr ||
                       dynamic_cast<const CLI::ConversionError*>(&error) != nullptr;
  if (!invalid || opt->results().empty()) return what;
  const std::string& value = opt->results().back();
  std::string text = "invalid argument " + in_quotes(value) + " for " + name;
  // The validator's reason, without the names and the value CLI11 puts around it.
  std::string_view reason = what;
  if (const std::size_t braces = reason.find(" not in {"); braces != std::string_view::npos) {
    std::string valid(reason.substr(braces + 9));
    valid = valid.substr(0, valid.find('}'));
    for (std::size_t comma = valid.find(','); comma != std::string::npos;
         comma = valid.find(',', comma + 2)) {
      valid.replace(comma, 1, ", ");
    }
    return text + "; valid arguments are " + valid;
  }
  if (dynamic_cast<const CLI::ValidationError*>(&error) == nullptr) return text;
  if (const std::size_t colon = reason.find(": "); colon != std::string_view::npos) {
    reason.remove_prefix(colon + 2);
  }
  if (reason.ends_with(": " + value)) reason.remove_suffix(value.size() + 2);
  if (reason.empty()) return text;
  std::string lower(reason);
  // "Directory does not exist" reads on after a colon in lower case; "NUCLIDE is empty" not.
  if (lower.size() > 1 && lower[0] >= 'A' && lower[0] <= 'Z' && lower[1] >= 'a' &&
      lower[1] <= 'z') {
    lower[0] = static_cast<char>(lower[0] - 'A' + 'a');
  }
  return text + ": " + lower;
}

}  // namespace

std::string wrap_at_blanks(std::string_view text, std::size_t width, std::string_view indent) {
  const std::size_t room = width > indent.size() ? width - indent.size() : 1;
  std::string result;
  const auto emit = [&](std::string_view line) {
    line = line.substr(0, line.find_last_not_of(' ') + 1);
    result.append(indent).append(line).push_back('\n');
  };
  for (;;) {
    const std::size_t newline = text.find('\n');
    std::string_view rest = text.substr(0, newline);
    while (rest.size() > room) {
      // The last blank that leaves a word on the line; else the first after the line's room.
      std::size_t cut = rest.rfind(' ', room);
      if (cut != std::string_view::npos && rest.find_first_not_of(' ') >= cut) {
        cut = std::string_view::npos;
      }
      if (cut == std::string_view::npos) cut = rest.find(' ', room);
      if (cut == std::string_view::npos) break;
      emit(rest.substr(0, cut));
      rest.remove_prefix(cut);
      rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
    }
    emit(rest);
    if (newline == std::string_view::npos) break;
    text.remove_prefix(newline + 1);
  }
  result.pop_back();
  return result;
}

void use_gnu_help(CLI::App& app, std::string_view usage) {
  app.formatter(std::make_shared<GnuHelp>(usage));
}

void write_usage_error(std::ostream& err, std::string_view program, std::string_view usage,
                       std::string_view message) {
  err << program << ": " << message << "\n"
      << usage << "\nTry '" << program << " --help' for more information.\n";
}

std::optional<int> parse_command_line(CLI::App& app, int argc, const char* const* argv,
                                      std::ostream& out, std::ostream& err,
                                      std::string_view usage) {
  constexpr int kUsageStatus = 2;
  if (const auto unknown = unknown_argument(app, argc, argv)) {
    write_usage_error(err, app.get_name(), usage, *unknown);
    return kUsageStatus;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e, out, err);
    write_usage_error(err, app.get_name(), usage, gnu_message(app, e));
    return kUsageStatus;
  }
  return std::nullopt;
}

}  // namespace kestrane
