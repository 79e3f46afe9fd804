// Tests of kestrane-batch: the --ages and --regions lists, the command line, whole runs that
// must give the interactive program's files byte for byte, every stop, the CSV files, and the
// dose files of --scheme with the commitment of --to-age.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <numeric>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/batch_options.h"
#include "app/batch_run.h"
#include "app/run_driver.h"
#include "base/version.h"
#include "input/weighting_scheme.h"
#include "output/csv_file.h"
#include "output/dose_file.h"
#include "output/format_using.h"
#include "sample/sample_data.h"
#include "tests/support/batch_capture.h"
#include "tests/support/test_support.h"
#include "ui/memory_console.h"

namespace kestrane {
namespace {

using kestrane::test_support::read_file;
using kestrane::test_support::sha256sum;
using kestrane::test_support::write_file;

namespace fs = std::filesystem;
using namespace std::string_literals;

std::vector<std::string> sample_names() {
  return {sample_region_names().begin(), sample_region_names().end()};
}

std::vector<int> range(int first, int last) {
  std::vector<int> v(static_cast<std::size_t>(last - first + 1));
  std::iota(v.begin(), v.end(), first);
  return v;
}

// The message of the UsageError that `parse` throws ("" when it throws none).
template <typename Parse>
std::string refusal(Parse parse) {
  try {
    parse();
  } catch (const UsageError& e) {
    return e.what();
  }
  return "";
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Every line kestrane-batch writes on standard error begins with its name, none holds a
// backslash, and the last one ends with a newline.
void expect_batch_messages(const std::string& err) {
  EXPECT_FALSE(err.empty());
  EXPECT_EQ(err.find('\\'), std::string::npos) << err;
  EXPECT_TRUE(err.ends_with('\n')) << err;
  for (std::size_t start = 0; start < err.size(); start = err.find('\n', start) + 1) {
    EXPECT_EQ(err.compare(start, 16, "kestrane-batch: "), 0) << err.substr(start);
  }
}

// The lines of `paths`, as kestrane-batch lists the files it wrote.
std::string path_lines(const std::vector<std::filesystem::path>& paths) {
  std::string lines;
  for (const auto& path : paths) lines += path.lexically_normal().string() + "\n";
  return lines;
}

// ---- --ages ----------------------------------------------------------------------------

TEST(AgeList, TakesNumbersDaysAndTextsInTheOrderGiven) {
  EXPECT_EQ(parse_age_list("1,6"), (std::vector<int>{1, 6}));
  EXPECT_EQ(parse_age_list("adult,infant"), (std::vector<int>{6, 1}));
  EXPECT_EQ(parse_age_list("7300, 100"), (std::vector<int>{6, 1}));
  EXPECT_EQ(parse_age_list("1 Y-OLD"), (std::vector<int>{2}));
  EXPECT_EQ(parse_age_list("Infant  ,5 y-old"), (std::vector<int>{1, 3}));
  EXPECT_EQ(parse_age_list("15 y-old,3650,2"), (std::vector<int>{5, 4, 2}));
  EXPECT_EQ(parse_age_list("all"), range(1, 6));
  EXPECT_EQ(parse_age_list("ALL"), range(1, 6));
  EXPECT_EQ(parse_age_list("All Ages"), range(1, 6));
}

TEST(AgeList, RefusesUnknownEmptyAndRepeatedItemsListingTheValidOnes) {
  const std::string valid =
      "Valid items: 1 to 6, 100, 365, 1825, 3650, 5475, 7300, Infant, 1 y-old, 5 y-old, "
      "10 y-old, 15 y-old, Adult, all.";
  for (const char* bad :
       {"7",     "0",     "99",           "7299",  "9125",  "child",      "1.0", "-1",
        "",      " ",     "1,,2",         "1,",    "1,100", "adult,7300", "2,2", "10 y-old,3650",
        "all,1", "1,all", "infant;adult", "1y-old"}) {
    const std::string message = refusal([&] { parse_age_list(bad); });
    EXPECT_TRUE(contains(message, "--ages")) << bad;
    EXPECT_TRUE(contains(message, valid)) << bad << ": " << message;
  }
  EXPECT_TRUE(contains(refusal([] { parse_age_list("1,100"); }), "\"100\" repeats age group 1"));
  EXPECT_TRUE(contains(refusal([] { parse_age_list("6,child"); }), "unknown item \"child\""));
}

// ---- --regions -------------------------------------------------------------------------

TEST(RegionList, TakesNumbersNamesLungAndAllInTheOrderGiven) {
  const std::vector<std::string> names = sample_names();
  EXPECT_EQ(parse_region_list("Lung,3,1", names), (std::vector<int>{30, 3, 1}));
  EXPECT_EQ(parse_region_list("liver", names), (std::vector<int>{14}));
  EXPECT_EQ(parse_region_list(" HEART , lung ,1", names), (std::vector<int>{29, 30, 1}));
  EXPECT_EQ(parse_region_list("30,bronchi", names), (std::vector<int>{30, 15}));
  EXPECT_EQ(parse_region_list("all", names), range(1, 30));
  EXPECT_EQ(parse_region_list("ALL ORGANS", names), range(1, 30));
}

TEST(RegionList, FollowsTheNumberOfNamesOnTheRegionNameLine) {
  const std::vector<std::string> names{"Alpha", "Beta", "Gamma"};
  EXPECT_EQ(parse_region_list("lung,gamma", names), (std::vector<int>{4, 3}));
  EXPECT_EQ(parse_region_list("4", names), (std::vector<int>{4}));
  EXPECT_EQ(parse_region_list("all", names), range(1, 4));
  EXPECT_TRUE(contains(refusal([&] { parse_region_list("5", names); }),
                       "Valid items: 1 to 4, Alpha, Beta, Gamma, Lung, all."));
}

TEST(RegionList, RefusesUnknownEmptyAndRepeatedItemsListingTheValidOnes) {
  const std::vector<std::string> names = sample_names();
  std::string valid = "Valid items: 1 to 30";
  for (const std::string& name : names) valid += ", " + name;
  valid += ", Lung, all.";
  for (const char* bad : {"31", "0", "Kidney", "", "Liver,", "Liver,14", "Lung,30", "all,Lung",
                          "Liver,all", "liver,LIVER", "Liver Heart"}) {
    const std::string message = refusal([&] { parse_region_list(bad, names); });
    EXPECT_TRUE(contains(message, "--regions")) << bad;
    EXPECT_TRUE(contains(message, valid)) << bad << ": " << message;
  }
  EXPECT_TRUE(contains(refusal([&] { parse_region_list("Lung,30", names); }),
                       "\"30\" repeats region 30 (Lung)"));
}

TEST(RegionList, NumbersAndKeywordsWinOverRegionNamesThatLookLikeThem) {
  // Columns 1 to 3 are named like keywords; they are reached by their numbers.
  const std::vector<std::string> names{"all", "Lung", "3", "Liver"};
  EXPECT_EQ(parse_region_list("all", names), range(1, 5));
  EXPECT_EQ(parse_region_list("lung", names), (std::vector<int>{5}));
  EXPECT_EQ(parse_region_list("3,1,2,liver", names), (std::vector<int>{3, 1, 2, 4}));
  EXPECT_TRUE(contains(refusal([&] { parse_region_list("4,Liver", names); }),
                       "\"Liver\" repeats region 4 (Liver)"));
}

// A file may hold two regions whose names differ only in case: a name as the file spells it
// chooses its region, one that matches both only without regard to case is refused.
struct CaseCase {
  std::string list;
  std::vector<int> regions;  // empty: refused as ambiguous
};

class RegionNamesDifferingInCase : public ::testing::TestWithParam<CaseCase> {};

TEST_P(RegionNamesDifferingInCase, ChooseByExactSpellingOrRefuseAsAmbiguous) {
  const std::vector<std::string> names{"BB-Secretory", "bb-Secretory", "Liver"};
  const CaseCase& c = GetParam();
  if (!c.regions.empty()) {
    EXPECT_EQ(parse_region_list(c.list, names), c.regions);
    return;
  }
  const std::string message = refusal([&] { parse_region_list(c.list, names); });
  EXPECT_TRUE(contains(message, "is ambiguous: it matches \"BB-Secretory\" and \"bb-Secretory\""))
      << message;
  EXPECT_TRUE(
      contains(message, "Valid items: 1 to 4, BB-Secretory, bb-Secretory, Liver, Lung, all."))
      << message;
}

INSTANTIATE_TEST_SUITE_P(
    Lists, RegionNamesDifferingInCase,
    ::testing::Values(CaseCase{"BB-Secretory", {1}}, CaseCase{"bb-Secretory", {2}},
                      CaseCase{"bb-Secretory,BB-Secretory", {2, 1}},
                      CaseCase{"LIVER,BB-Secretory", {3, 1}}, CaseCase{"bb-secretory", {}},
                      CaseCase{"BB-SECRETORY", {}}, CaseCase{"Liver,Bb-Secretory", {}}));

TEST(RegionList, ValidItemsEscapeEveryByteOfTheFileThatIsNotPrintable) {
  const std::vector<std::string> names{"Heart", "A\x1b]0;title\x07", "B\xc3\xa9"};
  const std::string message = refusal([&] { parse_region_list("Kidney", names); });
  EXPECT_TRUE(
      contains(message, "Valid items: 1 to 4, Heart, A\\x1b]0;title\\x07, B\\xc3\\xa9, Lung, all."))
      << message;
  EXPECT_EQ(message.find_first_of("\x1b\x07\xc3"), std::string::npos) << message;
}

// ---- command line ----------------------------------------------------------------------

struct CommandLineResult {
  std::optional<BatchOptions> options;
  int status = -1;
  std::string out;
  std::string err;
};

CommandLineResult command_line(std::vector<std::string> args) {
  args.insert(args.begin(), "kestrane-batch");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out;
  std::ostringstream err;
  CommandLineResult result;
  result.options =
      parse_batch_command_line(static_cast<int>(argv.size()), argv.data(), out, err, result.status);
  result.out = out.str();
  result.err = err.str();
  return result;
}

TEST(CommandLine, ReadsEveryOption) {
  const auto r = command_line({"--data-set", "Ingestion", "--ages", "adult,1", "--regions", "Lung",
                               "--dir", "/tmp", "--csv"});
  ASSERT_TRUE(r.options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.options->data_set, DataSet::ingestion);
  EXPECT_EQ(r.options->ages, "adult,1");
  EXPECT_EQ(r.options->regions, "Lung");
  EXPECT_EQ(r.options->dir, fs::path("/tmp"));
  EXPECT_TRUE(r.options->csv);

  const auto plain =
      command_line({"--data-set", "inhalation", "--ages", "all", "--regions", "all"});
  ASSERT_TRUE(plain.options);
  EXPECT_EQ(plain.options->data_set, DataSet::inhalation);
  EXPECT_EQ(plain.options->dir, fs::path("."));
  EXPECT_FALSE(plain.options->csv);
}

TEST(CommandLine, HelpDescribesEverythingAndExitsZero) {
  const auto r = command_line({"--help"});
  EXPECT_FALSE(r.options);
  EXPECT_EQ(r.status, 0);
  for (const char* part :
       {"--data-set", "--ages", "--regions", "--dir", "--csv", "--version", "--nuclides",
        "header_line,", "low_share_outside", "high_share_outside", "Lung"}) {
    EXPECT_TRUE(contains(r.out, part)) << part;
  }
  // The age groups, and every exit status.
  for (const char* line :
       {"\n  1  Infant     100\n", "\n  2  1 y-old    365\n", "\n  3  5 y-old   1825\n",
        "\n  4  10 y-old  3650\n", "\n  5  15 y-old  5475\n", "\n  6  Adult     7300 (", "\n  0   ",
        "\n  1   ", "\n  2   ", "\n  3   ", "\n  128 + n  "}) {
    EXPECT_TRUE(contains(r.out, line)) << line;
  }
}

TEST(CommandLine, VersionPrintsTheVersionAndExitsZero) {
  const auto r = command_line({"--version"});
  EXPECT_FALSE(r.options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "kestrane-batch "s + kVersion + "\n");
  EXPECT_EQ(r.err, "");
}

TEST(CommandLine, UsageErrorsGiveTheUsageAndStatusTwo) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {},
           {"--ages", "1", "--regions", "1"},
           {"--data-set", "inhalation", "--regions", "1"},
           {"--data-set", "inhalation", "--ages", "1"},
           {"--data-set", "both", "--ages", "1", "--regions", "1"},
           {"--data-set", "inhalation", "--ages", "1", "--regions", "1", "--dir", "/no/such"},
           {"--data-set", "inhalation", "--ages", "1", "--regions", "1", "extra"},
           {"--data-set", "inhalation", "--ages", "1", "--regions", "1", "--plot", ""},
       }) {
    const auto r = command_line(args);
    EXPECT_FALSE(r.options);
    EXPECT_EQ(r.status, kBatchUsageError);
    EXPECT_TRUE(contains(r.err, std::string(kBatchUsage)));
    EXPECT_TRUE(r.err.starts_with("kestrane-batch: ")) << r.err;
    EXPECT_TRUE(r.err.ends_with("\n")) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

// ---- whole runs ------------------------------------------------------------------------

class BatchRun : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    dir = fs::temp_directory_path() /
          ("kestrane_batch_" + std::to_string(getpid()) + "_" + std::to_string(++counter));
    fs::remove_all(dir);
    summary = write_sample_directory(dir, 400000, 42);
  }
  void TearDown() override { fs::remove_all(dir); }

