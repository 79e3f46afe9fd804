// The processing of a run below the dialogue: coefficient files opened and headed, the record
// loop writing every processed record's rows at once, and every stop turned into RunStopped.
#include "app/processing.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "output/notes_file.h"

namespace kestrane {

namespace {

// The names of the selected regions, in selection order, from the region list.
std::vector<std::string> selected_region_names(const RunChoice& choice) {
  std::vector<std::string> names;
  names.reserve(choice.regions.size());
  for (const int region : choice.regions) {
    if (region < 1 || static_cast<std::size_t>(region) > choice.region_list.size()) {
      throw std::invalid_argument("region number " + std::to_string(region) +
                                  " is not in the region list");
    }
    names.push_back(choice.region_list[static_cast<std::size_t>(region) - 1]);
  }
  return names;
}

// Appends the rows of each processed record to the coefficient file of its age, in the
// layout of the data set in use, and passes the record on. The rows are formatted in
// prepare(), which the record loop may run on a worker thread, and written in one write per
// record on the loop's thread.
class FileSink : public RecordSink {
 public:
  FileSink(CoefficientFiles& files, const RunSetup& setup, RunNotes& notes, RecordSink* also)
      : files_(files), setup_(setup), notes_(notes), also_(also) {}

  void record_done(int position, const HeaderRecord& header,
                   const CoefficientTable& coef) override {
    std::string text = prepare(position, header, coef);
    record_prepared(position, header, coef, text);
  }

  // The rows, then the record's notes, both formatted on the worker thread, then a NUL byte
  // (which neither holds) and "<length of the rows> <negative> <extended> <notes>".
  std::string prepare(int /*position*/, const HeaderRecord& header,
                      const CoefficientTable& coef) const override {
    std::string text = coefficient_block(setup_.data_set, header.line, coef, setup_.times,
                                         static_cast<int>(setup_.regions.size()));
    const std::size_t rows = text.size();
    const NoteCounts counts = notes_.format(text, header, coef);
    text += '\0';
    for (const std::int64_t n :
         {static_cast<std::int64_t>(rows), counts.negative, counts.extended, counts.rows}) {
      text += std::to_string(n);
      text += ' ';
    }
    return text;
  }

  void record_prepared(int position, const HeaderRecord& header, const CoefficientTable& coef,
                       std::string& text) override {
    const std::size_t end = text.rfind('\0');
    std::int64_t numbers[4] = {};
    const char* at = text.data() + end + 1;
    const char* const last = text.data() + text.size();
    for (std::int64_t& n : numbers) at = std::from_chars(at, last, n).ptr + 1;
    const std::string_view all(text);
    const auto rows = static_cast<std::size_t>(numbers[0]);
    files_.write_block(position, all.substr(0, rows));
    notes_.add(position, all.substr(rows, end - rows), {numbers[1], numbers[2], numbers[3]});
    if (also_ != nullptr) also_->record_done(position, header, coef);
  }

 private:
  CoefficientFiles& files_;
  const RunSetup& setup_;
  RunNotes& notes_;
  RecordSink* also_;
};

}  // namespace

struct CoefficientRun::Impl {
  RunSetup setup;
  CoefficientFiles files;
  std::vector<std::string> file_names;
  std::optional<RunNotes> notes;
  bool processed = false;
};

CoefficientRun::CoefficientRun(RunChoice choice) : impl_(std::make_unique<Impl>()) {
  if (choice.region_list.size() < 2) {
    throw std::invalid_argument("the region list lacks \"Lung\" and \"ALL ORGANS\"");
  }
  const std::vector<std::string> region_names = selected_region_names(choice);

  RunSetup& setup = impl_->setup;
  setup.data_set = choice.data_set;
  setup.times = std::move(choice.times);
  setup.age_groups = std::move(choice.age_groups);
  setup.regions = std::move(choice.regions);
  // The region list holds the file's names, then "Lung", then "ALL ORGANS".
  setup.lung_region = static_cast<int>(choice.region_list.size()) - 1;
  setup.threads = choice.threads;

  impl_->files = open_coefficient_files(choice.working_dir, setup.data_set, setup.age_groups);
  for (int k = 0; k < impl_->files.size(); ++k) {
    impl_->file_names.push_back(impl_->files.name(k));
  }
  impl_->files.write_coefficient_headers(setup.data_set, setup.age_groups, region_names);
  impl_->notes.emplace(choice.working_dir, setup.data_set, setup.age_groups, setup.times,
                       region_names);
}

CoefficientRun::~CoefficientRun() = default;

std::string CoefficientRun::notes_line(bool slashes) const {
  return impl_->processed ? impl_->notes->summary_line(slashes) : std::string();
}

std::string CoefficientRun::written_files_line() const {
  std::string line = "Files written: ";
  for (const std::string& name : impl_->file_names) {
    line += name;
    line += ' ';
  }
  return line;
}

void CoefficientRun::process(LineReader& reader, ProgressObserver* progress, RecordSink* also) {
  Impl& run = *impl_;
  if (run.processed) throw std::logic_error("a run is processed only once");
  run.processed = true;

  // A stop keeps every row already written: the files are closed where they stand, and all of
  // them are reported incomplete, since the loop did not reach the end of the dose-rate file.
  const auto stop = [&run](const char* cause) {
    run.notes->abandon();  // the notes of an earlier run stay as they were
    try {
      run.files.close_all();
    } catch (const OutputError&) {
      // The first cause is the one to report.
    }
    throw RunStopped(cause, run.file_names);
  };
  try {
    FileSink sink(run.files, run.setup, *run.notes, also);
    process_records(reader, run.setup, sink, progress);
    run.files.close_all();
    run.notes->commit();
  } catch (const InputError& e) {
    stop(e.what());
  } catch (const OutputError& e) {
    stop(e.what());
  }
}

}  // namespace kestrane
