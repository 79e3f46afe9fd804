// The run below the dialogue and the command line, shared by kestrane and kestrane-batch: the
// input files located and read, then the files of the run written and put in place together.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "dose/record_loop.h"
#include "input/data_sets.h"
#include "input/input_error.h"
#include "input/line_reader.h"
#include "output/coefficient_files.h"
#include "output/hash_cache.h"
#include "output/notes_file.h"
#include "output/provenance.h"

namespace kestrane {

// Why a run could not be prepared. `missing_file`: a file was not found, and `lines` are the
// lines of the message, each beginning with a blank (" Unable to locate the file ...").
// Otherwise an input file was refused, and `lines` holds its one message (file, line, reason).
// `details` holds the same stop in parts, for a front end that lays it out otherwise.
struct PreparationStop {
  bool missing_file = false;
  std::vector<std::string> lines;
  StopDetails details;
};

// Where the input of a run comes from, for its provenance files: the host paths of the
// integration-times and dose-rate files and the SHA-256 of the dose-rate file: either the one
// an earlier run took of the same unchanged file, or one worked out from every byte the reader
// reads.
struct RunSource {
  std::filesystem::path times_path;
  std::filesystem::path input_path;
  std::shared_ptr<BackgroundSha256> input_sha256;  // when hashed as read
  std::string remembered_sha256;                   // when an earlier run hashed the file
  std::optional<FileStamp> input_stamp;            // the file opened, by fstat
  std::int64_t read_from_ns = 0;                   // when the run began to read it
};

// The input of a run, located and read.
struct PreparedRun {
  std::string data_set_path;            // "DATA\KVR13INH.DRT"
  RunSource source;                     // set with the reader
  std::vector<double> times;            // the integration times, file order
  std::optional<LineReader> reader;     // the dose-rate file, standing at its first header line
  std::optional<PreparationStop> stop;  // set when the run cannot go on
};

// Locates and reads data\Kestrane.ini, locates and opens the dose-rate file of `data_set`, in
// that order, under `working_dir`, and hands the open file to `read_names`, which reads its
// title and region-name lines (the dialogue reads them as it builds its list boxes, the
// command line with read_region_names). The first file that is missing or refused (an
// InputError, from `read_names` too) ends it with `stop` set.
PreparedRun prepare_run(const std::filesystem::path& working_dir, DataSet data_set,
                        const std::function<void(LineReader&)>& read_names);

// For tests: called by prepare_run once the dose-rate file is found, just before it is opened
// (a test may switch the file its path names there).
void set_before_input_open_hook(void (*hook)());

// "Notes: 348 negative, 2331 extended coefficients in 53 records; see" and each of `files`
// after a blank:
// the line both front ends show after a run that noted any coefficient; empty when `counts`
// holds no note.
std::string notes_line(const NoteCounts& counts, const std::vector<std::string>& files);

// The choices of a run, as the dialogue or the command line made them.
struct RunChoice {
  std::filesystem::path working_dir;  // where DATA, data and OUTPUT are looked for
  DataSet data_set = DataSet::inhalation;
  std::vector<double> times;             // integration times, file order
  std::vector<int> age_groups;           // age-group numbers 1..6, selection order
  std::vector<int> regions;              // region numbers, selection order
  std::vector<std::string> region_list;  // the file's names, then "Lung", then "ALL ORGANS"
  int threads = 0;                       // as RunSetup::threads: 0 automatic, 1 one thread
  bool csv = false;                      // also a CSV file beside each coefficient file
  std::string plot_nuclide;              // pictures of this nuclide's records; empty for none
  // Only the records of these nuclides (as typed; compared without regard to case and trailing
  // blanks); all when empty. A listed nuclide without a processed record stops the run.
  std::vector<std::string> nuclides;
  RunSource source;  // as prepare_run found it
};

// The line a stop in the middle of the renames of a run adds to its message.
inline constexpr std::string_view kCommitCutShortText =
    "The files of the run were being put in place; the next run on this folder completes it.";

// A run that stopped after its files were made. The message names the cause (file, line,
// record); `incomplete_files` lists the partial files left, which hold the rows written
// before the stop (program names, "OUTPUT\DC100h.OUT.partial"), and `incomplete_paths` the
// same files as host paths. Every earlier file is as it was.
class RunStopped : public std::runtime_error {
 public:
  RunStopped(StopDetails details, std::vector<std::string> incomplete_files,
             std::vector<std::filesystem::path> incomplete_paths)
      : std::runtime_error(details.message),
        details_(std::move(details)),
        incomplete_files_(std::move(incomplete_files)),
        incomplete_paths_(std::move(incomplete_paths)) {}
  // The stop in parts: an input refusal (file, line, record, reason) or a failed output.
  const StopDetails& details() const { return details_; }
  const std::vector<std::string>& incomplete_files() const { return incomplete_files_; }
  const std::vector<std::filesystem::path>& incomplete_paths() const { return incomplete_paths_; }