  int batch(DataSet ds, const std::string& ages, const std::string& regions, bool csv = false,
            bool progress = false, std::optional<std::string> nuclides = std::nullopt) {
    BatchOptions options;
    options.nuclides = std::move(nuclides);
    options.data_set = ds;
    options.ages = ages;
    options.regions = regions;
    options.dir = dir;
    options.csv = csv;
    return test::run_batch_captured(options, out, err, progress);
  }

  // The interactive program through its whole dialogue, with the list-box answers given.
  int interactive(const std::vector<int>& data_set, const std::vector<int>& ages,
                  const std::vector<int>& regions) {
    MemoryConsole console;
    console.push_keys(3);  // introduction, "process the data", completion
    console.push_list_box_choice(data_set);
    console.push_list_box_choice(ages);
    console.push_list_box_choice(regions);
    return run_kestrane(console, dir);
  }

  std::string output(const std::string& name) { return read_file(dir / "OUTPUT" / name); }

  fs::path dir;
  SampleSummary summary;
  std::string out;
  std::string err;
};

TEST_F(BatchRun, WritesTheFilesOfTheInteractiveProgramByteForByte) {
  struct Case {
    DataSet ds;
    std::vector<int> list_box_data_set, list_box_ages, list_box_regions;
    std::string ages, regions;
    std::vector<std::string> files;
  };
  const std::vector<Case> cases{
      {DataSet::inhalation,
       {1},
       {6, 1},
       {30, 3, 1},
       "adult,infant",
       "Lung,Bone,adrenals",
       {"DC7300h.OUT", "DC100h.OUT"}},
      {DataSet::ingestion,
       {2},
       {2, 5},
       {14, 30},
       "365,15 y-old",
       "liver,30",
       {"DC365g.OUT", "DC5475g.OUT"}},
      {DataSet::inhalation,
       {1},
       {7},
       {31},
       "all",
       "all",
       {"DC100h.OUT", "DC365h.OUT", "DC1825h.OUT", "DC3650h.OUT", "DC5475h.OUT", "DC7300h.OUT"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ages + " / " + c.regions);
    ASSERT_EQ(interactive(c.list_box_data_set, c.list_box_ages, c.list_box_regions), kRunCompleted);
    std::vector<std::string> by_dialogue;
    for (const std::string& name : c.files) {
      by_dialogue.push_back(output(name));
      fs::remove(dir / "OUTPUT" / name);
    }
    ASSERT_EQ(batch(c.ds, c.ages, c.regions), kBatchCompleted) << err;
    EXPECT_TRUE(err.empty() || err.starts_with("Notes: ")) << err;
    std::vector<fs::path> paths;
    for (const std::string& name : c.files) paths.push_back(dir / "OUTPUT" / name);
    // The coefficient files first; the notes files after them are the notes tests' part.
    EXPECT_TRUE(out.starts_with(path_lines(paths))) << out;
    for (std::size_t k = 0; k < c.files.size(); ++k) {
      const auto lines = std::count(by_dialogue[k].begin(), by_dialogue[k].end(), '\n');
      EXPECT_GE(lines, 3 + 6) << "a heading and at least one record";
      EXPECT_TRUE(output(c.files[k]) == by_dialogue[k]) << c.files[k] << " differs";
    }
  }
}

// One choice in every order of its options, --opt value or --opt=value, a flag anywhere:
// every command line writes the same files, byte for byte, and lists them alike (the time in
// the provenance files aside).
class OptionOrderRun : public BatchRun,
                       public ::testing::WithParamInterface<std::vector<std::string>> {};

// The files of OUTPUT with the line of each provenance file that holds the run's time removed.
std::map<std::string, std::string> without_times(std::map<std::string, std::string> files) {
  for (auto& [name, bytes] : files) {
    if (!name.ends_with(".json")) continue;
    const std::size_t at = bytes.find("\"created\"");
    if (at != std::string::npos) bytes.erase(at, bytes.find('\n', at) - at);
  }
  return files;
}

TEST_P(OptionOrderRun, WritesTheSameFiles) {
  const auto run_with = [&](std::vector<std::string> args) {
    args.insert(args.begin(), "kestrane-batch");
    for (std::string& arg : args) {
      if (arg == "DIR") arg = dir.string();
      if (arg == "--dir=DIR") arg = "--dir=" + dir.string();
    }
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::ostringstream o;
    std::ostringstream e;
    int status = -1;
    const auto options =
        parse_batch_command_line(static_cast<int>(argv.size()), argv.data(), o, e, status);
    EXPECT_TRUE(options.has_value()) << e.str();
    if (!options) return std::string();
    EXPECT_EQ(test::run_batch_captured(*options, out, err), kBatchCompleted) << err;
    return out;
  };
  const std::string listed_first = run_with({"--data-set", "inhalation", "--ages", "adult,infant",
                                             "--regions", "Lung,1", "--dir", "DIR", "--csv"});
  const auto first = without_times(test_support::folder_contents(dir / "OUTPUT"));
  fs::remove_all(dir / "OUTPUT");
  EXPECT_EQ(run_with(GetParam()), listed_first);
  EXPECT_TRUE(without_times(test_support::folder_contents(dir / "OUTPUT")) == first)
      << "the files differ";
  EXPECT_GT(first.size(), 6u);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, OptionOrderRun,
    ::testing::Values(std::vector<std::string>{"--csv", "--dir", "DIR", "--regions", "Lung,1",
                                               "--ages", "adult,infant", "--data-set",
                                               "inhalation"},
                      std::vector<std::string>{"--regions=Lung,1", "--csv", "--data-set=inhalation",
                                               "--dir=DIR", "--ages=adult,infant"},
                      std::vector<std::string>{"--ages", "adult,infant", "--csv", "--csv", "--dir",
                                               "DIR", "--data", "inhalation", "--reg", "Lung,1"},
                      std::vector<std::string>{"--data-set", "inhalation", "--dir=DIR", "--regions",
                                               "Lung,1", "--csv", "--ages", "adult,infant", "--"}));

// --output DIR: the files of the run go to DIR, made when missing, and nothing into OUTPUT;
// a link in DIR's place, or a file, is refused before anything is written.
struct OutputFolderCase {
  std::string name;
  std::function<void(const fs::path& dir, const fs::path& folder)> before;
  std::string refusal;  // the message's first line after the folder's name; empty: it runs
};

class OutputFolder : public BatchRun, public ::testing::WithParamInterface<OutputFolderCase> {};

TEST_P(OutputFolder, TakesTheFilesOfTheRunInsteadOfOutput) {
  const OutputFolderCase& c = GetParam();
  const fs::path folder = dir / "quick" / "look";
  fs::create_directories(dir / "quick");
  ASSERT_EQ(batch(DataSet::inhalation, "infant", "Lung", true), kBatchCompleted) << err;
  const auto earlier = test_support::folder_contents(dir / "OUTPUT");
  c.before(dir, folder);
  BatchOptions options;
  options.data_set = DataSet::ingestion;
  options.ages = "adult";
  options.regions = "1";
  options.dir = dir;
  options.output = folder;
  const int status = test::run_batch_captured(options, out, err);
  // OUTPUT under the working directory is as the first run left it, CSV files and all.
  EXPECT_TRUE(test_support::folder_contents(dir / "OUTPUT") == earlier) << "OUTPUT changed";
  if (!c.refusal.empty()) {
    EXPECT_EQ(status, kBatchStopped);
    EXPECT_EQ(err.substr(0, err.find('\n')), "kestrane-batch: " + folder.string() + c.refusal);
    EXPECT_EQ(out, "");
    return;
  }
  ASSERT_EQ(status, kBatchCompleted) << err;
  const auto made = test_support::folder_contents(folder);
  std::vector<std::string> names;
  for (const auto& [name, bytes] : made) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"DC7300g-notes.csv", "DC7300g.OUT", "DC7300g.json",
                                             "kestrane.lock"}))
      << out;
  EXPECT_TRUE(out.starts_with(path_lines({folder / "DC7300g.OUT"}))) << out;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(line.starts_with(folder.string() + "/")) << line;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, OutputFolder,
    ::testing::Values(
        OutputFolderCase{"MadeWhenMissing", [](const fs::path&, const fs::path&) {}, ""},
        OutputFolderCase{
            "Existing",
            [](const fs::path&, const fs::path& folder) { fs::create_directory(folder); }, ""},
        OutputFolderCase{"LinkRefused",
                         [](const fs::path& dir, const fs::path& folder) {
                           fs::create_directory_symlink(dir / "OUTPUT", folder);
                         },
                         " is a symbolic link, not a folder"},
        OutputFolderCase{"FileRefused",
                         [](const fs::path&, const fs::path& folder) {
                           test_support::write_file(folder, "mine");
                         },
                         " is a file, not a folder"}),
    [](const ::testing::TestParamInfo<OutputFolderCase>& test) { return test.param.name; });

