// The journal of a run's commit: the renames and removals that put the files of a run in
// place, written to OUTPUT\kestrane.commit and flushed before the first of them, removed after
// the last. A run killed among them leaves the journal, and the next run on the folder
// completes what it lists before anything else.
#pragma once

#include <string>
#include <vector>

namespace kestrane {

// The journal's name in OUTPUT.
inline constexpr const char* kCommitJournalName = "kestrane.commit";

// One step of a commit. `path` is relative to OUTPUT ("DC100h.OUT", "plots/X.svg"): a rename
// of path + ".partial" to path, or the removal of path.
struct CommitStep {
  bool rename = true;
  std::string path;
};

// Writes the journal of `steps` anew in the folder `output_fd` (whatever stood at its name is
// removed first; it is made with O_EXCL | O_NOFOLLOW), flushed to the disk with the folder
// when `flush`. Throws OutputError.
void write_commit_journal(int output_fd, const std::vector<CommitStep>& steps, bool flush);

// Carries out `steps` in the folder `output_fd` (subfolders opened without following a
// link), then flushes the folders to the disk when `flush`. `completing` is set when the steps
// are those of a journal an earlier run left: a rename whose partial file is gone was done
// already. Returns the number of files renamed. Throws OutputError naming the file.
int apply_commit_steps(int output_fd, const std::vector<CommitStep>& steps, bool flush,
                       bool completing);

// Removes the journal. Throws OutputError.
void remove_commit_journal(int output_fd);

// Completes the journal a killed run left in `output_fd`, if any, and removes it. Returns the
// files it put in place, or -1 when there was no journal (or one never finished, of a run
// killed before its first rename: it is removed). Throws OutputError.
int complete_interrupted_commit(int output_fd);

// For tests: called before each step of a commit with the step's number (from 1) and what
// it does, and once more after the last step with an empty path; the hook may end the
// process there, to show what a kill at that point leaves.
using CommitStepHook = void (*)(int step, const CommitStep& what);
void set_commit_step_hook(CommitStepHook hook);

}  // namespace kestrane
