// A run to files: the rows of every processed record written to partial files, the notes,
// pictures and provenance beside them, and every file put in place in one commit at the end;
// every stop turned into RunStopped.
#include "run/file_run.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "base/ascii.h"
#include "base/version.h"
#include "input/input_error.h"
#include "output/coefficient_files.h"
#include "output/csv_file.h"
#include "output/dose_file.h"
#include "output/notes_file.h"
#include "output/output_files.h"
#include "output/plot_pass.h"
#include "output/provenance.h"
#include "run/input_hash.h"

namespace kestrane {
namespace {

// Appends the rows of each processed record to the coefficient file of its age, in the
// layout of the data set in use, and passes the record on to the CSV files and to `also`;
// counts the records of each file and the listed nuclides met.
// The rows, notes and pictures are made in prepare(), which the record loop may run on a
// worker thread, and written on the loop's thread.
class FileSink : public RecordSink {
 public:
  FileSink(CoefficientFiles& files, const ResolvedRun& run, RunNotes& notes, RecordSink* csv,
           RecordSink* also, RecordPictures* pictures, DoseFiles* doses,
           std::vector<std::int64_t>& processed, std::vector<bool>& met)
      : files_(files),
        setup_(run.setup),
        chosen_regions_(static_cast<int>(run.chosen_regions)),
        dose_rows_(run.doses ? &*run.doses : nullptr),
        dose_files_(doses),
        notes_(notes),
        csv_(csv),
        also_(also),
        pictures_(pictures),
        processed_(processed),
        met_(met) {}

  void record_done(int position, const HeaderRecord& header,
                   const CoefficientTable& coef) override {
    PreparedRecord prepared = prepare(position, header, coef);
    record_prepared(position, header, coef, prepared);
  }

  // As prepare(), with the pictures of a record of the picture nuclide, drawn on the worker
  // thread too from the record's rates.
  PreparedRecord prepare_from(int position, const HeaderRecord& header, const RateTable& rates,
                              const CoefficientTable& coef) const override {
    PreparedRecord prepared = prepare(position, header, coef);
    if (pictures_ != nullptr && pictures_->wanted(header)) {
      pictures_->draw(prepared.pictures, header, rates);
    }
    return prepared;
  }

  PreparedRecord prepare(int position, const HeaderRecord& header,
                         const CoefficientTable& coef) const override {
    PreparedRecord prepared;
    const std::span<const double> times = setup_.times_of(position);
    prepared.rows = coefficient_block(setup_.data_set, header.line, coef, times, chosen_regions_);
    prepared.note_counts = notes_.format(prepared.notes, position, header, coef);
    if (dose_rows_ != nullptr) {
      append_dose_record(prepared.doses, header, coef, times, *dose_rows_);
    }
    return prepared;
  }

  void record_prepared(int position, const HeaderRecord& header, const CoefficientTable& coef,
                       PreparedRecord& prepared) override {
    files_.write_block(position, prepared.rows);
    notes_.add(position, prepared.notes, prepared.note_counts);
    if (dose_files_ != nullptr) dose_files_->write(position, prepared.doses);
    if (pictures_ != nullptr && !prepared.pictures.empty()) pictures_->add(prepared.pictures);
    ++processed_.at(static_cast<std::size_t>(position));
    if (!setup_.nuclides.empty()) {
      const std::string name = ascii::to_upper(ascii::trim_right(header.nuclide));
      for (std::size_t i = 0; i < setup_.nuclides.size(); ++i) {
        if (setup_.nuclides[i] == name) met_[i] = true;
      }
    }
    if (csv_ != nullptr) csv_->record_done(position, header, coef);
    if (also_ != nullptr) also_->record_done(position, header, coef);
  }

  bool reads_prepared_table() const override { return csv_ != nullptr || also_ != nullptr; }