TEST_F(BatchRun, StopsWithTheDialoguesMessagesOnStandardError) {
  // A region list that does not fit the file is a usage error, found after the names are read.
  EXPECT_EQ(batch(DataSet::inhalation, "1", "Kidney"), kBatchUsageError);
  EXPECT_TRUE(contains(err, "unknown item \"Kidney\""));
  EXPECT_TRUE(contains(err, std::string(kBatchUsage)));
  EXPECT_EQ(batch(DataSet::inhalation, "8", "1"), kBatchUsageError);
  EXPECT_FALSE(fs::exists(dir / "OUTPUT" / "DC100h.OUT"));

  fs::remove(dir / "DATA" / "KVR13ING.DRT");
  EXPECT_EQ(batch(DataSet::ingestion, "1", "1"), kBatchStopped);
  EXPECT_EQ(err, "kestrane-batch: Unable to locate the file DATA/KVR13ING.DRT.\n");
  EXPECT_EQ(out, "");

  fs::remove(dir / "data" / "Kestrane.ini");
  EXPECT_EQ(batch(DataSet::inhalation, "1", "1"), kBatchStopped);
  EXPECT_EQ(err,
            "kestrane-batch: Unable to locate the file data/Kestrane.ini.\n"
            "kestrane-batch: This file contains the integration times.\n");
  EXPECT_EQ(out, "");

  // A folder that may not be searched is named with the reason, not as a missing file.
  fs::permissions(dir, fs::perms::owner_write);
  if (::access(dir.c_str(), R_OK | X_OK) != 0) {
    EXPECT_EQ(batch(DataSet::inhalation, "1", "1"), kBatchStopped);
    EXPECT_EQ(err, "kestrane-batch: Cannot search the folder \"" + dir.string() +
                       "\" for data/Kestrane.ini: Permission denied.\n");
  }  // else run as root, who may search any folder
  fs::permissions(dir, fs::perms::owner_all);

  write_file(dir / "data" / "Kestrane.ini", "START\r\n1\r\n");
  EXPECT_EQ(batch(DataSet::inhalation, "1", "1", true), kBatchStopped);
  expect_batch_messages(err);
  EXPECT_TRUE(contains(err, "data/Kestrane.ini")) << err;
  // A run refused before processing leaves nothing in OUTPUT.
  EXPECT_TRUE(fs::is_empty(dir / "OUTPUT"));

  // A quoted header line shows its control bytes as "?", never raw and never as an escape
  // with a backslash.
  write_file(dir / "data" / "Kestrane.ini", "START\r\n1\r\nEND\r\n");
  std::string drt = read_file(dir / "DATA" / "KVR13INH.DRT");
  const std::size_t third_line = drt.find("\r\n", drt.find("\r\n") + 2) + 2;
  drt.replace(third_line + 34, 1, "\x1b]0;X\x07");  // the table code
  write_file(dir / "DATA" / "KVR13INH.DRT", drt);
  EXPECT_EQ(batch(DataSet::inhalation, "all", "1"), kBatchStopped);
  expect_batch_messages(err);
  EXPECT_EQ(err.find('\x1b'), std::string::npos) << err;
  EXPECT_TRUE(contains(err, "?]0;X?")) << err;
}

