// The checks of a run's request, the reading of its input files as far as the records, and
// the request resolved into the record loop's setup.
#include "run/run_request.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "base/ascii.h"
#include "input/dose_rate_file.h"
#include "input/input_error.h"
#include "input/integration_times.h"
#include "input/record_tables.h"
#include "input/time_limits.h"
#include "output/csv_file.h"
#include "platform/file_services.h"
#include "run/input_hash.h"

namespace kestrane {
namespace {

void (*g_before_input_open)() = nullptr;

[[noreturn]] void stop_missing(RunStop stop) {
  stop.kind = StopKind::missing_file;
  if (stop.reason.empty()) stop.reason = "Unable to locate the file";
  stop.message = stop.unsearchable_folder.empty()
                     ? stop.reason + " " + stop.file + "."
                     : "Cannot search the folder \"" + printable_excerpt(stop.unsearchable_folder) +
                           "\" for " + stop.file + ": " + stop.folder_error + ".";
  throw RunStopped(std::move(stop));
}

// The stop for a program file that was not found: when a folder on its way (the working
// directory, then the folders of the path as resolved) may not be searched, that folder is
// named with the system's reason.
[[noreturn]] void not_found(const std::filesystem::path& working_dir, std::string_view program_path,
                            const std::string& shown) {
  RunStop stop;
  stop.file = shown;
  stop.path = resolve_program_path(working_dir, program_path);
  const std::filesystem::path folders = stop.path.lexically_relative(working_dir).parent_path();
  std::filesystem::path folder = working_dir.empty() ? "." : working_dir;
  auto next = folders.begin();
  for (;;) {
    if (::access(folder.c_str(), R_OK | X_OK) != 0) {
      if (errno != EACCES) break;
      stop.unsearchable_folder = folder.string();
      stop.folder_error = std::strerror(EACCES);
      break;
    }
    if (next == folders.end()) break;
    folder /= *next++;
  }
  stop_missing(std::move(stop));
}

[[noreturn]] void stop_refused(const InputError& error, const std::string& file,
                               const std::filesystem::path& path) {
  throw RunStopped(refused_input(error, file, path));
}

// Takes the input file at `program_path` for reading, or stops: when nothing is there, as not
// found; when a folder is, naming it as one; when anything but a regular file is and
// `pipe_taken` is false, naming what it is. A pipe or a device is read as its bytes come.
void take_input_entry(const std::filesystem::path& working_dir, std::string_view program_path,
                      const std::string& shown, bool pipe_taken) {
  const std::optional<mode_t> type = program_entry_type(working_dir, program_path);
  if (!type) not_found(working_dir, program_path, shown);
  if (S_ISREG(*type) || (pipe_taken && !S_ISDIR(*type))) return;
  const std::string refusal = shown + " is " + entry_kind(*type) +
                              (S_ISDIR(*type) ? ", not a file." : ", not a regular file.");
  stop_refused(InputError::of_file(shown, refusal), shown,
               resolve_program_path(working_dir, program_path));
}

}  // namespace

void set_before_input_open_hook(void (*hook)()) { g_before_input_open = hook; }

std::string field_label(const RunRequest& request, ChoiceField field) {
  std::string name(field_name(field));
  // The module's keywords spell with '_' what the options spell with '-'.
  if (request.label_prefix.empty()) std::replace(name.begin(), name.end(), '-', '_');
  return request.label_prefix + name;
}

namespace {

constexpr double kDaysPerYear = 365;

// The integration time of the commitment to `years` for an age group of `age_days`.
double commitment_days(double years, std::int32_t age_days) {
  return years * kDaysPerYear - static_cast<double>(age_days);
}

// The refusal of the age `years` to take the commitment to for the age groups chosen, or
// empty when every group takes it.
std::string to_age_refusal(double years, std::span<const int> age_groups) {
  if (!std::isfinite(years) || years <= 0) {
    return "the age " + shortest_double(years) + " is not a number of years above 0";
  }
  for (const int group : age_groups) {
    const AgeGroup& age = kAgeGroups.at(static_cast<std::size_t>(group - 1));
    const double days = commitment_days(years, age.days);
    if (days <= 0) {
      return "age " + shortest_double(years) + " (" + shortest_double(years * kDaysPerYear) +
             " days) is not above the age of the age group " + std::string(ascii::trim(age.label)) +
             " (" + std::to_string(age.days) + " days)";
    }
    if (std::string problem = integration_time_problem(days); !problem.empty()) {
      return "the commitment to " + shortest_double(years) + " years, " + shortest_double(days) +
             " days, " + problem;
    }
  }
  return {};
}

}  // namespace

void check_request(const RunRequest& request) {
  resolve_age_list(request.ages, field_label(request, ChoiceField::ages));
  if (request.nuclides) {
    resolve_nuclide_list(*request.nuclides, field_label(request, ChoiceField::nuclides));
  }
  if (!request.plot_nuclide.empty() && ascii::trim(request.plot_nuclide).empty()) {
    throw ChoiceError(ChoiceField::plot, field_label(request, ChoiceField::plot),
                      "NUCLIDE is empty");
  }
  if (request.threads < 0) {
    throw ChoiceError(ChoiceField::threads, field_label(request, ChoiceField::threads),
                      "must be 0 (automatic) or more");
  }
  if (static_cast<std::size_t>(request.before) >= kBeforeModelNames.size()) {
    throw ChoiceError(ChoiceField::before, field_label(request, ChoiceField::before),
                      "unknown model.", before_model_list());
  }
  if (static_cast<std::size_t>(request.after) >= kAfterModelNames.size()) {
    throw ChoiceError(ChoiceField::after, field_label(request, ChoiceField::after),
                      "unknown model.", after_model_list());
  }
  if (request.to_age) {
    const std::vector<int> groups =
        resolve_age_list(request.ages, field_label(request, ChoiceField::ages));
    if (std::string refusal = to_age_refusal(*request.to_age, groups); !refusal.empty()) {
      throw ChoiceError(ChoiceField::to_age, field_label(request, ChoiceField::to_age),
                        std::move(refusal));
    }
  }
  if (request.times) {
    const std::string label = field_label(request, ChoiceField::times);
    if (request.times->empty() || request.times->size() > kMaxIntegrationTimes) {
      throw ChoiceError(
          ChoiceField::times, label,
          "give 1 to " + std::to_string(kMaxIntegrationTimes) + " integration times in days");
    }
    for (const double days : *request.times) {
      if (std::string refusal = integration_time_refusal(days); !refusal.empty()) {
        throw ChoiceError(ChoiceField::times, label, std::move(refusal));
      }
    }
  }
}

RunInput open_run_input(const RunRequest& request) {
  const std::filesystem::path& dir = request.working_dir;
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) {
    RunStop stop;
    stop.file = dir.string();
    stop.path = dir;
    stop.reason = "No such working directory";
    stop_missing(std::move(stop));
  }
  // Messages name a file by its program name, or by its host path for the module.
  const auto shown = [&](std::string_view program_path) {
    return request.host_names ? resolve_program_path(dir, program_path).string()
                              : std::string(program_path);
  };
  RunInput input;
  if (request.times) {
    input.times = *request.times;
  } else {
    const std::string times_name = shown(kIntegrationTimesPath);
    take_input_entry(dir, kIntegrationTimesPath, times_name, false);
    input.source.times_path = resolve_program_path(dir, kIntegrationTimesPath);
    try {
      input.times =
          read_integration_times(input.source.times_path, times_name, request.input_blocks);
    } catch (const InputError& error) {
      stop_refused(error, times_name, input.source.times_path);
    }
  }
  const std::string program_path = "DATA\\" + std::string(data_set_file_name(request.data_set));
  input.data_set_path = shown(program_path);
  take_input_entry(dir, program_path, input.data_set_path, true);
  RunSource& source = input.source;
  source.input_path = resolve_program_path(dir, program_path);
  try {
    // The provenance files need the dose-rate file's hash (see input_hash.h).
    source.read_from_ns = clock_now_ns();
    if (g_before_input_open != nullptr) g_before_input_open();
    input.reader =
        std::make_unique<LineReader>(source.input_path, input.data_set_path,
                                     LineReader::kDefaultBlockSize, request.input_blocks);
    hash_input_as_read(source, *input.reader);
    input.region_names = read_region_names(*input.reader, &input.title);
  } catch (const InputError& error) {
    stop_refused(error, input.data_set_path, source.input_path);
  }
  return input;
}

