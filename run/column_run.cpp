// A run to columns in memory through the record loop of every run.
#include "run/column_run.h"

#include <span>

#include "run/choice_lists.h"

namespace kestrane {

ColumnOutcome run_to_columns(ResolvedRun run, ProgressObserver* progress) {
  RunSetup& setup = run.setup;
  ColumnOutcome outcome;
  setup.passed_over = &outcome.records_passed_over;
  ColumnSink sink(setup.age_groups.size(), setup.times, setup.regions.size());
  LineReader& reader = *run.input.reader;
  try {
    process_records(reader, setup, sink, progress);
  } catch (const InputError& error) {
    throw RunStopped(refused_input(error, reader.display_name(), run.input.source.input_path));
  }
  outcome.columns = std::move(sink.columns());
  for (const std::string& nuclide : run.nuclides) {
    bool met = false;
    for (const CoefficientColumns& part : outcome.columns) {
      for (const RecordFields& record : part.records) {
        met = met || nuclide_chosen(std::span<const std::string>(&nuclide, 1), record.nuclide);
      }
    }
    if (!met) {
      RunStop stop;
      stop.kind = StopKind::no_record;
      stop.reason = "No record of the nuclide " + nuclide + " was processed.";
      stop.message = stop.reason;
      throw RunStopped(std::move(stop));
    }
  }
  outcome.region_names = setup.region_names;
  outcome.times = setup.times;
  return outcome;
}

}  // namespace kestrane