// A failed write to standard output gives status 1 and a message, as GNU tools do: the
// program itself, its output sent to /dev/full.
TEST_F(BatchRun, StandardOutputThatCannotBeWrittenGivesStatusOne) {
  const fs::path program = fs::path(KESTRANE_BIN_DIR) / "kestrane-batch";
  if (!fs::exists(program)) GTEST_SKIP() << program << " is not built";
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  const fs::path messages = dir / "stderr.txt";
  for (const std::string& args :
       {std::string("--version"), std::string("--help"),
        "--dir '" + dir.string() + "' --data-set inhalation --ages 1 --regions 1"}) {
    const std::string command =
        "'" + program.string() + "' " + args + " > /dev/full 2> '" + messages.string() + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << args;
    EXPECT_EQ(WEXITSTATUS(status), 1) << args;
    // The notes line of a run goes to standard error before the failure is found.
    std::string said = read_file(messages);
    if (said.rfind("Notes: ", 0) == 0) said.erase(0, said.find('\n') + 1);
    EXPECT_EQ(said, "kestrane-batch: write error on standard output: No space left on device\n")
        << args;
  }
}

// A file-size limit (ulimit -f) stops the program's run as a full disk does: the signal it
// raises is ignored, so the write past the limit fails with EFBIG, and the program stops with
// "File too large" and status 1, every earlier file as it was. The program itself, started in
// a child with the limit set and the signal at its default action, as a shell starts it.
class FileSizeLimit : public BatchRun, public ::testing::WithParamInterface<rlim_t> {};

TEST_P(FileSizeLimit, StopsTheRunWithFileTooLargeAndKeepsTheEarlierFiles) {
  const fs::path program = fs::path(KESTRANE_BIN_DIR) / "kestrane-batch";
  if (!fs::exists(program)) GTEST_SKIP() << program << " is not built";
  ASSERT_EQ(batch(DataSet::inhalation, "infant,adult", "1,Lung"), kBatchCompleted) << err;
  const auto earlier = test_support::folder_contents(dir / "OUTPUT");
  ASSERT_GT(output("DC7300h.OUT").size(), GetParam());  // the run writes past the limit
  int messages[2];
  ASSERT_EQ(::pipe(messages), 0);  // not a file: the limit would cut the messages too
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_DFL);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = GetParam();
    const int quiet = ::open("/dev/null", O_WRONLY);
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0 || ::dup2(quiet, STDOUT_FILENO) < 0 ||
        ::dup2(messages[1], STDERR_FILENO) < 0) {
      std::_Exit(126);
    }
    ::close(messages[0]);
    ::execl(program.c_str(), program.c_str(), "--dir", dir.c_str(), "--data-set", "inhalation",
            "--ages", "infant,adult", "--regions", "1,Lung", static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  ::close(messages[1]);
  std::string said;
  char buffer[4096];
  for (ssize_t got; (got = ::read(messages[0], buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    said.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(messages[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 1) << said;
  const std::string first = said.substr(0, said.find('\n'));
  EXPECT_TRUE(first.starts_with("kestrane-batch: Unable to write the file OUTPUT/DC")) << said;
  EXPECT_TRUE(first.ends_with(".partial: File too large")) << said;
  auto now = test_support::folder_contents(dir / "OUTPUT");
  std::erase_if(now, [](const auto& entry) { return entry.first.ends_with(".partial"); });
  EXPECT_EQ(now, earlier);
}

INSTANTIATE_TEST_SUITE_P(Limits, FileSizeLimit, ::testing::Values(0, 512, 2048),
                         [](const auto& test) { return std::to_string(test.param) + "Bytes"; });

TEST_F(BatchRun, RegionNamesOfTheFileInAUsageErrorShowTheirControlBytesAsQuestionMarks) {
  std::string drt = read_file(dir / "DATA" / "KVR13INH.DRT");
  drt.insert(drt.find("Adrenals"), "\x1b]0;X\x07");
  write_file(dir / "DATA" / "KVR13INH.DRT", drt);
  EXPECT_EQ(batch(DataSet::inhalation, "1", "Kidney"), kBatchUsageError);
  EXPECT_EQ(err.find_first_of("\x1b\x07\\"), std::string::npos) << err;
  EXPECT_TRUE(contains(err, "Valid items: 1 to 30, ?]0;X?Adrenals, ")) << err;
}

TEST_F(BatchRun, ARecordCutShortStopsTheRunAndKeepsTheRowsBeforeIt) {
  const fs::path drt = dir / "DATA" / "KVR13INH.DRT";
  const std::string whole = read_file(drt);
  write_file(drt, whole.substr(0, whole.size() - 301));  // the last data line is lost

  write_file(dir / "OUTPUT" / "DC100h.OUT", "an earlier run\r\n");
  write_file(dir / "OUTPUT" / "DC100h.csv", "an earlier table\n");
  ASSERT_EQ(batch(DataSet::inhalation, "all", "Lung", true), kBatchStopped);
  EXPECT_EQ(out, "");
  expect_batch_messages(err);
  EXPECT_TRUE(contains(err, "DATA/KVR13INH.DRT")) << err;
  std::string partials =
      "kestrane-batch: the earlier files are kept; the rows written are left in:";
  for (const char* ext : {".OUT", ".csv"}) {
    for (const char* age : {"100", "365", "1825", "3650", "5475", "7300"}) {
      partials += ' ';
      partials += (dir / "OUTPUT" / ("DC"s + age + "h" + ext + ".partial")).string();
    }
  }
  // The notes files made before the stop follow.
  for (const char* age : {"100", "365", "1825", "3650", "5475", "7300"}) {
    const fs::path notes = dir / "OUTPUT" / ("DC"s + age + "h-notes.csv.partial");
    if (fs::exists(notes)) partials += " " + notes.string();
  }
  EXPECT_TRUE(err.ends_with(partials + "\n")) << err;
  // The first record (150 time points, 100 days) was written before the stop, into the
  // partial files; the earlier files are as they were.
  const std::string infant = output("DC100h.OUT.partial");
  EXPECT_GT(std::count(infant.begin(), infant.end(), '\n'), 3);
  const std::string infant_csv = output("DC100h.csv.partial");
  EXPECT_GT(std::count(infant_csv.begin(), infant_csv.end(), '\n'), 1);
  EXPECT_TRUE(infant_csv.ends_with('\n'));
  EXPECT_EQ(output("DC100h.OUT"), "an earlier run\r\n");
  EXPECT_EQ(output("DC100h.csv"), "an earlier table\n");
}

TEST_F(BatchRun, ACsvFileThatCannotBeCreatedLeavesTheEarlierFilesAsTheyWere) {
  write_file(dir / "OUTPUT" / "DC100h.OUT", "an earlier run\r\n");
  write_file(dir / "OUTPUT" / "DC365h.csv", "an earlier table\n");
  fs::create_directory(dir / "OUTPUT" / "DC100h.csv");  // a folder where the file should go

  ASSERT_EQ(batch(DataSet::inhalation, "1 y-old,infant", "1", true), kBatchStopped);
  EXPECT_EQ(err, "kestrane-batch: Unable to create the file OUTPUT/DC100h.csv: Is a directory\n");
  EXPECT_EQ(out, "");
  EXPECT_EQ(output("DC100h.OUT"), "an earlier run\r\n");
  EXPECT_EQ(output("DC365h.csv"), "an earlier table\n");
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir / "OUTPUT")) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left,
            (std::vector<std::string>{"DC100h.OUT", "DC100h.csv", "DC365h.csv", "kestrane.lock"}));
}

TEST_F(BatchRun, DrawsAProgressBarOnlyWhenAskedTo) {
  ASSERT_EQ(batch(DataSet::inhalation, "all", "all", false, true), kBatchCompleted);
  EXPECT_TRUE(contains(err, " records [")) << err;
  EXPECT_TRUE(contains(err, "MB/s")) << err;
  EXPECT_TRUE(contains(err, "left")) << err;
  // The bar is wiped before the notes line.
  EXPECT_TRUE(contains(err, "\rNotes: ")) << err;
  ASSERT_EQ(batch(DataSet::inhalation, "all", "all", false, false), kBatchCompleted);
  EXPECT_TRUE(err.starts_with("Notes: ")) << err;
}

// ---- CSV -------------------------------------------------------------------------------

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

double read_double(const std::string& text) {
  double value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  EXPECT_EQ(result.ptr, text.data() + text.size()) << text;
  return value;
}

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string narrowed(const char* mask, std::initializer_list<double> values) {
  std::vector<double> narrow;
  for (double v : values) narrow.push_back(static_cast<double>(static_cast<float>(v)));
  return format_using(mask, narrow);
}

// Checks a CSV file line by line against the coefficient file beside it.
void expect_csv_agrees(const std::string& csv, const std::string& out_file, DataSet ds,
                       const std::vector<std::string>& region_names, std::size_t times) {
  const bool inh = ds == DataSet::inhalation;
  std::vector<std::string> lines = split(csv, '\n');
  ASSERT_EQ(lines.back(), "") << "the last line ends in LF";
  lines.pop_back();
  EXPECT_EQ(csv.find('\r'), std::string::npos);
  ASSERT_EQ(lines.front(), csv_header(ds));
  std::vector<std::string> rows = split(out_file, '\n');
  rows.pop_back();
  for (std::string& row : rows) row.pop_back();  // the CR
  rows.erase(rows.begin(), rows.begin() + 3);    // the heading
  const std::size_t regions = region_names.size();
  ASSERT_EQ(lines.size() - 1, rows.size() * regions) << "one line per time and region";
  ASSERT_EQ(rows.size() % times, 0u);

  const std::size_t time_column = inh ? 10 : 16;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::size_t row_index = (i - 1) / regions;
    const std::size_t j = (i - 1) % regions;
    const std::string& row = rows[row_index];
    const std::vector<std::string> f = split(lines[i], ',');
    ASSERT_EQ(f.size(), 11u) << lines[i];
    SCOPED_TRACE(lines[i]);
    EXPECT_EQ(f[6], region_names[j]);
    EXPECT_EQ(row.substr(time_column - 1, 8), narrowed("##.#^^^^", {read_double(f[5])}));
    // A table the record does not carry is empty, and printed as 0 in the coefficient file.
    const auto value = [&](std::size_t k) { return f[k].empty() ? 0.0 : read_double(f[k]); };
    EXPECT_EQ(row.substr(time_column + 7 + 19 * j, 19),
              narrowed("##.##^^^^##.##^^^^ ", {value(7), value(8)}));
    for (std::size_t k : {5, 7, 8, 9, 10}) {  // the shortest text that reads back the same
      if (f[k].empty()) continue;
      char buf[32];
      const auto r = std::to_chars(buf, buf + sizeof buf, read_double(f[k]));
      EXPECT_EQ(std::string(buf, r.ptr), f[k]);
    }
    if (row_index % times == 0) {  // the first row of a block names the record
      EXPECT_EQ(trimmed(row.substr(0, 7)), f[0]);
      EXPECT_EQ(inh ? trimmed(row.substr(7, 1)) : trimmed(row.substr(8, 7)), f[1]);
    } else {
      EXPECT_EQ(row.substr(0, time_column - 1), std::string(time_column - 1, ' '));
    }
    EXPECT_FALSE(f[0].empty());
    EXPECT_FALSE(f[1].empty());
  }
}

