// Synthetic sample data: a working directory with both dose-rate files, the integration-times
// file and an empty OUTPUT folder, in the layouts the program reads.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "input/data_sets.h"

namespace kestrane {

// About 2 MB per dose-rate file unless asked otherwise.
inline constexpr std::uint64_t kDefaultSampleBytes = 2ull << 20;

// What one generated dose-rate file holds.
struct SampleFileSummary {
  std::uint64_t bytes = 0;   // size of the file
  std::int64_t lines = 0;    // lines, title and region-name line included
  std::int64_t records = 0;  // nuclide records
  std::map<std::int32_t, std::int64_t> records_by_age;  // age in days -> records of that age
  std::map<char, std::int64_t> records_by_code;         // 'L', 'H', 'B' -> records
  std::int32_t max_time_points = 0;
  std::int32_t min_time_points = 0;
};

struct SampleSummary {
  SampleFileSummary inhalation;
  SampleFileSummary ingestion;
};

// Which dose-rate files a sample directory gets.
enum class SampleDataSets { both, inhalation, ingestion };

// The 29 region names of the sample files, in region-column order.
const std::array<std::string_view, 29>& sample_region_names();

// The integration times of the sample integration-times file, in file order.
std::vector<double> sample_integration_times();

// The whole sample integration-times file, CR LF line ends.
std::string sample_integration_times_file();

// Writes one dose-rate file of about `target_bytes` to `out` (records are added until the
// size is reached) and returns what it holds. The same seed gives the same bytes.
SampleFileSummary write_sample_dose_rate_file(std::ostream& out, DataSet data_set,
                                              std::uint64_t target_bytes, std::uint64_t seed);

// Writes DATA/KVR13INH.DRT and DATA/KVR13ING.DRT (or the one asked for), data/Kestrane.ini
// and an empty OUTPUT folder under `dir`, creating the folders. Throws
// std::filesystem::filesystem_error or std::runtime_error when a file cannot be written.
SampleSummary write_sample_directory(const std::filesystem::path& dir, std::uint64_t target_bytes,
                                     std::uint64_t seed,
                                     SampleDataSets which = SampleDataSets::both);

}  // namespace kestrane
