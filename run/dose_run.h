// A run to dose columns in memory: the same request, record loop and sums as a run that
// writes the dose files, with no file written (the Python module's dose table).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/coefficient_columns.h"
#include "run/run_request.h"

namespace kestrane {

// The doses of one selected age, in the order of its dose file: for every record, for each of
// its integration times, the equivalent dose of every tissue, the remainder's and the
// effective dose.
struct DosePart {
  std::vector<RecordFields> records;
  std::vector<double> times;  // the integration times of the age's file
  ChunkedDoubles values;
};

struct DoseOutcome {
  std::vector<DosePart> parts;       // one per age chosen, in the order chosen
  std::vector<std::string> tissues;  // the scheme's tissue names, in its order
  std::int64_t records_passed_over = 0;
};

// Runs the record loop of `run`, which must hold a weighting scheme (std::invalid_argument
// otherwise), into dose columns. `progress` (may be null) is told of every record, on the
// calling thread. Throws RunStopped for a refusal of the input, and (StopKind::no_record) when
// a listed nuclide has no processed record.
DoseOutcome run_to_doses(ResolvedRun run, ProgressObserver* progress);

}  // namespace kestrane