TEST_F(BatchRun, CsvAgreesWithTheFixedWidthFilesWhenNarrowedAndFormatted) {
  for (DataSet ds : {DataSet::inhalation, DataSet::ingestion}) {
    const char letter = data_set_letter(ds);
    ASSERT_EQ(batch(ds, "adult,5 y-old", "Lung,alveolar,1,29", true), kBatchCompleted) << err;
    std::vector<fs::path> written;
    for (const char* ext : {".OUT", ".csv"}) {
      for (const char* age : {"7300", "1825"}) {
        written.push_back(dir / "OUTPUT" / ("DC"s + age + letter + ext));
      }
    }
    // The notes files and their line follow; they are the notes tests' part.
    EXPECT_TRUE(out.starts_with(path_lines(written))) << out;
    const std::vector<std::string> names{"Lung", "Alveolar", "Adrenals", "Heart"};
    for (const std::string age : {"7300", "1825"}) {
      SCOPED_TRACE(age + letter);
      const std::string base = "DC" + age + letter;
      expect_csv_agrees(output(base + ".csv"), output(base + ".OUT"), ds, names,
                        sample_integration_times().size());
    }
    // Records of 9125 and 10950 days go to the adult files, with their own age.
    const std::string adult = output("DC7300"s + letter + ".csv");
    EXPECT_TRUE(contains(adult, ",9125,") || contains(adult, ",10950,"));
    EXPECT_TRUE(contains(adult, ",7300,") && contains(adult, ",1,Lung,"));
    EXPECT_FALSE(contains(adult, ",7299,"));
  }
}

// --nuclides keeps every file of the run to the records of the listed nuclides; a listed one
// without a processed record stops the run with every earlier file as it was. Standard output
// holds the paths of the files written, and nothing else.
struct NuclideCase {
  const char* name;
  std::string list;
  std::set<std::string> kept;  // empty: the run stops
  std::string missing;
};

void PrintTo(const NuclideCase& c, std::ostream* os) { *os << c.name; }

class Nuclides : public BatchRun, public ::testing::WithParamInterface<NuclideCase> {};

// The first field of every line after the column line.
std::set<std::string> first_fields(const std::string& csv) {
  std::set<std::string> names;
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line)) names.insert(line.substr(0, line.find(',')));
  return names;
}

TEST_P(Nuclides, KeepEveryFileToTheListedRecords) {
  const NuclideCase& c = GetParam();
  write_file(dir / "OUTPUT" / "DC100g.OUT", "earlier\r\n");
  const int status = batch(DataSet::ingestion, "infant", "1,Lung", true, false, c.list);
  if (c.kept.empty()) {
    EXPECT_EQ(status, kBatchStopped);
    EXPECT_TRUE(
        contains(err, "kestrane-batch: No record of the nuclide " + c.missing + " was processed."))
        << err;
    EXPECT_EQ(out, "");
    EXPECT_EQ(output("DC100g.OUT"), "earlier\r\n");
    return;
  }
  ASSERT_EQ(status, kBatchCompleted) << err;
  EXPECT_EQ(first_fields(output("DC100g.csv")), c.kept);
  EXPECT_EQ(first_fields(output("DC100g-notes.csv")), c.kept);
  // The first row of each record in the coefficient file names it, after the three headings.
  std::istringstream rows(output("DC100g.OUT"));
  std::set<std::string> in_file;
  int number = 0;
  for (std::string row; std::getline(rows, row);) {
    if (++number > 3 && row[0] != ' ') in_file.insert(trimmed(row.substr(0, 7)));
  }
  EXPECT_EQ(in_file, c.kept);
  // Standard output: one path per line, each a file of the run; the notes line is on
  // standard error.
  std::istringstream paths(out);
  int count = 0;
  for (std::string path; std::getline(paths, path); ++count) {
    EXPECT_TRUE(fs::is_regular_file(path)) << path;
  }
  EXPECT_EQ(count, 4);  // .OUT, .csv, -notes.csv, .json
  EXPECT_TRUE(err.starts_with("Notes: ")) << err;
}

INSTANTIATE_TEST_SUITE_P(Lists, Nuclides,
                         ::testing::Values(  // the sample's infant records are of U-240 and Ra-222
                             NuclideCase{"CaseAndTrailingBlanksAside", "ra-222 ", {"Ra-222"}, ""},
                             NuclideCase{"Both", "U-240,RA-222", {"U-240", "Ra-222"}, ""},
                             NuclideCase{"OneMissing", "U-240,Xx-1", {}, "Xx-1"}),
                         [](const ::testing::TestParamInfo<NuclideCase>& test) {
                           return test.param.name;
                         });

TEST(NuclideList, RefusesAnEmptyItemAndKeepsARepeatedNameOnce) {
  EXPECT_EQ(parse_nuclide_list(" Pm-145 ,fe-56,PM-145"),
            (std::vector<std::string>{"Pm-145", "fe-56"}));
  EXPECT_THROW(parse_nuclide_list("Pm-145,,Fe-56"), UsageError);
  EXPECT_THROW(parse_nuclide_list(""), UsageError);
}

// One record of each kind: its rows name the record (line and point count), leave a table it
// does not carry empty, and give the share from outside only for an integrated table.
struct CsvCase {
  const char* name;
  std::string code;
  int n;
  std::vector<std::string> rows;
};

void PrintTo(const CsvCase& c, std::ostream* os) { *os << c.name; }

class CsvRows : public ::testing::TestWithParam<CsvCase> {};

TEST_P(CsvRows, NameTheRecordAndLeaveWhatItLacksEmpty) {
  const CsvCase& c = GetParam();
  HeaderRecord header;
  header.nuclide = "I-131  ";
  header.class_or_f1 = " 0.0500";
  header.age_days = 9125;
  header.line_number = 42;
  header.n = c.n;
  header.table_code = c.code;
  header.tables = tables_of_code(c.code);
  auto coef = std::make_unique<CoefficientTable>();
  // Low 0.1 with 0.025 outside (share 0.25), high 2/3 with -2/3 outside (4/3 inside, share
  // 1/3): the
  // loop fills a table the record does not carry with 0.
  const bool low = c.code != "H ";
  const bool high = c.code != "L";
  coef->coef[0][0][0] = low ? 0.1 : 0;
  coef->outside[0][0][0] = low && c.n > 1 ? 0.025 : 0;
  coef->coef[1][0][0] = high ? 2.0 / 3.0 : 0;
  coef->outside[1][0][0] = high && c.n > 1 ? -2.0 / 3.0 : 0;
  coef->integrated = {low && c.n > 1, high && c.n > 1};
  const std::vector<double> times{18250.5};
  const std::vector<std::string> names{"Odd,name"};
  std::string text;
  append_csv_record(text, header, *coef, times, names);
  EXPECT_EQ(text, c.rows.front());
}

