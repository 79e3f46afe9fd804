// A run to files: the record loop writing every processed record's rows to the partial files
// of the run, and the files put in place together at the end, in one commit.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dose/record_loop.h"
#include "run/run_outcome.h"
#include "run/run_request.h"

namespace kestrane {

class FileRun {
 public:
  // Takes the lock of the output folder (completing the commit of an earlier run that was cut
  // short), makes the partial file of every coefficient file (and CSV file) of the run and
  // writes their headings. Throws RunStopped (StopKind::output_failed, naming the file and the
  // reason, with completed_commit set) with no earlier file changed and no partial file left.
  explicit FileRun(ResolvedRun run);
  ~FileRun();
  FileRun(const FileRun&) = delete;
  FileRun& operator=(const FileRun&) = delete;

  // The files of an earlier run's cut-short commit that this run put in place; -1 for none.
  int completed_commit() const;
  // Why this run set an earlier run's journal aside untouched; empty when it did not.
  std::string journal_set_aside() const;
  // The partial files the run has made so far (a notes file's is made with its first row),
  // as program names and host paths, coefficient files first.
  std::vector<std::string> partial_names() const;
  std::vector<std::filesystem::path> partial_paths() const;

  // `call` is called each time the processing makes a partial file after the start (a notes
  // file's, with its first rows, or a picture's), so that a note of the partial files can
  // follow.
  void on_new_partial_file(std::function<void()> call);
  // `call` is called with the outcome once the files of the run are in place, while the quit
  // signals are still blocked: a note of an interrupt set there is the one a signal that came
  // meanwhile writes.
  void on_committed(std::function<void(const RunOutcome&)> call);

  // Runs the record loop on the run's dose-rate file, writes the rows of every processed
  // record to its partial files, its notes to the notes file of its age and, for a record of
  // the picture nuclide, its pictures, then flushes them and puts them all in place of the
  // earlier files in one commit (removing every companion file of a coefficient file that
  // this run did not make). A listed nuclide or the picture nuclide without a processed record
  // stops the run before anything is replaced. `also` (may be null) receives every record's
  // coefficients too. Throws RunStopped on any refusal of the input or failure of the output;
  // the partial files then keep the rows written, and the earlier files are as they were.
  RunOutcome process(ProgressObserver* progress, RecordSink* also = nullptr);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// What the run did with the journal of an earlier run's commit cut short, in the line both
// programs show first: `journal_set_aside` where it set the journal aside untouched ("Set aside
// OUTPUT\kestrane.commit: it names OUTPUT\thesis.txt, which no run writes"), else "Completed
// the interrupted commit of an earlier run: N files put in place" for a `completed_commit` of
// 0 or more; empty when there was no such journal.
std::string earlier_commit_line(int completed_commit, const std::string& journal_set_aside);

// The line both front ends show after a run that noted any coefficient: "Notes: 348 negative,
// 2331 extended coefficients in 53 records; see" and each of `files` after a blank, with
// "7 exponential tails taken as constant; " before "see" where any fell back; empty when
// `counts` holds no note.
std::string notes_line(const NoteCounts& counts, const std::vector<std::string>& files);

// The line a stop in the middle of the renames of a run adds to its message.
inline constexpr std::string_view kCommitCutShortText =
    "The files of the run were being put in place; the next run on this folder completes it.";

}  // namespace kestrane
