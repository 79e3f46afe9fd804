// The command line of kestrane-sample (CLI11): sizes in and out, the guard over an existing
// data folder, the writing of the sample directory and the list of what was written.
#include "sample/sample_command.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "app/command_line.h"
#include "app/version.h"
#include "input/ascii.h"
#include "input/input_error.h"
#include "sample/sample_data.h"

namespace kestrane {
namespace {

constexpr std::string_view kSampleUsage = "Usage: kestrane-sample [OPTION]...";

// The largest size of a dose-rate file that kestrane-sample writes.
constexpr double kMaxSampleBytes = 0x1p36;  // 64 GiB

// The name of a folder in `dir` that is called DATA in any letter case, if there is one.
std::optional<std::string> data_folder_in(const std::filesystem::path& dir) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (ascii::equal_ignoring_case(name, "DATA")) {
      if (entry.is_directory(ec)) return name;
    }
  }
  return std::nullopt;
}

// The seed of --seed: a whole number from 0 to 2^64 - 1, nothing else.
std::uint64_t parse_seed(std::string_view text) {
  std::uint64_t seed = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), seed);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
    throw std::invalid_argument("--seed: \"" + printable_excerpt(text) +
                                "\" is not a whole number from 0 to 18446744073709551615");
  }
  return seed;
}

void write_usage_error(std::ostream& err, std::string_view message) {
  kestrane::write_usage_error(err, "kestrane-sample", kSampleUsage, message);
}

}  // namespace

SampleSize parse_size(std::string_view text) {
  const auto fail = [&]() -> SampleSize {
    throw std::invalid_argument("--size: not a size: \"" + printable_excerpt(text) +
                                "\" (expected a number above 0 with K, M or G, such as 2M or 1G, "
                                "up to 64G)");
  };
  double number = 0;
  const auto result =
      std::from_chars(text.data(), text.data() + text.size(), number, std::chars_format::fixed);
  // Not NaN, not negative, not zero ("nan" and "inf" read as numbers here).
  if (result.ec != std::errc() || !(number > 0)) return fail();
  const std::string unit = ascii::to_upper(std::string_view(result.ptr, text.data() + text.size()));
  SampleSize size;
  double scale = 1;
  std::string_view rest = unit;
  if (!rest.empty() && (rest[0] == 'K' || rest[0] == 'M' || rest[0] == 'G')) {
    size.unit = rest[0] == 'K' ? SizeUnit::kib : (rest[0] == 'M' ? SizeUnit::mib : SizeUnit::gib);
    scale = rest[0] == 'K' ? 0x1p10 : (rest[0] == 'M' ? 0x1p20 : 0x1p30);
    rest.remove_prefix(1);
    if (rest == "IB" || rest == "B") rest = {};
  } else if (rest == "B") {
    rest = {};
  }
  if (!rest.empty()) return fail();
  const double bytes = number * scale;
  if (!(bytes >= 1 && bytes <= kMaxSampleBytes)) return fail();
  size.bytes = static_cast<std::uint64_t>(bytes);
  return size;
}

std::string format_size(std::uint64_t bytes, SizeUnit unit) {
  if (unit == SizeUnit::bytes) return std::to_string(bytes) + " bytes";
  const double scale = unit == SizeUnit::kib ? 0x1p10 : (unit == SizeUnit::mib ? 0x1p20 : 0x1p30);
  const char* name = unit == SizeUnit::kib ? "KiB" : (unit == SizeUnit::mib ? "MiB" : "GiB");
  char text[64];
  std::snprintf(text, sizeof text, "%.1f %s", static_cast<double>(bytes) / scale, name);
  return text;
}