 private:
  CoefficientFiles& files_;
  const RunSetup& setup_;
  int chosen_regions_;         // the setup's regions of the files; the others are the doses'
  const DoseRows* dose_rows_;  // null without a weighting scheme
  DoseFiles* dose_files_;
  RunNotes& notes_;
  RecordSink* csv_;
  RecordSink* also_;
  RecordPictures* pictures_;
  std::vector<std::int64_t>& processed_;
  std::vector<bool>& met_;
};

// The name of the companion `extension` (".json") of the coefficient file `name`.
std::string companion_name(const std::string& coefficient_name, std::string_view extension) {
  return coefficient_name.substr(0, coefficient_name.rfind('.')) + std::string(extension);
}

// A host path as the provenance file names it: relative to `base`, with '/'.
std::string relative_name(const std::filesystem::path& path, const std::filesystem::path& base) {
  return path.lexically_normal().lexically_relative(base.lexically_normal()).generic_string();
}

constexpr std::string_view kNotesText = "Notes: ";
constexpr std::string_view kNotesNegativeText = " negative, ";
constexpr std::string_view kNotesExtendedText = " extended coefficients in ";
constexpr std::string_view kNotesRecordsText = " records; see";
constexpr std::string_view kNotesFallbacksText = " exponential tails taken as constant";

}  // namespace

std::string notes_line(const NoteCounts& counts, const std::vector<std::string>& files) {
  if (counts.records == 0) return {};
  std::string line = std::string(kNotesText) + std::to_string(counts.negative) +
                     std::string(kNotesNegativeText) + std::to_string(counts.extended) +
                     std::string(kNotesExtendedText) + std::to_string(counts.records) +
                     std::string(kNotesRecordsText);
  if (counts.fallbacks > 0) {
    // "... in 4 records; 7 exponential tails taken as constant; see ..."
    line.insert(line.size() - 3,
                std::to_string(counts.fallbacks) + std::string(kNotesFallbacksText) + "; ");
  }
  for (const std::string& name : files) line += ' ' + name;
  return line;
}

std::string earlier_commit_line(int completed_commit, const std::string& journal_set_aside) {
  if (!journal_set_aside.empty()) return journal_set_aside;
  if (completed_commit < 0) return {};
  return "Completed the interrupted commit of an earlier run: " + std::to_string(completed_commit) +
         " files put in place";
}

struct FileRun::Impl {
  explicit Impl(ResolvedRun resolved)
      : run(std::move(resolved)), output(run.working_dir, run.output_dir) {
    output.observe_writes([this](int index, std::string_view lines) {
      const auto at = static_cast<std::size_t>(index);
      if (digests.size() <= at) digests.resize(at + 1);
      if (!digests[at]) digests[at] = std::make_unique<Sha256>();
      digests[at]->update(lines);
    });
  }
  void write_provenance();
  FileKind kind_of(int index) const;
  std::vector<RunFile> files_in_place() const;
  RunOutcome outcome() const;
  [[noreturn]] void stop(RunStop stop);