INSTANTIATE_TEST_SUITE_P(
    Records, CsvRows,
    ::testing::Values(
        CsvCase{"High",
                "H ",
                4,
                {"I-131,0.0500,9125,42,4,18250.5,\"Odd,name\",,0.6666666666666666,,0."
                 "3333333333333333\n"}},
        CsvCase{"Low", "L", 5, {"I-131,0.0500,9125,42,5,18250.5,\"Odd,name\",0.1,,0.25,\n"}},
        CsvCase{"Both",
                "B",
                3,
                {"I-131,0.0500,9125,42,3,18250.5,\"Odd,name\",0.1,0.6666666666666666,0.25,"
                 "0.3333333333333333\n"}},
        CsvCase{"OnePointCopied",
                "B",
                1,
                {"I-131,0.0500,9125,42,1,18250.5,\"Odd,name\",0.1,0.6666666666666666,,\n"}}),
    [](const ::testing::TestParamInfo<CsvCase>& test) { return test.param.name; });

TEST(Csv, NamesTheFilesBesideTheCoefficientFiles) {
  EXPECT_EQ(csv_file_name(365, DataSet::inhalation), "OUTPUT\\DC365h.csv");
  EXPECT_EQ(csv_file_name(7300, DataSet::ingestion), "OUTPUT\\DC7300g.csv");
  EXPECT_EQ(csv_header(DataSet::ingestion),
            "nuclide,f1,age_days,header_line,points,time_d,region,low,high,low_share_outside,"
            "high_share_outside");
}

// ---- Input from a pipe ------------------------------------------------------------

// A named pipe at DATA\KVR13INH.DRT (or KVR13ING.DRT) is read in blocks as a writer feeds it:
// the run writes the files of the regular file byte for byte, but for the time in their
// provenance and whether the input was hashed in the run (a pipe always is); the progress bar,
// with no size to go by, shows the bytes read, without a share or a time left.
class PipeInput : public BatchRun, public ::testing::WithParamInterface<DataSet> {};

// The files of OUTPUT, each provenance file without its lines of the time and of the hashing.
std::map<std::string, std::string> output_files(const fs::path& dir) {
  std::map<std::string, std::string> files = test_support::folder_contents(dir / "OUTPUT");
  for (auto& [name, bytes] : files) {
    if (!name.ends_with(".json")) continue;
    std::string kept;
    for (const std::string& line : split(bytes, '\n')) {
      if (!contains(line, "\"created\"") && !contains(line, "\"hashed_in_this_run\"")) {
        kept += line + "\n";
      }
    }
    bytes = kept;
  }
  return files;
}

TEST_P(PipeInput, GivesTheFilesOfTheRegularFile) {
  const DataSet ds = GetParam();
  const fs::path input = dir / "DATA" / std::string(data_set_file_name(ds));
  ASSERT_EQ(batch(ds, "all", "all", true), kBatchCompleted) << err;
  const std::map<std::string, std::string> from_file = output_files(dir);
  const std::string listed = out;
  ASSERT_GT(from_file.size(), 6u * 3);

  const test_support::PipeWriter writer(input, read_file(input));
  ASSERT_EQ(batch(ds, "all", "all", true, true), kBatchCompleted) << err;
  EXPECT_EQ(out, listed);
  EXPECT_TRUE(output_files(dir) == from_file);
  for (const auto& [name, bytes] : output_files(dir)) {
    EXPECT_TRUE(from_file.contains(name) && from_file.at(name) == bytes) << name << " differs";
  }
  EXPECT_TRUE(contains(err, " records ")) << err;
  EXPECT_TRUE(contains(err, " MB read ")) << err;
  EXPECT_FALSE(contains(err, "%")) << err;
  EXPECT_FALSE(contains(err, " left")) << err;
}

INSTANTIATE_TEST_SUITE_P(DataSets, PipeInput,
                         ::testing::Values(DataSet::inhalation, DataSet::ingestion),
                         [](const ::testing::TestParamInfo<DataSet>& test) {
                           return test.param == DataSet::inhalation ? "Inhalation" : "Ingestion";
                         });

// ---- doses (--scheme, --to-age) ------------------------------------------------------

// The shipped example scheme (the split rule on), on the sample's region names.
const fs::path kExampleScheme =
    fs::path(KESTRANE_TEST_DATA).parent_path().parent_path() / "docs/schemes/icrp60-example.toml";

// A scheme without the split rule, with radiation weights other than the example's and parts
// out of the file's column order.
const std::string kPlainScheme =
    "name = \"Plain\"\n"                                              // 1
    "[radiation]\n"                                                   // 2
    "low = 2.5\n"                                                     // 3
    "high = 10\n"                                                     // 4
    "[[tissue]]\n"                                                    // 5
    "name = \"Gut\"\n"                                                // 6
    "weight = 0.375\n"                                                // 7
    "regions = { LowerLI = 0.25, SmallInt = 0.5, Stomach = 0.25 }\n"  // 8
    "[[tissue]]\n"                                                    // 9
    "name = \"Lung\"\n"                                               // 10
    "weight = 0.5\n"                                                  // 11
    "regions = { Lung = 1 }\n"                                        // 12
    "[remainder]\n"                                                   // 13
    "weight = 0.125\n"                                                // 14
    "regions = [\"Thyroid\", \"Adrenals\", \"Heart\"]\n";             // 15

// Whole runs from the command line, as kestrane-batch takes it, on the sample directory.
class DoseRun : public BatchRun {
 protected:
  // Runs kestrane-batch with `args` and --dir; a command line refused is its status.
  int run(std::vector<std::string> args) {
    args.insert(args.end(), {"--dir", dir.string()});
    const CommandLineResult parsed = command_line(args);
    if (!parsed.options) {
      out = parsed.out;
      err = parsed.err;
      return parsed.status;
    }
    return test::run_batch_captured(*parsed.options, out, err);
  }
  // Writes `text` as a scheme file at `name` under the working directory.
  std::string scheme(const std::string& text, const std::string& name = "scheme.toml") {
    write_file(dir / name, text);
    return (dir / name).string();
  }
  // The lines of an OUTPUT file after its column line, each split at its commas.
  std::vector<std::vector<std::string>> rows(const std::string& name) {
    std::vector<std::string> lines = split(output(name), '\n');
    EXPECT_EQ(lines.back(), "") << name;
    lines.pop_back();
    std::vector<std::vector<std::string>> fields;
    for (std::size_t i = 1; i < lines.size(); ++i) fields.push_back(split(lines[i], ','));
    return fields;
  }
};

// The doses of one time by the rules of the README, from the H of each region name: the
// tissues', the remainder's, the effective dose; `split` tells whether the split rule applied.
std::vector<double> doses_by_hand(const WeightingScheme& s, const std::map<std::string, double>& h,
                                  bool& split) {
  std::vector<double> out;
  double effective = 0;
  for (const SchemeTissue& tissue : s.tissues) {
    double dose = 0;
    for (const SchemePart& part : tissue.regions) dose += part.fraction * h.at(part.region);
    out.push_back(dose);
    effective += tissue.weight * dose;
  }
  std::vector<double> r;
  for (const std::string& name : s.remainder) r.push_back(h.at(name));
  double sum = 0;
  for (double dose : r) sum += dose;
  out.push_back(sum / static_cast<double>(r.size()));
  const auto top = static_cast<std::size_t>(std::max_element(r.begin(), r.end()) - r.begin());
  split = s.split && r.size() >= 2 &&
          std::all_of(out.begin(), out.end() - 1, [&](double t) { return r[top] > t; });
  if (split) {
    double others = 0;
    for (std::size_t j = 0; j < r.size(); ++j) others += j == top ? 0 : r[j];
    effective += s.remainder_weight / 2 * r[top] +
                 s.remainder_weight / 2 * (others / static_cast<double>(r.size() - 1));
  } else {
    effective += s.remainder_weight * out.back();
  }
  out.push_back(effective);
  return out;
}

struct SumsCase {
  const char* name;
  DataSet data_set;
  bool example;  // the shipped example; else kPlainScheme
};

void PrintTo(const SumsCase& c, std::ostream* os) { *os << c.name; }

class DoseSums : public DoseRun, public ::testing::WithParamInterface<SumsCase> {};

