// The commit journal's text: written by a run before its renames, read back by the next run,
// which carries out only steps that name the files a run makes.
#include "output/journal_text.h"

#include <algorithm>
#include <string>

#include "base/ascii.h"
#include "input/data_sets.h"
#include "input/input_error.h"

namespace kestrane {
namespace {

constexpr std::string_view kFirstLine = "kestrane commit journal 1";
constexpr std::string_view kLastLine = "end";

// What follows DC<days><h|g> in the names of the files of a run in OUTPUT.
constexpr std::string_view kOutputEndings[] = {".OUT", ".csv", "-notes.csv", ".json", "-dose.csv"};
constexpr std::string_view kPicturesFolder = "plots";
constexpr std::string_view kPictureEnding = ".svg";

bool ends_with_ignoring_case(std::string_view text, std::string_view ending) {
  return text.size() >= ending.size() &&
         ascii::equal_ignoring_case(text.substr(text.size() - ending.size()), ending);
}

// "DC100h.OUT" and its companions, for the days of an age group.
bool is_output_file(std::string_view name) {
  if (!ascii::starts_with_ignoring_case(name, "DC")) return false;
  name.remove_prefix(2);
  const std::size_t digits = std::min(name.find_first_not_of("0123456789"), name.size());
  const std::string_view days = name.substr(0, digits);
  if (std::none_of(kAgeGroups.begin(), kAgeGroups.end(),
                   [&](const AgeGroup& group) { return days == std::to_string(group.days); })) {
    return false;
  }
  name.remove_prefix(digits);
  if (name.empty() ||
      (ascii::to_lower(name.front()) != 'h' && ascii::to_lower(name.front()) != 'g')) {
    return false;
  }
  name.remove_prefix(1);
  return std::any_of(
      std::begin(kOutputEndings), std::end(kOutputEndings),
      [&](std::string_view ending) { return ascii::equal_ignoring_case(name, ending); });
}

// A picture's name, as plot_file_name() makes it.
bool is_picture(std::string_view name) {
  const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '+' || c == '.' || c == '_';
  });
  return plain && name.size() > kPictureEnding.size() && name != ".." &&
         ends_with_ignoring_case(name, kPictureEnding);
}

JournalReading refusal(std::string reason) {
  JournalReading reading;
  reading.kind = JournalReading::Kind::refused;
  reading.refusal = std::move(reason);
  return reading;
}

}  // namespace

bool journal_may_name(std::string_view path) {
  const std::size_t slash = path.find('/');
  if (slash == std::string_view::npos) return is_output_file(path);
  return ascii::equal_ignoring_case(path.substr(0, slash), kPicturesFolder) &&
         is_picture(path.substr(slash + 1));
}

std::string journal_program_name(std::string_view path) {
  std::string name = "OUTPUT\\" + printable_excerpt(path);
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

std::string journal_text(const std::vector<CommitStep>& steps) {
  std::string text(kFirstLine);
  text += '\n';
  for (const CommitStep& step : steps) {
    text += step.rename ? "R " : "D ";
    text += step.path;
    text += '\n';
  }
  text += kLastLine;
  text += '\n';
  return text;
}

JournalReading read_journal_text(std::string_view text) {
  JournalReading reading;
  std::size_t line_number = 1;
  std::size_t first_odd_line = 0;  // the first line that is no step, 0 when none
  bool ended = false;              // the last line seen, and nothing after it
  bool first = true;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    if (line.size() > kLongestJournalLine) {
      return refusal("its line " + std::to_string(line_number) + " is longer than 4 KiB");
    }
    if (end == std::string_view::npos) {  // cut short in the middle of its last line
      ended = false;
      break;
    }
    text.remove_prefix(end + 1);
    if (first) {
      if (line != kFirstLine) return reading;  // not a journal of a run: nothing was done
      first = false;
    } else if (ended) {
      if (first_odd_line == 0) first_odd_line = line_number - 1;  // the last line stood before
      ended = false;
    }
    if (line_number > 1 && line == kLastLine) {
      ended = true;
    } else if (line_number > 1) {
      const bool step = line.size() > 2 && (line[0] == 'R' || line[0] == 'D') && line[1] == ' ';
      if (!step) {
        if (first_odd_line == 0) first_odd_line = line_number;
      } else if (const std::string_view path = line.substr(2); !journal_may_name(path)) {
        return refusal("it names " + journal_program_name(path) + ", which no run writes");
      } else {
        reading.steps.push_back({line[0] == 'R', std::string(path)});
      }
    }
    ++line_number;
  }
  if (!ended) {
    reading.steps.clear();
    return reading;
  }
  if (first_odd_line != 0) {
    return refusal("its line " + std::to_string(first_odd_line) + " is not a step of a commit");
  }
  reading.kind = JournalReading::Kind::finished;
  return reading;
}

}  // namespace kestrane
