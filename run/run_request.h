// A run as every front end asks for it: one request type, its checks in one place, the input
// files located and read, and the request resolved into what the record loop and the files of
// the run need. The dialogue, kestrane-batch and the Python module all go through here, so
// that one choice is taken or refused for the same reason whichever of them makes it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dose/record_loop.h"
#include "input/data_sets.h"
#include "input/line_reader.h"
#include "input/weighting_scheme.h"
#include "output/dose_file.h"
#include "output/hash_cache.h"
#include "output/provenance.h"
#include "run/choice_lists.h"
#include "run/run_outcome.h"

namespace kestrane {

// The program names of the input files under the working directory.
inline constexpr std::string_view kIntegrationTimesPath = "data\\Kestrane.ini";

// Everything a run can be asked.
struct RunRequest {
  std::filesystem::path working_dir = ".";  // holds DATA, data and (by default) OUTPUT
  DataSet data_set = DataSet::inhalation;
  std::string ages;     // an age list, as resolve_age_list reads it ("1,6", "adult", "all")
  std::string regions;  // a region list, as resolve_region_list reads it
  // The integration times in days; none: those of data\Kestrane.ini.
  std::optional<std::vector<double>> times;
  std::optional<std::string> nuclides;  // a nuclide list; none: every nuclide
  bool csv = false;                     // also a CSV file beside each coefficient file
  std::string plot_nuclide;             // pictures of this nuclide's records; empty for none
  int threads = 0;                      // as RunSetup::threads: 0 automatic
  // The rate models before the first and after the last tabulated time (RunSetup::tails).
  BeforeModel before = BeforeModel::extend;
  AfterModel after = AfterModel::extend;
  // A weighting scheme (input/weighting_scheme.h), as the user named it: the run also gives
  // the equivalent doses of its tissues and the effective dose of every record and time.
  std::optional<std::filesystem::path> scheme;
  // An age in years to take the commitment to: each age's files get one more integration
  // time, this age's days (years × 365) less the age group's, after the others unless it is
  // one of them.
  std::optional<double> to_age;
  // The folder the files of the run go to, relative to the current folder; none:
  // <working_dir>/OUTPUT.
  std::optional<std::filesystem::path> output_dir;
  // How refusals name the fields: "--" for kestrane-batch's options ("--ages: ..."), empty
  // for the module's keywords ("ages: ...").
  std::string label_prefix;
  // Whether refusals of the input files name them by their host paths (the module) rather
  // than the program's own names ("DATA\KVR13INH.DRT").
  bool host_names = false;
  // How the input files are read: mapped where they can be (the programs, which guard their
  // mapped windows against a file made shorter meanwhile, platform/mapped_input.h), or copied
  // in blocks (the module, whose interpreter keeps its signals to itself).
  LineReader::Blocks input_blocks = LineReader::Blocks::shared;
};

// The label of `field` in the refusals of `request`: "--ages" or "ages" ("--to-age" or
// "to_age").
std::string field_label(const RunRequest& request, ChoiceField field);

// Where the input of a run comes from, for its provenance files: the host paths of the
// integration-times and dose-rate files and the SHA-256 of the dose-rate file: either the one
// an earlier run took of the same unchanged file, or one worked out from every byte the reader
// reads.
struct RunSource {
  std::filesystem::path times_path;  // empty when the times were given
  std::filesystem::path input_path;
  std::filesystem::path scheme_path;               // empty without a weighting scheme
  std::shared_ptr<BackgroundSha256> input_sha256;  // when hashed as read
  std::string remembered_sha256;                   // when an earlier run hashed the file
  std::optional<FileStamp> input_stamp;            // the file opened, by fstat
  std::int64_t read_from_ns = 0;                   // when the run began to read it
};

// The input files of a run, located and read as far as the records.
struct RunInput {
  std::string data_set_path;              // "DATA\KVR13INH.DRT" (or its host path)
  std::string title;                      // the dose-rate file's title line, as read
  std::vector<double> times;              // the integration times, in order
  std::vector<std::string> region_names;  // the names of the file's region-name line
  std::unique_ptr<LineReader> reader;     // the dose-rate file, at its first header line
  RunSource source;
};

// The choices of `request` that need no file, checked: the age list, the nuclide list, the
// picture nuclide, the threads, the integration times given (at least one and at most
// kMaxIntegrationTimes, each finite, 0 or more and within the coefficient files' range), the
// rate models (one of each list) and the age to take the commitment to (a finite number of
// years whose days are above those of every age chosen).
// Throws ChoiceError.
void check_request(const RunRequest& request);

// Locates and reads data\Kestrane.ini (unless the request gives the times), then locates and
// opens the dose-rate file of the data set and reads its title and region-name lines, in that
// order, under the working directory. Throws RunStopped (StopKind::missing_file or
// input_refused) for the first file that is missing or refused: a folder in place of either
// file is refused as a folder, and the integration-times file must be a regular file (it is
// read again for the provenance files), while the dose-rate file may be a pipe, read in
// blocks as its bytes come.
RunInput open_run_input(const RunRequest& request);

// For tests: called by open_run_input once the dose-rate file is found, just before it is
// opened (a test may switch the file its path names there).
void set_before_input_open_hook(void (*hook)());

// A request resolved on its input: what the record loop and the files of the run need.
struct ResolvedRun {
  RunInput input;
  // The record loop's setup, region names included: the regions chosen, then those of the
  // weighting scheme not among them, which only the doses read.
  RunSetup setup;
  std::size_t chosen_regions = 0;  // how many of setup.regions were chosen
  std::optional<WeightingScheme> scheme;
  std::optional<DoseRows> doses;      // the scheme's sums on the setup's columns
  std::vector<std::string> nuclides;  // the nuclide list as given (empty for every nuclide)
  bool csv = false;
  std::string plot_nuclide;
  std::filesystem::path working_dir;
  std::optional<std::filesystem::path> output_dir;
};

// Resolves `request` on `input`: check_request, then the region list on the file's names, the
// weighting scheme read and its regions found among them, and each age's commitment added to
// its times. Throws ChoiceError, and RunStopped for a weighting scheme that is missing or
// refused (naming its file, line and the reason).
ResolvedRun resolve_run(const RunRequest& request, RunInput input);

}  // namespace kestrane
