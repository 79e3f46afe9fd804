// kestrane-sample: writes a working directory with synthetic dose-rate files, the
// integration-times file and an empty OUTPUT folder, for trying Kestrane and for benchmarks.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "app/sample_data.h"

namespace {

void report(const std::filesystem::path& path, const kestrane::SampleFileSummary& summary) {
  std::printf("%s: %.1f MB, %lld records\n", path.string().c_str(),
              static_cast<double>(summary.bytes) / 1e6, static_cast<long long>(summary.records));
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Writes a working directory for Kestrane with synthetic but realistic sample data:\n"
      "DATA/KVR13INH.DRT and DATA/KVR13ING.DRT (absorbed dose rates of invented nuclide\n"
      "records in the fixed-column layout of the real files, CR LF line ends),\n"
      "data/Kestrane.ini (integration times 1, 7, 30, 365, 1825 and 18250 days) and an empty\n"
      "OUTPUT/ folder. Run kestrane or kestrane-batch in that directory afterwards.",
      "kestrane-sample"};
  std::string dir = ".";
  std::string size = "2M";
  std::uint64_t seed = 1;
  std::string only = "both";
  app.add_option("--dir", dir, "Directory to write (created when missing)")->capture_default_str();
  app.add_option("--size", size,
                 "Approximate size of each dose-rate file: a number with K, M or G\n"
                 "(powers of 1024), up to a full-size file such as 1G")
      ->capture_default_str();
  app.add_option("--seed", seed, "Seed of the generator; the same seed gives the same bytes")
      ->capture_default_str();
  app.add_option("--data-set", only,
                 "Which dose-rate files to write: both, inhalation or ingestion")
      ->check(CLI::IsMember({"both", "inhalation", "ingestion"}, CLI::ignore_case))
      ->capture_default_str();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : 2;
  }

  try {
    const std::uint64_t bytes = kestrane::parse_size(size);
    const auto which = only == "inhalation"  ? kestrane::SampleDataSets::inhalation
                       : only == "ingestion" ? kestrane::SampleDataSets::ingestion
                                             : kestrane::SampleDataSets::both;
    const std::filesystem::path root(dir);
    const kestrane::SampleSummary summary =
        kestrane::write_sample_directory(root, bytes, seed, which);
    if (which != kestrane::SampleDataSets::ingestion) {
      report(root / "DATA" / "KVR13INH.DRT", summary.inhalation);
    }
    if (which != kestrane::SampleDataSets::inhalation) {
      report(root / "DATA" / "KVR13ING.DRT", summary.ingestion);
    }
    return 0;
  } catch (const std::invalid_argument& e) {
    std::cerr << "kestrane-sample: " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "kestrane-sample: " << e.what() << "\n";
    return 1;
  }
}
