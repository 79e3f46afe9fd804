// A run to dose columns in memory through the record loop and the sums of every run.
#include "run/dose_run.h"

#include <span>
#include <stdexcept>

#include "output/csv_file.h"
#include "run/column_run.h"

namespace kestrane {
namespace {

// Appends the doses of every processed record to the part of its selected age.
class DoseSink : public RecordSink {
 public:
  DoseSink(const RunSetup& setup, const DoseRows& rows, std::vector<DosePart>& parts)
      : setup_(setup), rows_(rows), parts_(parts), values_(rows.values()) {}

  void record_done(int position, const HeaderRecord& header,
                   const CoefficientTable& coef) override {
    DosePart& part = parts_.at(static_cast<std::size_t>(position));
    part.records.push_back({std::string(trim_spaces(header.nuclide)),
                            std::string(trim_spaces(header.class_or_f1)), header.age_days,
                            header.line_number, header.n});
    for (std::size_t m = 0; m < setup_.times_of(position).size(); ++m) {
      record_doses(rows_.columns, coef, m, values_);
      for (const double value : values_) part.values.push_back(value);
    }
  }

 private:
  const RunSetup& setup_;
  const DoseRows& rows_;
  std::vector<DosePart>& parts_;
  std::vector<double> values_;  // of one time
};

}  // namespace

DoseOutcome run_to_doses(ResolvedRun run, ProgressObserver* progress) {
  if (!run.doses) throw std::invalid_argument("a run to doses needs a weighting scheme");
  RunSetup& setup = run.setup;
  DoseOutcome outcome;
  setup.passed_over = &outcome.records_passed_over;
  outcome.parts.resize(setup.age_groups.size());
  for (std::size_t at = 0; at < outcome.parts.size(); ++at) {
    const std::span<const double> times = setup.times_of(static_cast<int>(at));
    outcome.parts[at].times.assign(times.begin(), times.end());
  }
  DoseSink sink(setup, *run.doses, outcome.parts);
  LineReader& reader = *run.input.reader;
  try {
    process_records(reader, setup, sink, progress);
  } catch (const InputError& error) {
    throw RunStopped(refused_input(error, reader.display_name(), run.input.source.input_path));
  }
  std::vector<const std::vector<RecordFields>*> ages;
  for (const DosePart& part : outcome.parts) ages.push_back(&part.records);
  check_listed_nuclides(run.nuclides, ages);
  outcome.tissues = run.doses->tissues;
  return outcome;
}

}  // namespace kestrane
