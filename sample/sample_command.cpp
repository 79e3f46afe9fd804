// The command line of kestrane-sample: sizes in and out, the guard over an existing
// data folder, the writing of the sample directory and the list of what was written.
#include "sample/sample_command.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "app/command_line.h"
#include "base/ascii.h"
#include "base/version.h"
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
  CommandLineSpec spec{
      .program = "kestrane-sample",
      .usage = std::string(kSampleUsage),
      .description =
          "Writes a working directory for Kestrane with synthetic but realistic sample\n"
          "data: DATA/KVR13INH.DRT and DATA/KVR13ING.DRT (absorbed dose rates of invented\n"
          "nuclide records in the fixed-column layout of the real files, CR LF line ends),\n"
          "data/Kestrane.ini (integration times 1, 7, 30, 365, 1825 and 18250 days) and an\n"
          "OUTPUT/ folder. Run kestrane or kestrane-batch in that directory afterwards.",
      .options = {},
      .footer =
          "Exit status:\n"
          "  0  the files are written\n"
          "  1  a file cannot be written\n"
          "  2  a usage error, or a refused folder\n"
          "  3  an unexpected failure",
      .version = std::string("kestrane-sample ") + kVersion};
  spec.options = {
      {.name = "dir",
       .value_name = "DIR",
       .description = "Directory to write (created when missing); default the current folder"},
      {.name = "size",
       .value_name = "SIZE",
       .description = "Approximate size of each dose-rate file: a number with K, M or G (powers "
                      "of 1024), up to a full-size file such as 1G; the sizes written are "
                      "reported in the unit given (default 2M)"},
      {.name = "seed",
       .value_name = "N",
       .description = "Seed of the generator, 0 to 2^64-1; the same seed gives the same bytes "
                      "(default 1)"},
      {.name = "data-set",
       .value_name = "SET",
       .description = "Which dose-rate files to write: both (the default), inhalation or ingestion",
       .choices = {"both", "inhalation", "ingestion"}},
      {.name = "force",
       .value_name = "",
       .description = "Write even when the directory already holds a DATA folder (in any "
                      "letter case), overwriting its files"},
  };

  int status = kSampleWritten;
  const auto given = parse_command_line(spec, argc, argv, out, err, status);
  if (!given) return status;
  const std::string dir = given->value_or("dir", "");
  const std::string only = ascii::to_lower(given->value_or("data-set", "both"));
  const bool force = given->has("force");
  SampleSize target;
  std::uint64_t seed = 1;
  try {
    if (given->has("dir") && dir.empty()) {
      throw std::invalid_argument("--dir: an empty name names no directory");
    }
    target = parse_size(given->value_or("size", "2M"));
    seed = parse_seed(given->value_or("seed", "1"));
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
