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
#include "app/run_driver.h"
#include "app/selection.h"
#include "input/dose_rate_file.h"
#include "input/integration_times.h"
#include "input/line_reader.h"
#include "output/coefficient_files.h"
#include "output/plot_pass.h"
#include "platform/file_services.h"

namespace kestrane {
namespace {

// A one-line progress bar on a terminal: records done, share of the file, MB/s, time left.
// Redrawn at most ten times a second so that the work does not wait on the terminal.
class ProgressBar : public ProgressObserver {
 public:
  explicit ProgressBar(std::ostream& err) : err_(err), start_(Clock::now()) {}

  void record_processed(const HeaderRecord&, std::uint64_t bytes_done,
                        std::uint64_t bytes_total) override {
    ++records_;
    const Clock::time_point now = Clock::now();
    if (drawn_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
    last_draw_ = now;
    draw(bytes_done, bytes_total, now);
  }

  // Removes the bar, leaving the line empty for what follows.
  void finish() {
    if (!drawn_) return;
    err_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
    drawn_ = false;
  }

 private:
  using Clock = std::chrono::steady_clock;

  static std::string clock_text(double seconds) {
    const long long s = static_cast<long long>(seconds + 0.5);
    char buf[32];
    if (s >= 3600) {
      std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    } else {
      std::snprintf(buf, sizeof buf, "%lld:%02lld", s / 60, s % 60);
    }
    return buf;
  }

  void draw(std::uint64_t done, std::uint64_t total, Clock::time_point now) {
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double share = total > 0 ? std::min(1.0, static_cast<double>(done) / total) : 0.0;
    const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0.0;
    constexpr int kBarWidth = 20;
    const int filled = static_cast<int>(share * kBarWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    char buf[160];
    const std::string left =
        rate > 0 ? clock_text(static_cast<double>(total - std::min(done, total)) / rate) : "-";
    std::snprintf(buf, sizeof buf, "%lld records [%s] %3.0f%% %7.1f MB/s %s left", records_,
                  bar.c_str(), share * 100, rate / 1e6, left.c_str());
    std::string line = buf;
    const std::size_t width = line.size();
    if (width < width_) line.append(width_ - width, ' ');
    width_ = std::max(width_, width);
    err_ << '\r' << line << std::flush;
    drawn_ = true;
  }

  std::ostream& err_;
  Clock::time_point start_;
  Clock::time_point last_draw_{};
  long long records_ = 0;
  std::size_t width_ = 0;
  bool drawn_ = false;
};

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

// The pictures of --plot, drawn once the coefficient files are complete. A nuclide without
// a processed record is a stop: the user asked for pictures and gets none.
int write_plots(const PlotRequest& request, std::ostream& out, std::ostream& err) {
  std::vector<std::string> names;
  try {
    names = write_record_plots(request);
  } catch (const std::runtime_error& error) {
    write_stop(err, error.what());
    return kBatchStopped;
  }
  if (names.empty()) {
    err << " No processed record of the nuclide " << request.nuclide << ": no picture was drawn.\n";
    return kBatchStopped;
  }
  out << "Plots written:";
  for (const std::string& name : names) out << ' ' << name;
  out << '\n';
  return kBatchCompleted;
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

  const PlotRequest plot{dir,        options.data_set, options.plot,      times,
                         age_groups, regions,          choice.region_list};
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
  if (const std::string notes = run->notes_line(true); !notes.empty()) out << notes << '\n';
  if (!options.plot.empty()) return write_plots(plot, out, err);
  return kBatchCompleted;
}

}  // namespace kestrane
