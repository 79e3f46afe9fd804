// The record loop: walks the nuclide records of a dose-rate file, matches each to a selected
// age, integrates its rates and hands the coefficients to the coefficient files.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "input/dose_rate_file.h"
#include "input/line_reader.h"
#include "input/run_tables.h"

namespace kestrane {

// What the loop needs to know of the run.
struct RunSetup {
  DataSet data_set = DataSet::inhalation;
  std::vector<double> times;        // integration times T(1..M), days
  std::vector<int> age_groups;      // selected age-group numbers 1..6, in selection order
  std::vector<int> regions;         // selected region numbers, in selection order
  int lung_region = 30;             // region number of the composite "Lung" (names + 1)
};

// Receives the coefficients of every processed record.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  // `position` is the 0-based selected-age position the record matched.
  virtual void record_done(int position, const HeaderRecord& header,
                           const CoefficientTable& coef) = 0;
};

// Told of every processed record, for a progress display. Called on the loop's thread;
// an implementation must return quickly.
class ProgressObserver {
 public:
  virtual ~ProgressObserver() = default;
  virtual void record_processed(const HeaderRecord& header, std::uint64_t bytes_done,
                                std::uint64_t bytes_total) = 0;
};

// The first selected-age position (1-based) whose age group matches `age_days`, or 0.
int match_age(std::int32_t age_days, std::span<const int> age_groups);

// Reads records from the reader (standing at the first header line) to the end of the
// file. Throws InputError, naming the file, line and header line, when a record cannot be
// read or integrated; rows of earlier records have been handed to the sink by then.
void process_records(LineReader& reader, const RunSetup& setup, RecordSink& sink,
                     ProgressObserver* progress);

}  // namespace kestrane