namespace {

// Reads the weighting scheme of `request` and finds its regions among those of the file:
// those not chosen are added after the chosen ones, for the doses alone. Stops the run
// (RunStopped) for a scheme that is missing or refused.
void add_scheme(ResolvedRun& run, const RunRequest& request, RunInput& input) {
  // Named as given, and found from the current folder as any file named on the command line.
  const std::string shown = request.scheme->string();
  const std::filesystem::path& path = *request.scheme;
  input.source.scheme_path = path;
  try {
    WeightingScheme scheme = read_weighting_scheme(path, shown);
    const SchemeRegions regions = resolve_scheme_regions(scheme, input.region_names);
    std::vector<int>& columns = run.setup.regions;
    const auto take = [&columns](int region) {
      if (std::find(columns.begin(), columns.end(), region) == columns.end()) {
        columns.push_back(region);
      }
    };
    for (const auto& parts : regions.tissues) {
      for (const auto& part : parts) take(part.first);
    }
    for (const int region : regions.remainder) take(region);
    std::vector<std::string> tissues;
    for (const SchemeTissue& tissue : scheme.tissues) tissues.push_back(tissue.name);
    run.doses.emplace(dose_columns(scheme, regions, columns), std::move(tissues));
    run.scheme = std::move(scheme);
  } catch (const InputError& error) {
    stop_refused(error, shown, path);
  }
}

// Gives each age position its own times, with the commitment to `years` after them where it
// is not among them. Throws ChoiceError naming `label` where the times are already as many as
// the coefficient files hold.
void add_commitments(RunSetup& setup, double years, const std::string& label) {
  for (const int group : setup.age_groups) {
    const double days =
        commitment_days(years, kAgeGroups.at(static_cast<std::size_t>(group - 1)).days);
    std::vector<double> times = setup.times;
    if (std::find(times.begin(), times.end(), days) == times.end()) {
      if (times.size() >= static_cast<std::size_t>(kMaxIntegrationTimes)) {
        throw ChoiceError(ChoiceField::to_age, label,
                          "the commitment to " + shortest_double(years) + " years would be " +
                              "integration time " + std::to_string(times.size() + 1) +
                              "; the files hold at most " + std::to_string(kMaxIntegrationTimes));
      }
      times.push_back(days);
    }
    setup.age_times.push_back(std::move(times));
  }
}

}  // namespace

