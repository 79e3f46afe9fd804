// The text of the commit journal (OUTPUT\kestrane.commit): its lines as a run writes them, and
// the reading back of a journal an earlier run left, which takes only steps that name the
// run's own kinds of files and keeps within a size and a line length.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane {

// One step of a commit. `path` is relative to OUTPUT ("DC100h.OUT", "plots/X.svg"): a rename
// of path + ".partial" to path, or the removal of path.
struct CommitStep {
  bool rename = true;
  std::string path;
};

// A journal larger than this, or with a line longer than this, is no journal of a run.
inline constexpr std::size_t kLargestJournal = std::size_t{1} << 20;
inline constexpr std::size_t kLongestJournalLine = std::size_t{4} << 10;

// Whether a step may name `path` (relative to OUTPUT, '/' between names): only a file of the
// kinds a run writes, in the folder it writes them. In OUTPUT, DC<days><h|g> followed by
// ".OUT", ".csv", "-notes.csv", ".json" or "-dose.csv", with the days of an age group; in
// OUTPUT\plots, a picture "<name>.svg" of the letters, digits and "-+._" that picture names are
// made of. Letters in any case, as the files of a run are found.
bool journal_may_name(std::string_view path);

// `path` (relative to OUTPUT) as messages name it: "OUTPUT\plots\x.svg", any byte that cannot
// be shown written as an escape, a long one cut short.
std::string journal_program_name(std::string_view path);

// The text of a journal of `steps`: a first line, one line a step ("R DC100h.OUT",
// "D DC100h.csv"), and a last line that says it was written whole.
std::string journal_text(const std::vector<CommitStep>& steps);

// What the text of a journal an earlier run left says.
struct JournalReading {
  enum class Kind {
    finished,    // written whole: `steps` are to be carried out
    unfinished,  // cut short before its last line (or not a journal at all): nothing was done
    refused,     // a step names what no run writes, or a line is too long or no step
  };
  Kind kind = Kind::unfinished;
  std::vector<CommitStep> steps;
  std::string refusal;  // why it is refused: "it names OUTPUT\thesis.txt, which no run writes"
};

// Reads `text` back. A step that names what journal_may_name() refuses, or a line longer than
// kLongestJournalLine, refuses the journal, finished or not; in a finished journal so does a
// line that is no step.
JournalReading read_journal_text(std::string_view text);

}  // namespace kestrane