  ResolvedRun run;
  OutputFiles output;
  CoefficientFiles files;
  std::optional<CsvFiles> csv;
  std::optional<RunNotes> notes;
  std::optional<RecordPictures> pictures;
  std::optional<DoseFiles> doses;
  std::vector<int> provenance_files;  // the companion DC<days><h|g>.json of each age
  std::function<void(const RunOutcome&)> on_committed;
  std::vector<std::unique_ptr<Sha256>> digests;  // of what is written to each file
  std::vector<std::int64_t> records;             // the records of each position's file
  std::vector<bool> met;                         // whether each listed nuclide had a record
  std::int64_t passed_over = 0;
  bool processed = false;
};

// Writes the provenance file of every position, listing the files of the run beside it.
void FileRun::Impl::write_provenance() {
  const RunSetup& setup = run.setup;
  const RunSource& source = run.input.source;
  Provenance p;
  p.version = kVersion;
  p.created = utc_now();
  p.data_set = setup.data_set;
  p.input.file = relative_name(source.input_path, run.working_dir);
  describe_input(source, p.input, p.input_hashed_in_run);
  p.title = run.input.title;
  p.times_file.file = relative_name(source.times_path, run.working_dir);
  p.times_file.sha256 = file_sha256(source.times_path.string());
  p.regions.assign(setup.region_names.begin(),
                   setup.region_names.begin() + static_cast<std::ptrdiff_t>(run.chosen_regions));
  if (run.scheme) {
    p.scheme = ProvenanceScheme{relative_name(std::filesystem::absolute(source.scheme_path),
                                              std::filesystem::absolute(run.working_dir)),
                                run.scheme->name, file_sha256(source.scheme_path.string())};
  }
  p.tails = setup.tails;
  p.passed_over = passed_over;
  for (std::size_t at = 0; at < setup.age_groups.size(); ++at) {
    const int position = static_cast<int>(at);
    const std::int32_t days =
        kAgeGroups.at(static_cast<std::size_t>(setup.age_groups[at] - 1)).days;
    p.age_group = setup.age_groups[at];
    const std::span<const double> times = setup.times_of(position);
    p.times.assign(times.begin(), times.end());
    p.processed = records[at];
    p.notes = notes->counts(position);
    p.files.clear();
    // The files beside it, by the names they have in whatever folder the run writes to.
    const auto leaf = [](const std::string& name) { return name.substr(name.rfind('\\') + 1); };
    const std::string names[] = {leaf(coefficient_file_name(days, setup.data_set)),
                                 leaf(csv_file_name(days, setup.data_set)),
                                 leaf(notes_file_name(days, setup.data_set)),
                                 leaf(dose_file_name(days, setup.data_set))};
    for (int i = 0; i < output.size(); ++i) {
      const auto index = static_cast<std::size_t>(i);
      const std::string file_name = output.path(i).filename().string();
      // Found without regard to case, as the folder's files are.
      const bool beside = std::any_of(std::begin(names), std::end(names), [&](const auto& name) {
        return ascii::equal_ignoring_case(name, file_name);
      });
      if (!output.has_partial(i) || !beside) continue;
      ProvenanceEntry entry;
      entry.file = output.path(i).filename().string();
      if (index < digests.size() && digests[index]) {
        entry.bytes = digests[index]->bytes();
        entry.sha256 = digests[index]->hex();
      } else {
        entry.sha256 = Sha256().hex();  // nothing written
      }
      p.files.push_back(std::move(entry));
    }
    output.write(provenance_files[at], provenance_json(p));
  }
}

FileKind FileRun::Impl::kind_of(int index) const {
  const std::string& name = output.name(index);
  if (name.ends_with(".json")) return FileKind::provenance;
  if (name.ends_with("-notes.csv")) return FileKind::notes;
  if (name.ends_with("-dose.csv")) return FileKind::doses;
  if (name.ends_with(".csv")) return FileKind::csv;
  if (name.ends_with(".svg")) return FileKind::picture;
  return FileKind::coefficients;
}

// The files the run has made, in the order of the outcome: by kind, each kind in the order
// the files were added.
std::vector<RunFile> FileRun::Impl::files_in_place() const {
  std::vector<RunFile> list;
  for (const FileKind kind : {FileKind::coefficients, FileKind::csv, FileKind::notes,
                              FileKind::doses, FileKind::provenance, FileKind::picture}) {
    for (int i = 0; i < output.size(); ++i) {
      if (output.has_partial(i) && kind_of(i) == kind) {
        list.push_back({kind, output.name(i), output.path(i)});
      }
    }
  }
  return list;
}

RunOutcome FileRun::Impl::outcome() const {
  RunOutcome result;
  result.files = files_in_place();
  result.notes = notes->counts();
  result.completed_commit = output.completed_commit();
  result.journal_set_aside = output.set_aside_journal();
  for (const std::int64_t n : records) result.records_processed += n;
  result.records_passed_over = passed_over;
  return result;
}

// A stop keeps every row already written in the partial files, closed where they stand; the
// earlier files are not touched. One in the middle of the renames leaves their journal, which
// the next run completes.
void FileRun::Impl::stop(RunStop stop) {
  output.abandon();
  stop.completed_commit = output.completed_commit();
  stop.journal_set_aside = output.set_aside_journal();
  if (output.commit_begun()) {
    stop.commit_cut_short = true;
    stop.message += "\n" + std::string(kCommitCutShortText);
  } else {
    for (int i = 0; i < output.size(); ++i) {
      if (!output.has_partial(i)) continue;
      stop.partial_files.push_back(output.partial_name(i));
      stop.partial_paths.push_back(output.partial_path(i));
    }
  }
  throw RunStopped(std::move(stop));
}

namespace {

RunStop output_stop(const std::string& message) {
  RunStop stop;
  stop.kind = StopKind::output_failed;
  stop.reason = message;
  stop.message = message;
  return stop;
}

}  // namespace

FileRun::FileRun(ResolvedRun resolved) {
  // A region without a name, or a setup beyond the tables, is a fault of the caller.
  if (resolved.setup.region_names.size() != resolved.setup.regions.size()) {
    throw std::invalid_argument("every selected region needs its name");
  }
  try {
    impl_ = std::make_unique<Impl>(std::move(resolved));
  } catch (const OutputError& error) {
    throw RunStopped(output_stop(error.what()));
  }
  Impl& run = *impl_;
  RunSetup& setup = run.run.setup;
  setup.passed_over = &run.passed_over;
  run.met.assign(setup.nuclides.size(), false);
  run.records.assign(setup.age_groups.size(), 0);
  // The files show the regions chosen; those after them are the weighting scheme's.
  const auto chosen = static_cast<std::ptrdiff_t>(run.run.chosen_regions);
  const std::vector<std::string> region_names(setup.region_names.begin(),
                                              setup.region_names.begin() + chosen);
  const std::vector<int> region_numbers(setup.regions.begin(), setup.regions.begin() + chosen);
  try {
    run.files = open_coefficient_files(run.output, setup.data_set, setup.age_groups);
    if (run.run.csv) {
      run.csv.emplace(run.output, setup.data_set, setup.age_groups, setup.position_times(),
                      region_names);
    }
    run.notes.emplace(run.output, setup.data_set, setup.age_groups, setup.position_times(),
                      region_names);
    if (run.run.doses) run.doses.emplace(run.output, setup.data_set, setup.age_groups);
    // Every companion of a coefficient file that this run does not make is removed when the
    // run is put in place, so that none from an earlier run stands beside it.
    for (const int group : setup.age_groups) {
      const std::int32_t days = kAgeGroups.at(static_cast<std::size_t>(group - 1)).days;
      if (!run.run.csv) run.output.add_companion(csv_file_name(days, setup.data_set));
      if (!run.run.doses) run.output.add_companion(dose_file_name(days, setup.data_set));
      run.provenance_files.push_back(run.output.add_companion(
          companion_name(coefficient_file_name(days, setup.data_set), ".json")));
    }
    if (!run.run.plot_nuclide.empty()) {
      run.pictures.emplace(run.output, run.run.plot_nuclide,
                           "DATA\\" + std::string(data_set_file_name(setup.data_set)), setup.times,
                           region_names, region_numbers, setup.tails,
                           rate_units(run.run.input.title));
    }
    run.files.write_coefficient_headers(setup.data_set, setup.age_groups, region_names);
  } catch (const OutputError& error) {
    run.output.discard();  // a run refused before processing leaves nothing behind
    RunStop stop = output_stop(error.what());
    stop.completed_commit = run.output.completed_commit();
    stop.journal_set_aside = run.output.set_aside_journal();
    throw RunStopped(std::move(stop));
  } catch (...) {
    run.output.discard();
    throw;
  }
}

FileRun::~FileRun() = default;

int FileRun::completed_commit() const { return impl_->output.completed_commit(); }

std::string FileRun::journal_set_aside() const { return impl_->output.set_aside_journal(); }

std::vector<std::string> FileRun::partial_names() const {
  std::vector<std::string> names;
  for (int i = 0; i < impl_->output.size(); ++i) {
    if (impl_->output.has_partial(i)) names.push_back(impl_->output.partial_name(i));
  }
  return names;
}

std::vector<std::filesystem::path> FileRun::partial_paths() const {
  std::vector<std::filesystem::path> paths;
  for (int i = 0; i < impl_->output.size(); ++i) {
    if (impl_->output.has_partial(i)) paths.push_back(impl_->output.partial_path(i));
  }
  return paths;
}

void FileRun::on_new_partial_file(std::function<void()> call) {
  impl_->notes->on_new_file(call);
  if (impl_->pictures) impl_->pictures->on_new_file(call);
}

void FileRun::on_committed(std::function<void(const RunOutcome&)> call) {
  impl_->on_committed = std::move(call);
}

RunOutcome FileRun::process(ProgressObserver* progress, RecordSink* also) {
  Impl& run = *impl_;
  if (run.processed) throw std::logic_error("a run is processed only once");
  run.processed = true;
  LineReader& reader = *run.run.input.reader;
  const auto no_record = [&run](const std::string& reason) {
    RunStop stop;
    stop.kind = StopKind::no_record;
    stop.reason = reason;
    stop.message = reason;
    run.stop(std::move(stop));
  };
  try {
    FileSink sink(run.files, run.run, *run.notes, run.csv ? &*run.csv : nullptr, also,
                  run.pictures ? &*run.pictures : nullptr, run.doses ? &*run.doses : nullptr,
                  run.records, run.met);
    process_records(reader, run.run.setup, sink, progress);
    if (run.pictures && run.pictures->count() == 0) {
      // The user asked for pictures and would get none: nothing is replaced.
      no_record("no processed record of the nuclide " + run.pictures->nuclide() +
                ": no picture was drawn");
    }
    for (std::size_t i = 0; i < run.met.size(); ++i) {
      // Nor is anything replaced when a listed nuclide got no record.
      if (!run.met[i])
        no_record("No record of the nuclide " + run.run.nuclides[i] + " was processed.");
    }
    reader.observe_rest();
    run.write_provenance();
    run.output.commit(true, [&run] {
      if (run.on_committed) run.on_committed(run.outcome());
    });
  } catch (const InputError& e) {
    run.stop(refused_input(e, reader.display_name(), run.run.input.source.input_path));
  } catch (const OutputError& e) {
    run.stop(output_stop(e.what()));
  }
  return run.outcome();
}

}  // namespace kestrane
