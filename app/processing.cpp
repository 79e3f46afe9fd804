// The run below the dialogue and the command line: the input files located and read, the
// record loop writing every processed record's rows to partial files, and the files put in
// place together at the end; every stop turned into PreparationStop or RunStopped.
#include "app/processing.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "app/run_driver.h"
#include "app/screen_texts.h"
#include "dose/run_request.h"
#include "input/ascii.h"
#include "input/integration_times.h"
#include "output/csv_file.h"
#include "output/notes_file.h"
#include "output/output_files.h"
#include "output/plot_pass.h"
#include "platform/file_services.h"

namespace kestrane {

namespace {

PreparationStop missing(std::vector<std::string> lines, const std::string& file) {
  StopDetails details{
      StopKind::missing_file, file, 0, 0, std::string(ascii::trim(kUnableToLocate)), {}};
  for (const std::string& line : lines) details.message += line + "\n";
  return {true, std::move(lines), std::move(details)};
}

PreparationStop refused(const InputError& error, const std::string& file) {
  return {false, {error.what()}, stop_details(error, file)};
}

// Appends the rows of each processed record to the coefficient file of its age, in the
// layout of the data set in use, and passes the record on to the CSV files and to `also`.
// The rows are formatted in prepare(), which the record loop may run on a worker thread, and
// written in one write per record on the loop's thread.
class FileSink : public RecordSink {
 public:
  FileSink(CoefficientFiles& files, const RunSetup& setup, RunNotes& notes, RecordSink* csv,
           RecordSink* also, RecordPictures* pictures)
      : files_(files), setup_(setup), notes_(notes), csv_(csv), also_(also), pictures_(pictures) {}

  void record_done(int position, const HeaderRecord& header,
                   const CoefficientTable& coef) override {
    std::string text = prepare(position, header, coef);
    record_prepared(position, header, coef, text);
  }

  // As prepare(), followed for a record of the --plot nuclide by a NUL byte and its pictures
  // (RecordPictures::draw), drawn on the worker thread too from the record's rates.
  std::string prepare_from(int position, const HeaderRecord& header, const RateTable& rates,
                           const CoefficientTable& coef) const override {
    std::string text = prepare(position, header, coef);
    if (pictures_ != nullptr && pictures_->wanted(header)) {
      text += '\0';
      pictures_->draw(text, header, rates);
    }
    return text;
  }

  // The rows, then the record's notes, both formatted on the worker thread, then a NUL byte
  // (which neither holds) and "<length of the rows> <negative> <extended> <notes>".
  std::string prepare(int /*position*/, const HeaderRecord& header,
                      const CoefficientTable& coef) const override {
    std::string text = coefficient_block(setup_.data_set, header.line, coef, setup_.times,
                                         static_cast<int>(setup_.regions.size()));
    const std::size_t rows = text.size();
    const NoteCounts counts = notes_.format(text, header, coef);  // grows the text once
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
    const std::size_t end = text.find('\0');
    std::int64_t numbers[4] = {};
    const char* at = text.data() + end + 1;
    const char* const last = text.data() + text.size();
    for (std::int64_t& n : numbers) at = std::from_chars(at, last, n).ptr + 1;
    const std::string_view all(text);
    const auto rows = static_cast<std::size_t>(numbers[0]);
    files_.write_block(position, all.substr(0, rows));
    notes_.add(position, all.substr(rows, end - rows), {numbers[1], numbers[2], numbers[3]});
    if (at < last && pictures_ != nullptr) {
      pictures_->add(all.substr(static_cast<std::size_t>(at - text.data()) + 1));  // after its NUL
    }
    if (csv_ != nullptr) csv_->record_done(position, header, coef);
    if (also_ != nullptr) also_->record_done(position, header, coef);
  }

  bool reads_prepared_table() const override { return csv_ != nullptr || also_ != nullptr; }

