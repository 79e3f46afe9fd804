// A run to columns in memory through the record loop of every run.
#include "run/column_run.h"

#include <span>

#include "run/choice_lists.h"

namespace kestrane {

void check_listed_nuclides(std::span<const std::string> listed,
                           std::span<const std::vector<RecordFields>* const> ages) {
  for (const std::string& nuclide : listed) {
    bool met = false;
    for (const std::vector<RecordFields>* records : ages) {
      for (const RecordFields& record : *records) {
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
}

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
  std::vector<const std::vector<RecordFields>*> ages;
  for (const CoefficientColumns& part : outcome.columns) ages.push_back(&part.records);
  check_listed_nuclides(run.nuclides, ages);
  outcome.region_names = setup.region_names;
  outcome.times = setup.times;
  return outcome;
}

}  // namespace kestrane
