// A run to columns in memory: the same request, the same record loop and the same numbers as
// a run to files, with no file written and no lock taken (the Python module's tables).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "output/coefficient_columns.h"
#include "run/run_request.h"

namespace kestrane {

// The coefficients of a run, as the CSV files of the same run lay them out.
struct ColumnOutcome {
  std::vector<CoefficientColumns> columns;  // one per age chosen, in the order chosen
  std::vector<std::string> region_names;    // of the regions chosen, in the order chosen
  std::vector<double> times;                // the integration times
  std::int64_t records_passed_over = 0;
};

// Throws RunStopped (StopKind::no_record) for the first nuclide of `listed` that none of the
// records of `ages` (those of each age in turn) is of, as a run to files stops for it.
void check_listed_nuclides(std::span<const std::string> listed,
                           std::span<const std::vector<RecordFields>* const> ages);

// Runs the record loop of `run` into columns. `progress` (may be null) is told of every
// record, on the calling thread. Throws RunStopped for a refusal of the input, and
// (StopKind::no_record) when a listed nuclide has no processed record.
ColumnOutcome run_to_columns(ResolvedRun run, ProgressObserver* progress);

}  // namespace kestrane