 private:
  CoefficientFiles& files_;
  const RunSetup& setup_;
  RunNotes& notes_;
  RecordSink* csv_;
  RecordSink* also_;
  RecordPictures* pictures_;
};

// The name of the companion `extension` (".json") of the coefficient file `name`.
std::string companion_name(const std::string& coefficient_name, std::string_view extension) {
  return coefficient_name.substr(0, coefficient_name.rfind('.')) + std::string(extension);
}

}  // namespace

PreparedRun prepare_run(const std::filesystem::path& working_dir, DataSet data_set,
                        const std::function<void(LineReader&)>& read_names) {
  PreparedRun run;
  run.data_set_path = "DATA\\" + std::string(data_set_file_name(data_set));
  const std::string times_path(kIntegrationTimesPath);
  if (!program_file_exists(working_dir, times_path)) {
    run.stop = missing(
        {std::string(kUnableToLocate) + times_path + ".", std::string(kIntegrationTimesNote)},
        times_path);
    return run;
  }
  try {
    run.times = read_integration_times(resolve_program_path(working_dir, times_path), times_path);
  } catch (const InputError& error) {
    run.stop = refused(error, times_path);
    return run;
  }
  if (!program_file_exists(working_dir, run.data_set_path)) {
    run.stop = missing({std::string(kUnableToLocate) + run.data_set_path + "."}, run.data_set_path);
    return run;
  }
  try {
    run.reader.emplace(resolve_program_path(working_dir, run.data_set_path), run.data_set_path);
    read_names(*run.reader);
  } catch (const InputError& error) {
    run.reader.reset();
    run.stop = refused(error, run.data_set_path);
  }
  return run;
}

std::string notes_line(const NoteCounts& counts, const std::vector<std::string>& files) {
  if (counts.rows == 0) return {};
  std::string line = std::string(kNotesText) + std::to_string(counts.negative) +
                     std::string(kNotesNegativeText) + std::to_string(counts.extended) +
                     std::string(kNotesExtendedText);
  for (const std::string& name : files) line += ' ' + name;
  return line;
}

struct CoefficientRun::Impl {
  explicit Impl(const std::filesystem::path& working_dir) : output(working_dir) {}
  RunSetup setup;
  OutputFiles output;
  CoefficientFiles files;
  std::optional<CsvFiles> csv;
  std::optional<RunNotes> notes;
  std::optional<RecordPictures> pictures;
  std::vector<int> provenance_files;  // the companion DC<days><h|g>.json of each age
  std::function<void()> on_new_file;
  std::function<void()> on_committed;
  bool processed = false;
};

CoefficientRun::CoefficientRun(RunChoice choice) {
  if (choice.region_list.size() < 2) {
    throw std::invalid_argument("the region list lacks \"Lung\" and \"ALL ORGANS\"");
  }
  // The region list holds the file's names, then "Lung", then "ALL ORGANS".
  RunRequest request;
  request.data_set = choice.data_set;
  request.times = std::move(choice.times);
  request.age_groups = std::move(choice.age_groups);
  request.regions = std::move(choice.regions);
  request.file_names.assign(choice.region_list.begin(), choice.region_list.end() - 2);
  request.threads = choice.threads;
  RunSetup resolved = make_run_setup(request);  // refuses a region without a name first
  impl_ = std::make_unique<Impl>(choice.working_dir);
  impl_->setup = std::move(resolved);
  const RunSetup& setup = impl_->setup;
  const std::vector<std::string>& region_names = setup.region_names;

  try {
    impl_->files = open_coefficient_files(impl_->output, setup.data_set, setup.age_groups);
    if (choice.csv) {
      impl_->csv.emplace(impl_->output, setup.data_set, setup.age_groups, setup.times,
                         region_names);
    }
    impl_->notes.emplace(impl_->output, setup.data_set, setup.age_groups, setup.times,
                         region_names);
    // Every companion of a coefficient file that this run does not make is removed when the
    // run is put in place, so that none from an earlier run stands beside it.
    for (const int group : setup.age_groups) {
      const std::int32_t days = kAgeGroups.at(static_cast<std::size_t>(group - 1)).days;
      if (!choice.csv) impl_->output.add_companion(csv_file_name(days, setup.data_set));
      impl_->provenance_files.push_back(impl_->output.add_companion(
          companion_name(coefficient_file_name(days, setup.data_set), ".json")));
    }
    if (!choice.plot_nuclide.empty()) {
      std::vector<std::string> names = region_names;
      impl_->pictures.emplace(impl_->output, choice.plot_nuclide,
                              "DATA\\" + std::string(data_set_file_name(setup.data_set)),
                              setup.times, std::move(names), setup.regions);
    }
    impl_->files.write_coefficient_headers(setup.data_set, setup.age_groups, region_names);
  } catch (const OutputError& error) {
    impl_->output.discard();  // a run refused before processing leaves nothing behind
    const std::string completed = completed_commit_line();
    if (completed.empty()) throw;
    throw OutputError(completed + "\n" + error.what());
  } catch (...) {
    impl_->output.discard();
    throw;
  }
}

std::string CoefficientRun::completed_commit_line() const {
  const int files = impl_->output.completed_commit();
  if (files < 0) return {};
  return "Completed the interrupted commit of an earlier run: " + std::to_string(files) +
         " files put in place";
}

CoefficientRun::~CoefficientRun() = default;

std::string CoefficientRun::written_files_line() const { return impl_->files.written_files_line(); }

// Before the run completes, every file but a notes file that got no row yet; after it, the
// files put in place.
std::vector<std::string> CoefficientRun::written_files() const {
  std::vector<std::string> names;
  for (int i = 0; i < impl_->output.size(); ++i) {
    if (impl_->output.has_partial(i)) names.push_back(impl_->output.name(i));
  }
  return names;
}

std::vector<std::filesystem::path> CoefficientRun::written_paths() const {
  std::vector<std::filesystem::path> paths;
  for (int i = 0; i < impl_->output.size(); ++i) {
    if (impl_->output.has_partial(i)) paths.push_back(impl_->output.path(i));
  }
  return paths;
}

std::vector<std::string> CoefficientRun::partial_files() const {
  std::vector<std::string> names;
  for (int i = 0; i < impl_->output.size(); ++i) {
    if (impl_->output.has_partial(i)) names.push_back(impl_->output.partial_name(i));
  }
  return names;
}

std::vector<std::filesystem::path> CoefficientRun::partial_paths() const {
  std::vector<std::filesystem::path> paths;
  for (int i = 0; i < impl_->output.size(); ++i) {
    if (impl_->output.has_partial(i)) paths.push_back(impl_->output.partial_path(i));
  }
  return paths;
}

std::string CoefficientRun::notes_line() const {
  if (!impl_->output.committed()) return {};
  std::vector<std::string> names;
  for (const int index : impl_->notes->files_with_rows())
    names.push_back(impl_->output.name(index));
  return kestrane::notes_line(impl_->notes->counts(), names);
}

NoteCounts CoefficientRun::note_counts() const { return impl_->notes->counts(); }

std::vector<std::filesystem::path> CoefficientRun::notes_paths() const {
  std::vector<std::filesystem::path> paths;
  for (const int index : impl_->notes->files_with_rows())
    paths.push_back(impl_->output.path(index));
  return paths;
}

void CoefficientRun::on_new_partial_file(std::function<void()> call) {
  impl_->notes->on_new_file(call);
  if (impl_->pictures) impl_->pictures->on_new_file(call);
}

void CoefficientRun::on_committed(std::function<void()> call) {
  impl_->on_committed = std::move(call);
}

void CoefficientRun::process(LineReader& reader, ProgressObserver* progress, RecordSink* also) {
  Impl& run = *impl_;
  if (run.processed) throw std::logic_error("a run is processed only once");
  run.processed = true;

  // A stop keeps every row already written in the partial files, closed where they stand;
  // the earlier files are not touched. One in the middle of the renames leaves their journal,
  // which the next run completes.
  const auto stop = [this](StopDetails details) {
    impl_->output.abandon();
    if (impl_->output.commit_begun()) {
      details.message += "\n" + std::string(kCommitCutShortText);
      throw RunStopped(std::move(details), {}, {});
    }
    throw RunStopped(std::move(details), partial_files(), partial_paths());
  };
  try {
    FileSink sink(run.files, run.setup, *run.notes, run.csv ? &*run.csv : nullptr, also,
                  run.pictures ? &*run.pictures : nullptr);
    process_records(reader, run.setup, sink, progress);
    if (run.pictures && run.pictures->count() == 0) {
      // The user asked for pictures and would get none: nothing is replaced.
      const std::string reason = "no processed record of the nuclide " + run.pictures->nuclide() +
                                 ": no picture was drawn";
      stop({StopKind::no_record, {}, 0, 0, reason, reason});
    }
    run.output.commit(true, run.on_committed);
  } catch (const InputError& e) {
    stop(stop_details(e, reader.display_name()));
  } catch (const OutputError& e) {
    stop({StopKind::output_failed, {}, 0, 0, e.what(), e.what()});
  }
}

}  // namespace kestrane
