// The command line of kestrane-batch: its options, and the --ages and --regions lists read
// into the selected-age and selected-region lists of a run.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "dose/tail_rows.h"
#include "input/data_sets.h"

namespace kestrane {

// A command line that cannot be run as given; the message says what is wrong.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct BatchOptions {
  DataSet data_set = DataSet::inhalation;
  std::string ages;     // the --ages list as given
  std::string regions;  // the --regions list as given
  std::filesystem::path dir = ".";
  // --output DIR: the folder the files of the run go to; none for OUTPUT under `dir`.
  std::optional<std::filesystem::path> output;
  bool csv = false;
  std::string plot;  // --plot NUCLIDE: pictures of that nuclide's records; empty for none
  std::optional<std::string> nuclides;       // --nuclides LIST as given: only these records
  BeforeModel before = BeforeModel::extend;  // --before MODEL
  AfterModel after = AfterModel::extend;     // --after MODEL
  std::optional<std::filesystem::path> scheme;  // --scheme FILE: also the doses it gives
  std::optional<double> to_age;                 // --to-age YEARS: the commitment to that age
};

// The number of years of a --to-age value: a decimal number, its whole text; none for any
// other text.
std::optional<double> parse_years(std::string_view text);

// Exit statuses of kestrane-batch.
inline constexpr int kBatchCompleted = 0;
inline constexpr int kBatchStopped = 1;
inline constexpr int kBatchUsageError = 2;

// How the program is called, in one line of at most 80 columns.
inline constexpr std::string_view kBatchUsage =
    "Usage: kestrane-batch --data-set SET --ages LIST --regions LIST [OPTION]...";

// Reads the command line. Returns the options to run with; or, for --help and for a usage
// error, writes the help or the error with the usage to `out` or `err` and returns no
// options, with the exit status in `exit_status` (0 for --help, kBatchUsageError).
std::optional<BatchOptions> parse_batch_command_line(int argc, const char* const* argv,
                                                     std::ostream& out, std::ostream& err,
                                                     int& exit_status);

// The selected-age list of an --ages list, and the selected-region list of a --regions list
// for the names of the region-name line, as resolve_age_list and resolve_region_list
// (dose/run_request.h) read them; a list they refuse is a UsageError with their message.
std::vector<int> parse_age_list(std::string_view list);
std::vector<int> parse_region_list(std::string_view list, std::span<const std::string> names);

// The nuclides of a --nuclides list: comma-separated names, each without its surrounding
// blanks, in the order given, a repeated name (without regard to case) once. Throws UsageError
// for an empty item.
std::vector<std::string> parse_nuclide_list(std::string_view list);

}  // namespace kestrane