// Every dose line is the scheme's sums of the CSV file's coefficients of its record and time.
TEST_P(DoseSums, AgreeWithTheCsvFile) {
  const SumsCase& c = GetParam();
  const std::string path = c.example ? kExampleScheme.string() : scheme(kPlainScheme);
  const WeightingScheme s = read_weighting_scheme(path, path);
  const bool inh = c.data_set == DataSet::inhalation;
  ASSERT_EQ(run({"--data-set", inh ? "inhalation" : "ingestion", "--ages", "infant,adult",
                 "--regions", "all", "--csv", "--scheme", path}),
            kBatchCompleted)
      << err;
  std::size_t blocks = 0;
  std::size_t splits = 0;
  for (const std::string age : {"100", "7300"}) {
    const std::string base = "DC" + age + data_set_letter(c.data_set);
    SCOPED_TRACE(base);
    EXPECT_TRUE(output(base + "-dose.csv").starts_with(dose_header(c.data_set) + "\n"));
    const auto csv = rows(base + ".csv");
    const auto dose = rows(base + "-dose.csv");
    const std::size_t regions = sample_region_names().size() + 1;
    const std::size_t per_time = s.tissues.size() + 2;
    ASSERT_EQ(csv.size() % regions, 0u);
    ASSERT_EQ(dose.size(), csv.size() / regions * per_time);
    for (std::size_t b = 0; b * regions < csv.size(); ++b, ++blocks) {
      std::map<std::string, double> h;
      for (std::size_t k = 0; k < regions; ++k) {
        const auto& f = csv[b * regions + k];
        const auto value = [&](std::size_t i) { return f[i].empty() ? 0.0 : read_double(f[i]); };
        h[f[6]] = s.low * value(7) + s.high * value(8);
      }
      bool split = false;
      const std::vector<double> want = doses_by_hand(s, h, split);
      splits += split ? 1 : 0;
      for (std::size_t i = 0; i < per_time; ++i) {
        const auto& f = dose[b * per_time + i];
        ASSERT_EQ(f.size(), 9u);
        EXPECT_TRUE(std::equal(f.begin(), f.begin() + 6, csv[b * regions].begin()));
        EXPECT_EQ(f[6], i + 1 < per_time ? "equivalent" : "effective");
        EXPECT_EQ(f[7], i < s.tissues.size() ? s.tissues[i].name
                        : i + 1 < per_time   ? "Remainder"
                                             : "");
        const double got = read_double(f[8]);
        EXPECT_LE(std::abs(got - want[i]), 1e-15 * std::max(std::abs(got), std::abs(want[i])))
            << f[0] << " line " << f[3] << " t " << f[5] << " row " << i << ": " << got << " vs "
            << want[i];
      }
    }
  }
  EXPECT_GT(blocks, 20u);
  if (s.split) {
    EXPECT_GT(splits, 0u) << "the split rule is never met";
  }
}

INSTANTIATE_TEST_SUITE_P(Schemes, DoseSums,
                         ::testing::Values(SumsCase{"InhalationExample", DataSet::inhalation, true},
                                           SumsCase{"IngestionExample", DataSet::ingestion, true},
                                           SumsCase{"InhalationPlain", DataSet::inhalation, false},
                                           SumsCase{"IngestionPlain", DataSet::ingestion, false}),
                         [](const ::testing::TestParamInfo<SumsCase>& test) {
                           return test.param.name;
                         });

// The files of OUTPUT of one kind: the dose files, or the others but the provenance files.
std::map<std::string, std::string> dose_files(const fs::path& dir, bool doses) {
  std::map<std::string, std::string> kept;
  for (const auto& [name, bytes] : test_support::folder_contents(dir / "OUTPUT")) {
    if (name.ends_with("-dose.csv") == doses && !name.ends_with(".json")) kept[name] = bytes;
  }
  return kept;
}

struct RegionsCase {
  const char* name;
  DataSet data_set;
  std::string regions;
};

void PrintTo(const RegionsCase& c, std::ostream* os) { *os << c.name; }

class DoseRegions : public DoseRun, public ::testing::WithParamInterface<RegionsCase> {};

// The scheme's regions are computed whatever --regions chose: the doses are those of a run of
// every region, and the other files those of the run without the scheme.
TEST_P(DoseRegions, AreComputedWhateverIsChosen) {
  const RegionsCase& c = GetParam();
  const std::string set = c.data_set == DataSet::inhalation ? "inhalation" : "ingestion";
  const auto run_with = [&](const std::string& regions, bool with_scheme) {
    fs::remove_all(dir / "OUTPUT");
    std::vector<std::string> args{"--data-set", set,     "--ages", "infant,adult",
                                  "--regions",  regions, "--csv"};
    if (with_scheme) args.insert(args.end(), {"--scheme", kExampleScheme.string()});
    EXPECT_EQ(run(args), kBatchCompleted) << err;
  };
  run_with(c.regions, false);
  const auto plain = dose_files(dir, false);
  run_with(c.regions, true);
  EXPECT_TRUE(dose_files(dir, false) == plain) << "the files of the regions chosen differ";
  const auto doses = dose_files(dir, true);
  EXPECT_EQ(doses.size(), 2u);
  run_with("all", true);
  EXPECT_TRUE(dose_files(dir, true) == doses) << "the dose files differ";
  EXPECT_GE(plain.size(), 4u);  // .OUT and .csv of each age, the notes where there are some
}

INSTANTIATE_TEST_SUITE_P(
    Lists, DoseRegions,
    ::testing::Values(RegionsCase{"One", DataSet::inhalation, "1"},
                      RegionsCase{"HeartLung", DataSet::ingestion, "Heart,Lung"}),
    [](const ::testing::TestParamInfo<RegionsCase>& test) { return test.param.name; });

struct CompanionCase {
  const char* name;
  DataSet data_set;
  std::string scheme;  // where the scheme file is, under the working directory
};

void PrintTo(const CompanionCase& c, std::ostream* os) { *os << c.name; }

class DoseCompanion : public DoseRun, public ::testing::WithParamInterface<CompanionCase> {};

// The dose files are among the run's files, hashed in its provenance with the scheme; a run
// without a scheme removes them.
TEST_P(DoseCompanion, IsListedHashedAndRemovedByARunWithoutScheme) {
  const CompanionCase& c = GetParam();
  const std::string path = scheme(kPlainScheme, c.scheme);
  const std::string set = c.data_set == DataSet::inhalation ? "inhalation" : "ingestion";
  const std::vector<std::string> args{"--data-set",       set,         "--ages",
                                      "1 y-old,15 y-old", "--regions", "Lung"};
  std::vector<std::string> with_scheme = args;
  with_scheme.insert(with_scheme.end(), {"--scheme", path});
  ASSERT_EQ(run(with_scheme), kBatchCompleted) << err;
  const fs::path output_dir = dir / "OUTPUT";
  for (const std::string age : {"365", "5475"}) {
    const std::string base = "DC" + age + data_set_letter(c.data_set);
    SCOPED_TRACE(base);
    EXPECT_TRUE(contains(out, (output_dir / (base + "-dose.csv")).string() + "\n")) << out;
    const auto json = nlohmann::json::parse(output(base + ".json"));
    EXPECT_EQ(json["scheme"],
              nlohmann::json({{"file", c.scheme}, {"name", "Plain"}, {"sha256", sha256sum(path)}}));
    bool listed = false;
    for (const auto& file : json["files"]) {
      if (file["file"] != base + "-dose.csv") continue;
      listed = true;
      EXPECT_EQ(file["bytes"], fs::file_size(output_dir / (base + "-dose.csv")));
      EXPECT_EQ(file["sha256"], sha256sum(output_dir / (base + "-dose.csv")));
    }
    EXPECT_TRUE(listed) << json["files"].dump();
  }
  ASSERT_EQ(run(args), kBatchCompleted) << err;
  for (const std::string age : {"365", "5475"}) {
    const std::string base = "DC" + age + data_set_letter(c.data_set);
    EXPECT_FALSE(fs::exists(output_dir / (base + "-dose.csv"))) << base;
    const auto json = nlohmann::json::parse(output(base + ".json"));
    EXPECT_FALSE(json.contains("scheme"));
    EXPECT_FALSE(contains(json["files"].dump(), "-dose.csv"));
  }
  EXPECT_FALSE(contains(out, "-dose.csv")) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Places, DoseCompanion,
    ::testing::Values(CompanionCase{"Beside", DataSet::inhalation, "scheme.toml"},
                      CompanionCase{"InAFolder", DataSet::ingestion, "schemes/plain.toml"}),
    [](const ::testing::TestParamInfo<CompanionCase>& test) { return test.param.name; });

struct SchemeRefusalCase {
  const char* name;
  std::string from, to;  // kPlainScheme with `from` replaced by `to`; both empty: no file
  std::string message;   // after "kestrane-batch: " and the file's path
};

void PrintTo(const SchemeRefusalCase& c, std::ostream* os) { *os << c.name; }

