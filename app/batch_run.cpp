// One run of kestrane-batch, through the same reading and processing as the interactive
// program; the stops of the dialogue become messages on standard error.
#include "app/batch_run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/csv_sink.h"
#include "app/processing.h"
#include "app/progress_display.h"
#include "app/run_driver.h"
#include "app/selection.h"
#include "input/dose_rate_file.h"
#include "input/integration_times.h"
#include "input/line_reader.h"
#include "output/coefficient_files.h"
#include "platform/file_services.h"

namespace kestrane {
namespace {

// A stop's message as the dialogue shows it, without the key prompt: a leading blank,
// then its lines.
void write_stop(std::ostream& err, std::string_view message) {
  if (!message.starts_with(' ')) err << ' ';
  err << message << '\n';
}

void write_usage_error(std::ostream& err, const UsageError& error) {
  err << "kestrane-batch: " << error.what() << '\n'
      << kBatchUsage << "\nRun with --help for more information.\n";
}

}  // namespace

int run_batch(const BatchOptions& options, std::ostream& out, std::ostream& err,
              bool progress_bar) {
  std::vector<int> age_groups;
  try {
    age_groups = parse_age_list(options.ages);
  } catch (const UsageError& error) {
    write_usage_error(err, error);
    return kBatchUsageError;
  }
  const std::filesystem::path& dir = options.dir;

  // Integration times.
  if (!program_file_exists(dir, kIntegrationTimesPath)) {
    err << " Unable to locate the file " << kIntegrationTimesPath << ".\n"
        << " This file contains the integration times.\n";
    return kBatchStopped;
  }
  std::vector<double> times;
  try {
    times = read_integration_times(resolve_program_path(dir, kIntegrationTimesPath),
                                   std::string(kIntegrationTimesPath));
  } catch (const InputError& error) {
    write_stop(err, error.what());
    return kBatchStopped;
  }

  // Dose-rate file and its region names.
  const std::string data_set_path = "DATA\\" + std::string(data_set_file_name(options.data_set));
  if (!program_file_exists(dir, data_set_path)) {
    err << " Unable to locate the file " << data_set_path << ".\n";
    return kBatchStopped;
  }
  std::optional<LineReader> reader;
  std::vector<std::string> names;
  try {
    reader.emplace(resolve_program_path(dir, data_set_path), data_set_path);
    names = read_region_names(*reader);
  } catch (const InputError& error) {
    write_stop(err, error.what());
    return kBatchStopped;
  }
  std::vector<int> regions;
  try {
    regions = parse_region_list(options.regions, names);
  } catch (const UsageError& error) {
    write_usage_error(err, error);
    return kBatchUsageError;
  }

  RunChoice choice;
  choice.working_dir = dir;
  choice.data_set = options.data_set;
  choice.times = times;
  choice.age_groups = age_groups;
  choice.regions = regions;
  choice.region_list = make_region_list(names);
  std::vector<std::string> selected_names;
  for (int region : regions) {
    selected_names.push_back(choice.region_list[static_cast<std::size_t>(region - 1)]);
  }

  std::optional<CoefficientRun> run;
  std::optional<CsvSink> csv;
  try {
    // Every output file is opened before any is emptied, so a refusal here keeps every file
    // of an earlier run as it was.
    if (options.csv) csv.emplace(dir, options.data_set, age_groups, times, selected_names);
    run.emplace(std::move(choice));
    if (csv) csv->start();
  } catch (const OutputError& error) {
    write_stop(err, error.what());
    return kBatchStopped;
  }

  std::optional<ProgressBar> bar;
  if (progress_bar) bar.emplace(err);
  try {
    run->process(*reader, bar ? &*bar : nullptr, csv ? &*csv : nullptr);
    if (csv) csv->close();
  } catch (const RunStopped& stopped) {
    if (bar) bar->finish();
    write_stop(err, stopped.what());
    if (!stopped.incomplete_files().empty()) {
      err << " These coefficient files are incomplete:";
      for (const std::string& name : stopped.incomplete_files()) err << ' ' << name;
      err << '\n';
    }
    if (csv) {
      err << " These CSV files are incomplete:";
      for (const std::string& name : csv->file_names()) err << ' ' << name;
      err << '\n';
    }
    return kBatchStopped;
  } catch (const std::runtime_error& error) {  // a CSV file that cannot be written
    if (bar) bar->finish();
    write_stop(err, error.what());
    return kBatchStopped;
  }
  if (bar) bar->finish();
  out << run->written_files_line() << '\n';
  return kBatchCompleted;
}

}  // namespace kestrane
