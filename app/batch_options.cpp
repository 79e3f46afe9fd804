// The command line of kestrane-batch (CLI11) and the reading of its --ages and --regions lists.
#include "app/batch_options.h"

#include <CLI/CLI.hpp>
#include <optional>

#include "app/version.h"
#include "dose/run_request.h"
#include "input/ascii.h"

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
  CLI::App app{
      "Computes absorbed dose coefficients without the dialogue: the same files, the\n"
      "same computation and the same coefficient files as kestrane for the same choice.\n"
      "\n"
      "Reads data\\Kestrane.ini (the integration times) and DATA\\KVR13INH.DRT or\n"
      "DATA\\KVR13ING.DRT under DIR, each name matched without regard to case, and\n"
      "writes OUTPUT\\DC<days><h|g>.OUT under DIR for every selected age, in the order\n"
      "of --ages (OUTPUT is created when missing). The written-files line goes to\n"
      "standard output.\n",
      "kestrane-batch"};
  BatchOptions options;
  std::string data_set;
  std::string dir = ".";
  app.add_option("--data-set", data_set, "inhalation (KVR13INH.DRT) or\ningestion (KVR13ING.DRT)")
      ->required()
      ->check(CLI::IsMember({"inhalation", "ingestion"}, CLI::ignore_case));
  app.add_option("--ages", options.ages,
                 "Comma-separated ages at intake, in the order of\n"
                 "the files: an age-group number 1 to 6, an age in\n"
                 "days (100, 365, 1825, 3650, 5475, 7300), an age\n"
                 "text without regard to case (infant, \"1 y-old\",\n"
                 "\"5 y-old\", \"10 y-old\", \"15 y-old\", adult), or all")
      ->required();
  app.add_option("--regions", options.regions,
                 "Comma-separated target regions, in the order of\n"
                 "the columns: a region number (1 to 29 for the\n"
                 "columns of the file, 30 for Lung), a region name\n"
                 "of the file without regard to case, Lung (the\n"
                 "composite of columns 15 to 18), or all (every\n"
                 "column and Lung). Numbers, Lung and all always\n"
                 "mean this: a region whose name is one of them is\n"
                 "chosen by its column number")
      ->required();
  app.add_option("--dir", dir, "Working directory holding DATA, data and OUTPUT")
      ->check(CLI::ExistingDirectory)
      ->capture_default_str();
  app.add_flag("--csv", options.csv,
               "Also write OUTPUT/DC<days><h|g>.csv beside each\n"
               "coefficient file: the full double-precision\n"
               "coefficients, one line per record, integration\n"
               "time and region, under the header line\n"
               "nuclide,class,age_days,time_d,region,low,high\n"
               "(f1 in place of class for ingestion); LF line ends");
  app.add_option("--plot", options.plot,
                 "Also draw every processed record of NUCLIDE (name\n"
                 "without regard to case) as one SVG picture per\n"
                 "selected region in OUTPUT/plots: rates, interpolant,\n"
                 "extensions and the integral from 0")
      ->type_name("NUCLIDE")
      ->check(
          [](const std::string& nuclide) {
            return nuclide.find_first_not_of(' ') == std::string::npos ? "NUCLIDE is empty"
                                                                       : "";
          },
          "NUCLIDE");
  app.set_version_flag("--version", std::string("kestrane-batch ") + kVersion,
                       "Print the version and exit");
  app.footer(age_group_table() +
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
             "Example:\n"
             "  kestrane-batch --data-set inhalation --ages adult,infant \\\n"
             "      --regions Lung,Liver --csv");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {
      exit_status = app.exit(e, out, err);
      return std::nullopt;
    }
    err << "kestrane-batch: " << e.what() << "\n"
        << kBatchUsage << "\nRun with --help for more information.\n";
    exit_status = kBatchUsageError;
    return std::nullopt;
  }
  options.data_set =
      equal_ignoring_case(data_set, "inhalation") ? DataSet::inhalation : DataSet::ingestion;
  options.dir = dir;
  exit_status = kBatchCompleted;
  return options;
}

}  // namespace kestrane