ResolvedRun resolve_run(const RunRequest& request, RunInput input) {
  check_request(request);
  ResolvedRun run;
  RunSetup& setup = run.setup;
  setup.data_set = request.data_set;
  setup.times = input.times;
  setup.age_groups = resolve_age_list(request.ages, field_label(request, ChoiceField::ages));
  setup.regions = resolve_region_list(request.regions, input.region_names,
                                      field_label(request, ChoiceField::regions));
  setup.lung_region = lung_region_number(input.region_names.size());
  setup.threads = request.threads;
  setup.tails = {request.before, request.after};
  run.chosen_regions = setup.regions.size();
  if (request.scheme) add_scheme(run, request, input);
  for (const int region : setup.regions) {
    setup.region_names.push_back(region_name(region, input.region_names));
  }
  if (request.to_age) {
    add_commitments(setup, *request.to_age, field_label(request, ChoiceField::to_age));
  }
  if (request.nuclides) {
    run.nuclides =
        resolve_nuclide_list(*request.nuclides, field_label(request, ChoiceField::nuclides));
  }
  for (const std::string& nuclide : run.nuclides) {
    setup.nuclides.push_back(ascii::to_upper(ascii::trim_right(nuclide)));
  }
  run.input = std::move(input);
  run.csv = request.csv;
  run.plot_nuclide = request.plot_nuclide;
  run.working_dir = request.working_dir;
  run.output_dir = request.output_dir;
  return run;
}

}  // namespace kestrane
