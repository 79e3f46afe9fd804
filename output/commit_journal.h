// The journal of a run's commit: the renames and removals that put the files of a run in
// place, written to OUTPUT\kestrane.commit and flushed before the first of them, removed after
// the last. A run killed among them leaves the journal, and the next run on the folder
// completes what it lists before anything else, provided that it names only the run's own
// files; any other journal is set aside as OUTPUT\kestrane.commit.refused, untouched.
#pragma once

#include <string>
#include <vector>

#include "output/journal_text.h"

namespace kestrane {

// The journal's name in OUTPUT, and the name a journal that is not carried out is given.
inline constexpr const char* kCommitJournalName = "kestrane.commit";
inline constexpr const char* kRefusedJournalName = "kestrane.commit.refused";

// Writes the journal of `steps` anew in the folder `output_fd` (whatever stood at its name is
// removed first; it is made with O_EXCL | O_NOFOLLOW), flushed to the disk with the folder
// when `flush`. Every step must name a file journal_may_name() takes (std::logic_error
// otherwise), so that the next run would complete it. Throws OutputError.
void write_commit_journal(int output_fd, const std::vector<CommitStep>& steps, bool flush);

// Carries out the steps of this run's commit in the folder `output_fd` (subfolders opened
// without following a link), then flushes the folders to the disk when `flush`. Throws
// OutputError naming the file.
void apply_commit_steps(int output_fd, const std::vector<CommitStep>& steps, bool flush);

// Removes the journal. Throws OutputError.
void remove_commit_journal(int output_fd);

// What a run found of the journal an earlier run left.
struct EarlierJournal {
  // The files put in place by completing it; -1 when none was completed (no journal, one
  // never finished, or one set aside).
  int completed = -1;
  // When it was set aside, the line that says so and why:
  // "Set aside OUTPUT\kestrane.commit: it names OUTPUT\thesis.txt, which no run writes".
  std::string set_aside;
};

// Completes the journal a killed run left in `output_fd`, if any, and removes it. A journal
// never finished (of a run killed before its first rename) is removed. A journal that is not
// a regular file is never opened for reading, and one larger than kLargestJournal never read
// whole. One that is not a regular file, is too large, has a line too long, names what no run
// writes, or whose steps OUTPUT does not allow as it stands (a rename from anything but a
// regular file, or onto anything but one; a removal of anything but a regular file or a link;
// a path through a link) is not carried out at all: it is renamed to kRefusedJournalName, and
// `set_aside` says why. A rename whose partial file is gone was done already. Throws
// OutputError for a folder at the journal's name, and for a step that fails while it is
// carried out, with a message that names the journal, what it asked and that removing the
// journal lets the next run go on.
EarlierJournal complete_interrupted_commit(int output_fd);

// For tests: called before each step of a commit with the step's number (from 1) and what
// it does, and once more after the last step with an empty path; the hook may end the
// process there, to show what a kill at that point leaves.
using CommitStepHook = void (*)(int step, const CommitStep& what);
void set_commit_step_hook(CommitStepHook hook);
// For tests: called in the same way before each step of an earlier run's journal, once it
// has been checked, is carried out; the hook may change OUTPUT there.
void set_completion_step_hook(CommitStepHook hook);

}  // namespace kestrane
