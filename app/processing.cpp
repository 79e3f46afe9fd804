// The run below the dialogue and the command line: the input files located and read, the
// record loop writing every processed record's rows to partial files, and the files put in
// place together at the end; every stop turned into PreparationStop or RunStopped.
#include "app/processing.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "app/input_hash.h"
#include "app/run_driver.h"
#include "app/screen_texts.h"
#include "app/version.h"
#include "dose/run_request.h"
#include "input/ascii.h"
#include "input/input_error.h"
#include "input/integration_times.h"
#include "output/csv_file.h"
#include "output/notes_file.h"
#include "output/output_files.h"
#include "output/plot_pass.h"
#include "output/provenance.h"
#include "platform/file_services.h"

namespace kestrane {

namespace {

void (*g_before_input_open)() = nullptr;

PreparationStop missing(std::vector<std::string> lines, const std::string& file) {
  StopDetails details{
      StopKind::missing_file, file, 0, 0, std::string(ascii::trim(kUnableToLocate)), {}};
  for (const std::string& line : lines) details.message += line + "\n";
  return {true, std::move(lines), std::move(details)};
}

PreparationStop refused(const InputError& error, const std::string& file) {
  return {false, {error.what()}, stop_details(error, file)};
}

// The stop for a program file that was not found: when a folder on its way (the working
// directory, then the folders of the path as resolved) may not be searched, that folder is
// named with the system's reason, in the place of the missing-file message `lines`.
PreparationStop not_found(const std::filesystem::path& working_dir, std::string_view program_path,
                          std::vector<std::string> lines) {
  const std::filesystem::path folders =
      resolve_program_path(working_dir, program_path).lexically_relative(working_dir).parent_path();
  std::filesystem::path folder = working_dir.empty() ? "." : working_dir;
  auto next = folders.begin();
  for (;;) {
    if (::access(folder.c_str(), R_OK | X_OK) != 0) {
      if (errno != EACCES) break;
      return missing({" Cannot search the folder \"" + printable_excerpt(folder.string()) +
                      "\" for " + std::string(program_path) + ": " + std::strerror(EACCES) + "."},
                     std::string(program_path));
    }
    if (next == folders.end()) break;
    folder /= *next++;
  }
  return missing(std::move(lines), std::string(program_path));
}

// Appends the rows of each processed record to the coefficient file of its age, in the
// layout of the data set in use, and passes the record on to the CSV files and to `also`;
// counts the records of each file and the listed nuclides met.
// The rows are formatted in prepare(), which the record loop may run on a worker thread, and
// written in one write per record on the loop's thread.
class FileSink : public RecordSink {
 public:
  FileSink(CoefficientFiles& files, const RunSetup& setup, RunNotes& notes, RecordSink* csv,
           RecordSink* also, RecordPictures* pictures, std::vector<std::int64_t>& processed,
           std::vector<bool>& met)
      : files_(files),
        setup_(setup),
        notes_(notes),
        csv_(csv),
        also_(also),
        pictures_(pictures),
        processed_(processed),
        met_(met) {}

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
  // (which neither holds) and "<length of the rows> <negative> <extended> <noted records>".
  std::string prepare(int /*position*/, const HeaderRecord& header,
                      const CoefficientTable& coef) const override {
    std::string text = coefficient_block(setup_.data_set, header.line, coef, setup_.times,
                                         static_cast<int>(setup_.regions.size()));
    const std::size_t rows = text.size();
    const NoteCounts counts = notes_.format(text, header, coef);  // grows the text once
    text += '\0';
    for (const std::int64_t n :
         {static_cast<std::int64_t>(rows), counts.negative, counts.extended, counts.records}) {
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

}  // namespace

void set_before_input_open_hook(void (*hook)()) { g_before_input_open = hook; }

PreparedRun prepare_run(const std::filesystem::path& working_dir, DataSet data_set,
                        const std::function<void(LineReader&)>& read_names) {
  PreparedRun run;
  run.data_set_path = "DATA\\" + std::string(data_set_file_name(data_set));
  const std::string times_path(kIntegrationTimesPath);
  if (!program_file_exists(working_dir, times_path)) {
    run.stop = not_found(
        working_dir, times_path,
        {std::string(kUnableToLocate) + times_path + ".", std::string(kIntegrationTimesNote)});
    return run;
  }
  try {
    run.times = read_integration_times(resolve_program_path(working_dir, times_path), times_path);
  } catch (const InputError& error) {
    run.stop = refused(error, times_path);
    return run;
  }
  if (!program_file_exists(working_dir, run.data_set_path)) {
    run.stop = not_found(working_dir, run.data_set_path,
                         {std::string(kUnableToLocate) + run.data_set_path + "."});
    return run;
  }
  try {
    run.source.times_path = resolve_program_path(working_dir, times_path);
    run.source.input_path = resolve_program_path(working_dir, run.data_set_path);
    // The provenance files need the dose-rate file's hash (see input_hash.h).
    run.source.read_from_ns = clock_now_ns();
    if (g_before_input_open != nullptr) g_before_input_open();
    run.reader.emplace(run.source.input_path, run.data_set_path);
    hash_input_as_read(run.source, *run.reader);
    read_names(*run.reader);
  } catch (const InputError& error) {
    run.reader.reset();
    run.stop = refused(error, run.data_set_path);
  }
  return run;
}

std::string notes_line(const NoteCounts& counts, const std::vector<std::string>& files) {
  if (counts.records == 0) return {};
  std::string line = std::string(kNotesText) + std::to_string(counts.negative) +
                     std::string(kNotesNegativeText) + std::to_string(counts.extended) +
                     std::string(kNotesExtendedText) + std::to_string(counts.records) +
                     std::string(kNotesRecordsText);
  for (const std::string& name : files) line += ' ' + name;
  return line;
}

struct CoefficientRun::Impl {
  explicit Impl(const std::filesystem::path& dir) : working_dir(dir), output(dir) {
    output.observe_writes([this](int index, std::string_view lines) {
      const auto at = static_cast<std::size_t>(index);
      if (digests.size() <= at) digests.resize(at + 1);
      if (!digests[at]) digests[at] = std::make_unique<Sha256>();
      digests[at]->update(lines);
    });
  }
  void write_provenance();
  std::filesystem::path working_dir;
  RunSetup setup;
  OutputFiles output;
  CoefficientFiles files;
  std::optional<CsvFiles> csv;
  std::optional<RunNotes> notes;
  std::optional<RecordPictures> pictures;
  std::vector<int> provenance_files;  // the companion DC<days><h|g>.json of each age
  std::function<void()> on_new_file;
  std::function<void()> on_committed;
  RunSource source;
  std::vector<std::string> nuclides;             // as typed
  std::vector<std::unique_ptr<Sha256>> digests;  // of what is written to each file
  std::vector<std::int64_t> records;             // the records of each position's file
  std::vector<bool> met;                         // whether each listed nuclide had a record
  std::int64_t passed_over = 0;
  bool processed = false;
};

// Writes the provenance file of every position, listing the files of the run beside it.
void CoefficientRun::Impl::write_provenance() {
  Provenance p;
  p.version = kVersion;
  p.created = utc_now();
  p.data_set = setup.data_set;
  p.input.file = relative_name(source.input_path, working_dir);
  describe_input(source, p.input, p.input_hashed_in_run);
  p.times_file.file = relative_name(source.times_path, working_dir);
  p.times_file.sha256 = file_sha256(source.times_path.string());
  p.times = setup.times;
  p.regions = setup.region_names;
  p.passed_over = passed_over;
  for (std::size_t at = 0; at < setup.age_groups.size(); ++at) {
    const int position = static_cast<int>(at);
    const std::int32_t days =
        kAgeGroups.at(static_cast<std::size_t>(setup.age_groups[at] - 1)).days;
    p.age_group = setup.age_groups[at];
    p.processed = records[at];
    p.notes = notes->counts(position);
    p.files.clear();
    const std::string names[] = {files.name(position), csv_file_name(days, setup.data_set),
                                 notes_file_name(days, setup.data_set)};
    for (int i = 0; i < output.size(); ++i) {
      const auto index = static_cast<std::size_t>(i);
      if (!output.has_partial(i) ||
          std::find(std::begin(names), std::end(names), output.name(i)) == std::end(names)) {
        continue;
      }
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
  RunSetup& setup = impl_->setup;
  const std::vector<std::string> region_names = setup.region_names;
  for (const std::string& nuclide : choice.nuclides) {
    setup.nuclides.push_back(ascii::to_upper(ascii::trim_right(nuclide)));
  }
  setup.passed_over = &impl_->passed_over;
  impl_->nuclides = std::move(choice.nuclides);
  impl_->met.assign(setup.nuclides.size(), false);
  impl_->records.assign(setup.age_groups.size(), 0);
  impl_->source = std::move(choice.source);

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
    const std::string earlier = earlier_commit_line();
    if (earlier.empty()) throw;
    throw OutputError(earlier + "\n" + error.what());
  } catch (...) {
    impl_->output.discard();
    throw;
  }
}

std::string CoefficientRun::earlier_commit_line() const {
  if (!impl_->output.set_aside_journal().empty()) return impl_->output.set_aside_journal();
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
                  run.pictures ? &*run.pictures : nullptr, run.records, run.met);
    process_records(reader, run.setup, sink, progress);
    if (run.pictures && run.pictures->count() == 0) {
      // The user asked for pictures and would get none: nothing is replaced.
      const std::string reason = "no processed record of the nuclide " + run.pictures->nuclide() +
                                 ": no picture was drawn";
      stop({StopKind::no_record, {}, 0, 0, reason, reason});
    }
    for (std::size_t i = 0; i < run.met.size(); ++i) {
      // Nor is anything replaced when a listed nuclide got no record.
      if (!run.met[i]) {
        const std::string reason =
            "No record of the nuclide " + run.nuclides[i] + " was processed.";
        stop({StopKind::no_record, {}, 0, 0, reason, reason});
      }
    }
    reader.observe_rest();
    run.write_provenance();
    run.output.commit(true, run.on_committed);
  } catch (const InputError& e) {
    stop(stop_details(e, reader.display_name()));
  } catch (const OutputError& e) {
    stop({StopKind::output_failed, {}, 0, 0, e.what(), e.what()});
  }
}

}  // namespace kestrane