 private:
  StopDetails details_;
  std::vector<std::string> incomplete_files_;
  std::vector<std::filesystem::path> incomplete_paths_;
};

class CoefficientRun {
 public:
  // Takes the lock of the OUTPUT folder, makes the partial file of every coefficient file
  // (and CSV file) of the run and writes their headings. Throws OutputError (naming the file
  // and the reason) with no earlier file changed and no partial file left.
  explicit CoefficientRun(RunChoice choice);
  ~CoefficientRun();

  // "Files written: " followed by each coefficient file name and one blank, in selected-age
  // order.
  std::string written_files_line() const;
  // Every file of the run, coefficient files first, then the CSV files, then the notes files
  // that hold rows, then the provenance files: program names ("OUTPUT\DC100h.OUT") and host paths
  // under the working directory.
  std::vector<std::string> written_files() const;
  std::vector<std::filesystem::path> written_paths() const;
  // The partial files the run has made so far, in the same order.
  std::vector<std::string> partial_files() const;
  std::vector<std::filesystem::path> partial_paths() const;
  // After a completed run: the notes line (see notes_line() above) naming the notes files
  // that hold rows by their program names; empty when no note came.
  std::string notes_line() const;
  // The counts of the run's notes and the host paths of the notes files that hold rows.
  NoteCounts note_counts() const;
  std::vector<std::filesystem::path> notes_paths() const;
  // `call` is called each time the processing makes a partial file after the start (a notes
  // file's, with its first rows, or a picture's), so that a note of the partial files can
  // follow.
  void on_new_partial_file(std::function<void()> call);
  // `call` is called once the files of the run are in place, while the quit signals are still
  // blocked: a note of an interrupt set there is the one a signal that came meanwhile writes.
  void on_committed(std::function<void()> call);
  // What this run did with the journal of an earlier run's commit cut short: "Completed the
  // interrupted commit of an earlier run: N files put in place" when it completed it, "Set
  // aside OUTPUT\kestrane.commit: it names OUTPUT\thesis.txt, which no run writes" (or another
  // reason) when it set it aside untouched; empty when there was none. Both front ends show
  // it first; a refusal of the run's files (OutputError) begins with this line too.
  std::string earlier_commit_line() const;

  // Runs the record loop on `reader` (standing at the first header line), writes the rows of
  // every processed record to its partial files, its notes to the notes file of its age and,
  // for a record of the --plot nuclide, its pictures, then flushes them and puts them all in
  // place of the earlier files in one commit (removing every companion file of a coefficient
  // file that this run did not make). A --plot nuclide without a processed record stops the
  // run before anything is replaced. `also` (may be null) receives every record's coefficients
  // too. Throws RunStopped on any refusal of the input or failure of the output; the partial
  // files then keep the rows written, and the earlier files are as they were.
  void process(LineReader& reader, ProgressObserver* progress, RecordSink* also = nullptr);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kestrane
