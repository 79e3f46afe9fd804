// The processing of a run below the dialogue, shared by kestrane and kestrane-batch: open and
// head the coefficient files, run the record loop with every row written at once, close.
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "dose/record_loop.h"
#include "input/line_reader.h"
#include "input/run_tables.h"
#include "output/coefficient_files.h"

namespace kestrane {

// The choices of a run, as the dialogue or the command line made them.
struct RunChoice {
  std::filesystem::path working_dir;  // where DATA, data and OUTPUT are looked for
  DataSet data_set = DataSet::inhalation;
  std::vector<double> times;             // integration times, file order
  std::vector<int> age_groups;           // age-group numbers 1..6, selection order
  std::vector<int> regions;              // region numbers, selection order
  std::vector<std::string> region_list;  // the file's names, then "Lung", then "ALL ORGANS"
  int threads = 0;                       // as RunSetup::threads: 0 automatic, 1 one thread
};

// A run that stopped after its coefficient files were opened. The message names the cause
// (file, line, record); `incomplete_files` lists the coefficient files left incomplete.
class RunStopped : public std::runtime_error {
 public:
  RunStopped(const std::string& message, std::vector<std::string> incomplete_files)
      : std::runtime_error(message), incomplete_files_(std::move(incomplete_files)) {}
  const std::vector<std::string>& incomplete_files() const { return incomplete_files_; }

 private:
  std::vector<std::string> incomplete_files_;
};

class CoefficientRun {
 public:
  // Opens one coefficient file per selected age and writes their headings. Throws
  // OutputError (naming the file and the reason) with no earlier file changed.
  explicit CoefficientRun(RunChoice choice);
  ~CoefficientRun();

  // "Files written: " followed by each file name and one blank, in selected-age order.
  std::string written_files_line() const;
  // After a completed run: "Notes: <n> negative, <n> extended coefficients; see <files>",
  // the notes files named with '/' when `slashes`, else with '\'; empty when no note came.
  std::string notes_line(bool slashes) const;

  // Runs the record loop on `reader` (standing at the first header line), writes the rows of
  // every processed record to its file at once and its notes to the notes file of its age,
  // then closes every file and puts the notes files in place. `also` (may be null)
  // receives every record's coefficients too. Throws RunStopped on any refusal of the input
  // or failure of the output.
  void process(LineReader& reader, ProgressObserver* progress, RecordSink* also = nullptr);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kestrane