class SchemeRefused : public DoseRun, public ::testing::WithParamInterface<SchemeRefusalCase> {};

// A scheme refused stops the run before any file is replaced, naming the file and the line.
TEST_P(SchemeRefused, StopsTheRunLeavingEveryFileAsItWas) {
  const SchemeRefusalCase& c = GetParam();
  const std::vector<std::string> args{"--data-set", "inhalation", "--ages", "infant",
                                      "--regions",  "1",          "--csv"};
  std::vector<std::string> first = args;
  first.insert(first.end(), {"--scheme", kExampleScheme.string()});
  ASSERT_EQ(run(first), kBatchCompleted) << err;
  const auto earlier = test_support::folder_contents(dir / "OUTPUT");
  const fs::path path = dir / "scheme.toml";
  if (!c.from.empty()) {
    std::string text = kPlainScheme;
    text.replace(text.find(c.from), c.from.size(), c.to);
    write_file(path, text);
  }
  std::vector<std::string> refused = args;
  refused.insert(refused.end(), {"--scheme", path.string()});
  EXPECT_EQ(run(refused), kBatchStopped);
  std::string message = c.message;
  message.replace(message.find("FILE"), 4, path.string());
  EXPECT_EQ(err, "kestrane-batch: " + message + "\n");
  EXPECT_EQ(out, "");
  EXPECT_TRUE(test_support::folder_contents(dir / "OUTPUT") == earlier) << "OUTPUT changed";
}

INSTANTIATE_TEST_SUITE_P(
    Schemes, SchemeRefused,
    ::testing::Values(
        SchemeRefusalCase{"NotToml", "high = 10", "high = 1 0",
                          "FILE, line 4: the file is not TOML: Error while parsing key-value "
                          "pair: expected a comment or whitespace, saw '0'"},
        SchemeRefusalCase{"NegativeWeight", "weight = 0.5", "weight = -0.5",
                          "FILE, line 11: the weight of tissue \"Lung\" must not be negative: "
                          "-0.5"},
        SchemeRefusalCase{"UnknownRegion", "\"Heart\"", "\"heart\"",
                          "FILE, line 15: unknown region \"heart\" (the region names compare "
                          "exactly); the regions are Adrenals, Bladder, Bone, Marrow, Brain, "
                          "Breast, Esophagus, Stomach, SmallInt, UpperLI, LowerLI, Colon, "
                          "Kidneys, Liver, Bronchi, Bronchiol, Alveolar, LymphTh, Muscle, "
                          "Ovaries, Pancreas, Skin, Spleen, Testes, Thymus, Thyroid, Uterus, "
                          "Gallblad, Heart, Lung"},
        SchemeRefusalCase{"Missing", "", "", "The weighting scheme FILE was not found."}),
    [](const ::testing::TestParamInfo<SchemeRefusalCase>& test) { return test.param.name; });

struct ToAgeCase {
  const char* name;
  DataSet data_set;
  std::string ages, years;
  std::map<std::string, std::vector<double>> times;  // of each age's files, by its days
};

void PrintTo(const ToAgeCase& c, std::ostream* os) { *os << c.name; }

class ToAge : public DoseRun, public ::testing::WithParamInterface<ToAgeCase> {};

// --to-age gives each age's files one more time after those of data/Kestrane.ini, unless it is
// one of them: in the coefficient, CSV and dose files and in the provenance.
TEST_P(ToAge, AddsTheCommitmentOfEachAge) {
  const ToAgeCase& c = GetParam();
  const bool inh = c.data_set == DataSet::inhalation;
  ASSERT_EQ(run({"--data-set", inh ? "inhalation" : "ingestion", "--ages", c.ages, "--regions",
                 "Lung", "--csv", "--to-age", c.years, "--scheme", scheme(kPlainScheme)}),
            kBatchCompleted)
      << err;
  for (const auto& [age, times] : c.times) {
    const std::string base = "DC" + age + data_set_letter(c.data_set);
    SCOPED_TRACE(base);
    // The CSV file: one line a time (one region); the dose file: four lines a time.
    for (const auto& [name, per_time] :
         {std::pair<std::string, std::size_t>{base + ".csv", 1}, {base + "-dose.csv", 4}}) {
      const auto lines = rows(name);
      ASSERT_EQ(lines.size() % (per_time * times.size()), 0u) << name;
      for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_EQ(read_double(lines[i][5]), times[i / per_time % times.size()]) << name << i;
      }
    }
    // The coefficient file: one row a time, after its three headings, its time as the file
    // shows it.
    std::vector<std::string> out_rows = split(output(base + ".OUT"), '\n');
    out_rows.pop_back();
    out_rows.erase(out_rows.begin(), out_rows.begin() + 3);
    ASSERT_EQ(out_rows.size() % times.size(), 0u);
    ASSERT_EQ(out_rows.size(), rows(base + ".csv").size());
    for (std::size_t i = 0; i < out_rows.size(); ++i) {
      EXPECT_EQ(out_rows[i].substr(inh ? 9 : 15, 8),
                narrowed("##.#^^^^", {times[i % times.size()]}));
    }
    const auto json = nlohmann::json::parse(output(base + ".json"));
    EXPECT_EQ(json["integration_times_d"], nlohmann::json(times));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ages, ToAge,
    ::testing::Values(ToAgeCase{"SeventyForEveryAge",
                                DataSet::inhalation,
                                "all",
                                "70",
                                {{"100", {1, 7, 30, 365, 1825, 18250, 25450}},
                                 {"365", {1, 7, 30, 365, 1825, 18250, 25185}},
                                 {"1825", {1, 7, 30, 365, 1825, 18250, 23725}},
                                 {"3650", {1, 7, 30, 365, 1825, 18250, 21900}},
                                 {"5475", {1, 7, 30, 365, 1825, 18250, 20075}},
                                 {"7300", {1, 7, 30, 365, 1825, 18250}}}},
                      ToAgeCase{"HalfYears",
                                DataSet::ingestion,
                                "adult,infant",
                                "50.5",
                                {{"100", {1, 7, 30, 365, 1825, 18250, 18332.5}},
                                 {"7300", {1, 7, 30, 365, 1825, 18250, 11132.5}}}}),
    [](const ::testing::TestParamInfo<ToAgeCase>& test) { return test.param.name; });

struct ToAgeRefusalCase {
  const char* name;
  std::string ages, years;
  std::string message;  // the first line of standard error
  int times = 0;        // a times file of 1 to this many days; 0: the sample's
};

void PrintTo(const ToAgeRefusalCase& c, std::ostream* os) { *os << c.name; }

class ToAgeRefused : public DoseRun, public ::testing::WithParamInterface<ToAgeRefusalCase> {};

TEST_P(ToAgeRefused, IsAUsageErrorWithNothingWritten) {
  const ToAgeRefusalCase& c = GetParam();
  if (c.times > 0) {
    std::string ini = "START\r\n";
    for (int t = 1; t <= c.times; ++t) ini += std::to_string(t) + "\r\n";
    write_file(dir / "data" / "Kestrane.ini", ini + "END\r\n");
  }
  EXPECT_EQ(
      run({"--data-set", "inhalation", "--ages", c.ages, "--regions", "1", "--to-age", c.years}),
      kBatchUsageError);
  EXPECT_EQ(err.substr(0, err.find('\n')), c.message);
  EXPECT_TRUE(contains(err, std::string(kBatchUsage))) << err;
  EXPECT_EQ(out, "");
  EXPECT_TRUE(fs::is_empty(dir / "OUTPUT"));
}

INSTANTIATE_TEST_SUITE_P(
    Values, ToAgeRefused,
    ::testing::Values(
        ToAgeRefusalCase{"NotAboveTheAge", "2", "1",
                         "kestrane-batch: --to-age: age 1 (365 days) is not above the age of "
                         "the age group 1 y-old (365 days)"},
        ToAgeRefusalCase{"Zero", "1", "0",
                         "kestrane-batch: --to-age: the age 0 is not a number "
                         "of years above 0"},
        ToAgeRefusalCase{"Negative", "1", "-5",
                         "kestrane-batch: --to-age: the age -5 is not a "
                         "number of years above 0"},
        ToAgeRefusalCase{"NotANumber", "1", "abc",
                         "kestrane-batch: invalid argument 'abc' for '--to-age': \"abc\" is not a "
                         "number of years"},
        ToAgeRefusalCase{"NoRoomForATime", "1", "70",
                         "kestrane-batch: --to-age: the commitment to 70 years would be "
                         "integration time 101; the files hold at most 100",
                         100}),
    [](const ::testing::TestParamInfo<ToAgeRefusalCase>& test) { return test.param.name; });

}  // namespace
}  // namespace kestrane