int run_sample_command(int argc, const char* const* argv, const std::filesystem::path& working_dir,
                       std::ostream& out, std::ostream& err) {
  CLI::App app{
      "Writes a working directory for Kestrane with synthetic but realistic sample\n"
      "data: DATA/KVR13INH.DRT and DATA/KVR13ING.DRT (absorbed dose rates of invented\n"
      "nuclide records in the fixed-column layout of the real files, CR LF line ends),\n"
      "data/Kestrane.ini (integration times 1, 7, 30, 365, 1825 and 18250 days) and an\n"
      "OUTPUT/ folder. Run kestrane or kestrane-batch in that directory afterwards.",
      "kestrane-sample"};
  use_gnu_help(app, kSampleUsage);
  std::string dir;
  std::string size = "2M";
  std::string seed_text = "1";
  std::string only = "both";
  bool force = false;
  CLI::Option* dir_option = app.add_option("--dir", dir,
                                            "Directory to write (created when missing); default "
                                            "the current folder")
                                 ->type_name("DIR");
  app.add_option("--size", size,
                 "Approximate size of each dose-rate file: a number with K, M or G\n"
                 "(powers of 1024), up to a full-size file such as 1G; the sizes\n"
                 "written are reported in the unit given (default 2M)")
      ->type_name("SIZE");
  app.add_option("--seed", seed_text,
                 "Seed of the generator, 0 to 2^64-1; the same seed gives the same bytes "
                 "(default 1)")
      ->type_name("N");
  app.add_option("--data-set", only,
                 "Which dose-rate files to write: both (the default), inhalation or ingestion")
      ->type_name("SET")
      ->check(CLI::IsMember({"both", "inhalation", "ingestion"}, CLI::ignore_case));
  app.add_flag("--force", force,
               "Write even when the directory already holds a DATA folder (in\n"
               "any letter case), overwriting its files");
  app.set_help_flag("-h,--help", "Print this help and exit");
  app.set_version_flag("--version", std::string("kestrane-sample ") + kVersion,
                       "Print the version and exit");
  app.footer(
      "Exit status:\n"
      "  0  the files are written\n"
      "  1  a file cannot be written\n"
      "  2  a usage error, or a refused folder\n"
      "  3  an unexpected failure");

  SampleSize target;
  std::uint64_t seed = 1;
  if (const auto status = parse_command_line(app, argc, argv, out, err, kSampleUsage)) {
    return *status;
  }
  try {
    if (dir_option->count() > 0 && dir.empty()) {
      throw std::invalid_argument("--dir: an empty name names no directory");
    }
    target = parse_size(size);
    seed = parse_seed(seed_text);
  } catch (const std::invalid_argument& e) {
    write_usage_error(err, e.what());
    return kSampleUsageError;
  }

  if (!force) {
    if (const auto existing =
            data_folder_in(dir.empty() ? working_dir : std::filesystem::path(dir))) {
      err << "kestrane-sample: "
          << (dir.empty() ? std::string("the current folder")
                          : "the folder \"" + printable_excerpt(dir) + "\"")
          << " already holds a folder \"" << printable_excerpt(*existing)
          << "\", whose files would be overwritten; give --dir DIR to write elsewhere, or "
             "--force to overwrite them\n";
      return kSampleUsageError;
    }
  }

  const auto which = only == "inhalation"  ? SampleDataSets::inhalation
                     : only == "ingestion" ? SampleDataSets::ingestion
                                           : SampleDataSets::both;
  const std::filesystem::path root = dir.empty() ? working_dir : std::filesystem::path(dir);
  // The files are named as the user can open them: under --dir, or from the current folder.
  const auto shown = [&](std::string_view name) {
    return dir.empty() ? std::string(name)
                       : (std::filesystem::path(dir) / name).lexically_normal().generic_string();
  };
  std::error_code ec;
  const bool had_output = std::filesystem::is_directory(root / "OUTPUT", ec);
  SampleSummary summary;
  try {
    summary = write_sample_directory(root, target.bytes, seed, which);
  } catch (const std::exception& e) {
    err << "kestrane-sample: " << e.what() << "\n";
    return kSampleWriteFailed;
  }
  const auto report = [&](std::string_view name, const SampleFileSummary& file) {
    out << "Wrote " << shown(name) << ": " << format_size(file.bytes, target.unit) << ", "
        << file.records << (file.records == 1 ? " record\n" : " records\n");
  };
  if (which != SampleDataSets::ingestion) report("DATA/KVR13INH.DRT", summary.inhalation);
  if (which != SampleDataSets::inhalation) report("DATA/KVR13ING.DRT", summary.ingestion);
  out << "Wrote " << shown("data/Kestrane.ini") << ": " << sample_integration_times().size()
      << " integration times\n"
      << (had_output ? "Kept " : "Made ") << shown("OUTPUT") << "/ for the coefficient files\n";
  return kSampleWritten;
}

}  // namespace kestrane
