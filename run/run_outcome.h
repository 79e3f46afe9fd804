// How a run ended, in parts and without screen text: the files it put in place with their
// kinds and the counts of its notes, or the stop with the file, line and record it names and
// the partial files it leaves. Each front end lays these out in its own way.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "dose/record_loop.h"
#include "input/input_error.h"

namespace kestrane {

// What a file of the run holds.
enum class FileKind { coefficients, csv, notes, doses, provenance, picture };

// A file of the run: its kind, its program name ("OUTPUT\DC100h.OUT", or under another output
// folder that folder's name with '\') and its host path.
struct RunFile {
  FileKind kind = FileKind::coefficients;
  std::string name;
  std::filesystem::path path;
};

// A run that completed.
struct RunOutcome {
  // The files put in place: the coefficient files in the order of the ages, then the CSV
  // files, the notes files that hold rows, the dose files, the provenance files and the
  // pictures.
  std::vector<RunFile> files;
  NoteCounts notes;           // of the whole run
  int completed_commit = -1;  // files of an earlier run's cut-short commit put in place
  std::string journal_set_aside;  // why an earlier run's journal was set aside untouched
  std::int64_t records_processed = 0;
  std::int64_t records_passed_over = 0;  // of an age not chosen, or of a nuclide not listed

  // The files of one kind, in the order above.
  std::vector<RunFile> of_kind(FileKind kind) const;
};

// Why a run stopped, in parts.
struct RunStop {
  StopKind kind = StopKind::input_refused;
  std::string file;            // the file it names (program name), or empty
  std::filesystem::path path;  // the host path of that file, where it has one
  std::int64_t line = 0;       // 1-based; 0 when none
  std::int64_t record = 0;     // the line of the record's header; 0 outside a record
  std::string reason;          // the reason alone
  std::string message;         // the refusal as the core words it ("<file>, line <n>: ...")
  // For a missing file: a folder on its way that may not be searched, and why (empty when the
  // file is simply not there).
  std::string unsearchable_folder;
  std::string folder_error;
  // A stop after the files of the run were made: the partial files it leaves (holding the
  // rows written), as program names and host paths. The earlier files are always kept, but
  // by a stop in the middle of the renames, which the next run on the folder completes.
  std::vector<std::string> partial_files;
  std::vector<std::filesystem::path> partial_paths;
  bool commit_cut_short = false;
  int completed_commit = -1;      // as RunOutcome::completed_commit
  std::string journal_set_aside;  // as RunOutcome::journal_set_aside
};

// The stop for a refusal of an input file: its parts, or those read from its message, with
// `file` (program name) and `path` (host path) for the file being read when it names none.
RunStop refused_input(const InputError& error, std::string_view file,
                      const std::filesystem::path& path);

// A run that stopped; what() is the stop's message.
class RunStopped : public std::runtime_error {
 public:
  explicit RunStopped(RunStop stop) : std::runtime_error(stop.message), stop_(std::move(stop)) {}
  const RunStop& stop() const { return stop_; }

 private:
  RunStop stop_;
};

}  // namespace kestrane
