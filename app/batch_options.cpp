// The command line of kestrane-batch and the reading of its --ages and --regions lists.
#include "app/batch_options.h"

#include <charconv>
#include <filesystem>
#include <optional>
#include <system_error>

#include "app/command_line.h"
#include "base/ascii.h"
#include "base/version.h"
#include "run/choice_lists.h"

namespace kestrane {
namespace {

using ascii::equal_ignoring_case;

// The six age groups as --help shows them: number, name and age in days, one to a line.
std::string age_group_table() {
  std::string table = "Age groups of --ages (give the number, the name or the days):\n";
  for (int g = 1; g <= kAgeGroupCount; ++g) {
    const AgeGroup& group = kAgeGroups[static_cast<std::size_t>(g - 1)];
    const std::string days = std::to_string(group.days);
    table += "  " + std::to_string(g) + "  " + std::string(group.label) +
             std::string(6 - days.size(), ' ') + days;
    table += g == kAgeGroupCount ? " (and every older age)\n" : "\n";
  }
  return table;
}

}  // namespace

std::vector<int> parse_age_list(std::string_view list) {
  try {
    return resolve_age_list(list);
  } catch (const ChoiceError& error) {
    throw UsageError(error.what());
  }
}

std::vector<int> parse_region_list(std::string_view list, std::span<const std::string> names) {
  try {
    return resolve_region_list(list, names);
  } catch (const ChoiceError& error) {
    throw UsageError(error.what());
  }
}

std::optional<BatchOptions> parse_batch_command_line(int argc, const char* const* argv,
                                                     std::ostream& out, std::ostream& err,
                                                     int& exit_status) {
  CommandLineSpec spec{
      .program = "kestrane-batch",
      .usage = std::string(kBatchUsage),
      .description =
          "Computes absorbed dose coefficients without the dialogue: the same files, the\n"
          "same computation and the same coefficient files as kestrane for the same choice.\n"
          "\n"
          "Reads data/Kestrane.ini (the integration times) and DATA/KVR13INH.DRT or\n"
          "DATA/KVR13ING.DRT under DIR, each name matched without regard to case, and\n"
          "writes OUTPUT/DC<days><h|g>.OUT under DIR for every selected age, in the order\n"
          "of --ages (OUTPUT is created when missing), and beside each one\n"
          "OUTPUT/DC<days><h|g>-notes.csv when any of its coefficients is negative or rests\n"
          "for more than 1% on the rates before the first or after the last tabulated time\n"
          "(or its exponential tail fell back to constant), and OUTPUT/DC<days><h|g>.json,\n"
          "its provenance (the input files with their SHA-256, the choices, the files\n"
          "written). The files written go to standard output, one path per line.\n",
      .options = {},
      .footer = "",
      .version = std::string("kestrane-batch ") + kVersion};
  spec.options = {
      {.name = "data-set",
       .value_name = "SET",
       .description = "inhalation (KVR13INH.DRT) or ingestion (KVR13ING.DRT)",
       .required = true,
       .choices = {"inhalation", "ingestion"}},
      {.name = "ages",
       .value_name = "LIST",
       .description = "Comma-separated ages at intake, in the order of the files: an age-group "
                      "number 1 to 6, an age in days (100, 365, 1825, 3650, 5475, 7300), an age "
                      "text without regard to case (infant, \"1 y-old\", \"5 y-old\", "
                      "\"10 y-old\", \"15 y-old\", adult), or all",
       .required = true},
      {.name = "regions",
       .value_name = "LIST",
       .description = "Comma-separated target regions, in the order of the columns: a region "
                      "number (1 to 29 for the columns of the file, 30 for Lung), a region name "
                      "of the file without regard to case, Lung (the composite of columns 15 to "
                      "18), or all (every column and Lung). Numbers, Lung and all always mean "
                      "this: a region whose name is one of them is chosen by its column number",
       .required = true},
      {.name = "dir",
       .value_name = "DIR",
       .description =
           "Working directory holding DATA, data and OUTPUT (default: the current folder)",
       .check = [](const std::string& dir) -> std::string {
         std::error_code ec;
         if (!std::filesystem::exists(dir, ec)) return "directory does not exist";
         if (!std::filesystem::is_directory(dir, ec)) return "directory is actually a file";
         return {};
       }},
      {.name = "output",
       .value_name = "DIR",
       .description = "Write the files of the run into DIR (relative to the current folder; "
                      "made when missing, locked and put in place as OUTPUT is) instead of "
                      "OUTPUT under the working directory, which is then left alone: a second "
                      "folder for a quick look, whose companion files never replace those "
                      "beside the coefficient files in OUTPUT",
       .check = [](const std::string& dir) -> std::string {
         return dir.empty() ? "an empty name names no folder" : "";
       }},
      {.name = "csv",
       .value_name = "",
       .description =
           "Also write OUTPUT/DC<days><h|g>.csv beside each coefficient file: the full "
           "double-precision coefficients, one line per record, integration time and "
           "region, with the columns nuclide, class, age_days, header_line, points, time_d, "
           "region, low, high, low_share_outside and high_share_outside "
           "(f1 in place of class for ingestion); LF line ends"},
      {.name = "nuclides",
       .value_name = "LIST",
       .description = "Process and write only the records of these nuclides (comma-separated, "
                      "without regard to case); a listed nuclide without a processed record "
                      "stops the run before any file is replaced"},
      {.name = "plot",
       .value_name = "NUCLIDE",
       .description = "Also draw every processed record of NUCLIDE (name without regard to "
                      "case) as one SVG picture per selected region in OUTPUT/plots: rates, "
                      "interpolant, the rate beyond the table by --before and --after, and the "
                      "integral from 0",
       .check = [](const std::string& nuclide) -> std::string {
         return nuclide.find_first_not_of(' ') == std::string::npos ? "NUCLIDE is empty" : "";
       }},
      {.name = "scheme",
       .value_name = "FILE",
       .description = "Also write OUTPUT/DC<days><h|g>-dose.csv beside each coefficient file: "
                      "the committed equivalent dose of every tissue of the weighting scheme "
                      "FILE (TOML; see the README's Doses section), of its remainder, and the "
                      "committed effective dose, one line per record, integration time and "
                      "quantity, with the columns nuclide, class, age_days, header_line, "
                      "points, time_d, quantity, tissue and value; LF line ends. A scheme "
                      "that cannot be read stops the run before any file is replaced",
       .check = [](const std::string& file) -> std::string {
         return file.empty() ? "an empty name names no file" : "";
       }},
      {.name = "to-age",
       .value_name = "YEARS",
       .description = "Also integrate to this age: each age's files get one more integration "
                      "time, YEARS x 365 less the age group's days (to age 70: 25450 days for "
                      "the infant, 18250 for the adult), after those of data/Kestrane.ini "
                      "unless it is one of them; refused where YEARS x 365 is not above the "
                      "days of an age chosen",
       .check = [](const std::string& years) -> std::string {
         return parse_years(years) ? "" : "\"" + years + "\" is not a number of years";
       }},
      {.name = "before",
       .value_name = "MODEL",
       .description = "The rate from 0 to the first tabulated time: extend (the first cubic "
                      "piece continued, the default), zero, constant (the first rate) or linear "
                      "(rising from 0 at time 0 to the first rate)",
       .choices = {kBeforeModelNames.begin(), kBeforeModelNames.end()}},
      {.name = "after",
       .value_name = "MODEL",
       .description = "The rate after the last tabulated time: extend (the last cubic piece "
                      "continued, the default), zero, constant (the last rate) or exponential "
                      "(falling from the last rate at the rate of the last two points; constant "
                      "where they do not fall, counted in the notes)",
       .choices = {kAfterModelNames.begin(), kAfterModelNames.end()}},
  };
  spec.footer = age_group_table() +
                "\n"
                "Lung is not a column of the file: it is the weighted sum of region columns 15\n"
                "to 18, 0.1665 x column 15 + 0.1665 x column 16 + 0.333 x column 17 + 0.333 x\n"
                "column 18 (each weight taken in single precision), computed for every time\n"
                "point before the interpolation.\n"
                "\n"
                "Each coefficient is the integral from 0 to the integration time T of the\n"
                "rate: by the model of --before from 0 to the first tabulated time, by the\n"
                "interpolant inside the table, by the model of --after past the last time.\n"
                "The coefficient files of the default (extend, extend) are those of kestrane.\n"
                "\n"
                "An unknown or repeated item of --ages or --regions is refused with the valid\n"
                "items. A progress bar (records done, MB/s, time left) is drawn on standard\n"
                "error when it is a terminal.\n"
                "\n"
                "Exit status:\n"
                "  0        the files are written\n"
                "  1        the run stops (a missing or refused input file, a coefficient file\n"
                "           that cannot be written): the message on standard error names any\n"
                "           incomplete files\n"
                "  2        a usage error\n"
                "  3        an unexpected failure (out of memory, for instance), named on\n"
                "           standard error\n"
                "  128 + n  ended by signal n (Ctrl-C gives 130)\n"
                "\n"
                "Examples:\n"
                "  kestrane-batch --data-set inhalation --ages adult,infant --regions Lung --csv\n"
                "  kestrane-batch --data-set ingestion --ages 1 --regions 1 --after exponential\n"
                "  kestrane-batch --data-set inhalation --ages all --regions all --to-age 70 \\\n"
                "                 --scheme docs/schemes/icrp60-example.toml";

  const auto given = parse_command_line(spec, argc, argv, out, err, exit_status);
  if (!given) return std::nullopt;
  BatchOptions options;
  options.data_set = equal_ignoring_case(given->value_or("data-set", ""), "inhalation")
                         ? DataSet::inhalation
                         : DataSet::ingestion;
  options.ages = given->value_or("ages", "");
  options.regions = given->value_or("regions", "");
  options.dir = given->value_or("dir", ".");
  if (given->has("output")) options.output = given->value_or("output", "");
  options.csv = given->has("csv");
  options.plot = given->value_or("plot", "");
  if (given->has("nuclides")) options.nuclides = given->value_or("nuclides", "");
  // Their choices are checked above: only a listed model is left.
  options.before = resolve_before_model(given->value_or("before", "extend"));
  options.after = resolve_after_model(given->value_or("after", "extend"));
  if (given->has("scheme")) options.scheme = given->value_or("scheme", "");
  if (given->has("to-age")) options.to_age = parse_years(given->value_or("to-age", ""));
  exit_status = kBatchCompleted;
  return options;
}

std::optional<double> parse_years(std::string_view text) {
  double years = 0;
  const char* const end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, years, std::chars_format::general);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return years;
}

std::vector<std::string> parse_nuclide_list(std::string_view list) {
  try {
    return resolve_nuclide_list(list, "--nuclides");
  } catch (const ChoiceError& error) {
    throw UsageError(error.what());
  }
}

}  // namespace kestrane
