// Tests of the programs' command lines in the GNU manner: one choice read alike in every order
// and form, usage errors naming the first fault in getopt's words, --help laid out in 80
// columns, and the breaking of text at blanks that the help and the outcome lines share.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/batch_options.h"
#include "app/command_line.h"
#include "sample/sample_command.h"

namespace kestrane {
namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::vector<const char*> argv_of(const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  return argv;
}

// kestrane-batch or kestrane-sample on `args` (the program's name first).
Result run(const std::vector<std::string>& args) {
  const std::vector<const char*> argv = argv_of(args);
  std::ostringstream out;
  std::ostringstream err;
  Result r;
  if (args.front() == "kestrane-batch") {
    parse_batch_command_line(static_cast<int>(argv.size()), argv.data(), out, err, r.status);
  } else {
    r.status = run_sample_command(static_cast<int>(argv.size()), argv.data(),
                                  std::filesystem::temp_directory_path(), out, err);
  }
  r.out = out.str();
  r.err = err.str();
  return r;
}

struct UsageCase {
  std::string name;
  std::vector<std::string> args;
  std::string first_line;
};

class UsageError : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageError, NamesTheFaultThenTheUsageAndThePointerToHelp) {
  const UsageCase& c = GetParam();
  const Result r = run(c.args);
  const std::string& program = c.args.front();
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.substr(0, r.err.find('\n')), program + ": " + c.first_line);
  EXPECT_TRUE(r.err.find("\nUsage: " + program + " ") != std::string::npos) << r.err;
  EXPECT_TRUE(r.err.ends_with("\nTry '" + program + " --help' for more information.\n")) << r.err;
  EXPECT_EQ(r.err.find("not expected"), std::string::npos) << r.err;
}

const std::string kBatch = "kestrane-batch";
const std::string kSample = "kestrane-sample";

INSTANTIATE_TEST_SUITE_P(
    Programs, UsageError,
    ::testing::Values(
        UsageCase{"UnknownOption", {kBatch, "--sizes", "3"}, "unknown option '--sizes'"},
        // Named before the required options that are missing, as getopt does.
        UsageCase{"UnknownBeforeMissing",
                  {kBatch, "--ages", "1", "--sizes=3"},
                  "unknown option '--sizes'"},
        UsageCase{"UnknownShort", {kBatch, "-x"}, "invalid option -- 'x'"},
        UsageCase{"StrayArgument",
                  {kBatch, "--data-set", "ingestion", "--ages", "1", "--regions", "1", "extra"},
                  "unexpected argument 'extra'"},
        UsageCase{
            "Missing", {kBatch, "--ages", "1"}, "missing options '--data-set' and '--regions'"},
        UsageCase{"NoValue",
                  {kBatch, "--data-set", "ingestion", "--regions", "1", "--ages"},
                  "option '--ages' requires an argument"},
        UsageCase{"NotAMember",
                  {kBatch, "--data-set", "both", "--ages", "1", "--regions", "1"},
                  "invalid argument 'both' for '--data-set'; valid arguments are inhalation, "
                  "ingestion"},
        UsageCase{"NoDirectory",
                  {kBatch, "--data-set", "ingestion", "--ages", "1", "--regions", "1", "--dir",
                   "/no/such"},
                  "invalid argument '/no/such' for '--dir': directory does not exist"},
        UsageCase{"Ambiguous",
                  {kBatch, "--d", "x"},
                  "option '--d' is ambiguous; possibilities: '--data-set' '--dir'"},
        UsageCase{
            "FlagWithValue", {kBatch, "--csv=yes"}, "option '--csv' doesn't allow an argument"},
        UsageCase{"AfterTheEndOfOptions",
                  {kBatch, "--data-set", "ingestion", "--ages", "1", "--", "--regions", "1"},
                  "unexpected argument '--regions'"},
        UsageCase{"GivenTwice",
                  {kBatch, "--ages", "1", "--data-set", "ingestion", "--ages=2"},
                  "option '--ages' given more than once"},
        UsageCase{"ErrorBeforeHelp", {kBatch, "--help", "--bogus"}, "unknown option '--bogus'"},
        UsageCase{"UnknownBeforeModel",
                  {kBatch, "--data-set", "ingestion", "--ages", "1", "--regions", "1", "--before",
                   "exponential"},
                  "invalid argument 'exponential' for '--before'; valid arguments are extend, "
                  "zero, constant, linear"},
        UsageCase{"UnknownAfterModel",
                  {kBatch, "--after=linear"},
                  "invalid argument 'linear' for '--after'; valid arguments are extend, zero, "
                  "constant, exponential"},
        UsageCase{"SampleUnknown", {kSample, "--sizes", "2M"}, "unknown option '--sizes'"},
        UsageCase{"SampleNotANumber",
                  {kSample, "--seed", "abc"},
                  "--seed: \"abc\" is not a whole number from 0 to 18446744073709551615"}),
    [](const ::testing::TestParamInfo<UsageCase>& test) { return test.param.name; });

// One choice in several orders and forms: every one reads to the same options. A flag
// stands anywhere and takes no value from the argument after it.
class OptionOrder : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(OptionOrder, GivesTheSameOptions) {
  std::vector<std::string> args{kBatch};
  const std::string dir = std::filesystem::temp_directory_path().string();
  for (const std::string& a : GetParam()) {
    args.push_back(a == "DIR" ? dir : a == "--dir=DIR" ? "--dir=" + dir : a);
  }
  const std::vector<const char*> argv = argv_of(args);
  std::ostringstream out;
  std::ostringstream err;
  int status = -1;
  const auto options =
      parse_batch_command_line(static_cast<int>(argv.size()), argv.data(), out, err, status);
  ASSERT_TRUE(options.has_value()) << err.str();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(options->data_set, DataSet::inhalation);
  EXPECT_EQ(options->ages, "1");
  EXPECT_EQ(options->regions, "1,2");
  EXPECT_TRUE(options->csv);
  EXPECT_EQ(options->dir, std::filesystem::temp_directory_path());
  EXPECT_EQ(options->plot, "I-129");
  EXPECT_EQ(options->nuclides, std::optional<std::string>("Sr-89"));
}

INSTANTIATE_TEST_SUITE_P(
    Batch, OptionOrder,
    ::testing::Values(
        std::vector<std::string>{"--data-set", "inhalation", "--ages", "1", "--regions", "1,2",
                                 "--dir", "DIR", "--plot", "I-129", "--nuclides", "Sr-89", "--csv"},
        std::vector<std::string>{"--csv", "--dir", "DIR", "--data-set", "inhalation", "--ages", "1",
                                 "--regions", "1,2", "--plot", "I-129", "--nuclides", "Sr-89"},
        std::vector<std::string>{"--data-set", "inhalation", "--ages", "1", "--regions", "1,2",
                                 "--csv", "--plot", "I-129", "--csv", "--nuclides", "Sr-89",
                                 "--dir", "DIR"},
        // Unambiguous abbreviations, as getopt_long takes them.
        std::vector<std::string>{"--data", "inhalation", "--ag", "1", "--reg=1,2", "--di", "DIR",
                                 "--pl", "I-129", "--nuc", "Sr-89", "--cs"},
        std::vector<std::string>{"--nuclides=Sr-89", "--csv", "--plot=I-129", "--regions=1,2",
                                 "--csv", "--ages=1", "--dir=DIR", "--data-set=inhalation"}));

// The rate models of --before and --after: extend unless given, a name without regard to case.
struct TailOptionCase {
  std::string name;
  std::vector<std::string> args;
  BeforeModel before;
  AfterModel after;
};

class TailOptions : public ::testing::TestWithParam<TailOptionCase> {};

TEST_P(TailOptions, ChooseTheModels) {
  const TailOptionCase& c = GetParam();
  std::vector<std::string> args{kBatch, "--data-set", "ingestion", "--ages", "1", "--regions", "1"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const std::vector<const char*> argv = argv_of(args);
  std::ostringstream out;
  std::ostringstream err;
  int status = -1;
  const auto options =
      parse_batch_command_line(static_cast<int>(argv.size()), argv.data(), out, err, status);
  ASSERT_TRUE(options.has_value()) << err.str();
  EXPECT_EQ(options->before, c.before);
  EXPECT_EQ(options->after, c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Batch, TailOptions,
    ::testing::Values(
        TailOptionCase{"Default", {}, BeforeModel::extend, AfterModel::extend},
        TailOptionCase{"Both",
                       {"--before", "linear", "--after", "exponential"},
                       BeforeModel::linear,
                       AfterModel::exponential},
        TailOptionCase{"AnyCase",
                       {"--after=Constant", "--bef", "ZERO"},
                       BeforeModel::zero,
                       AfterModel::constant},
        TailOptionCase{"AfterAlone", {"--after", "zero"}, BeforeModel::extend, AfterModel::zero}),
    [](const ::testing::TestParamInfo<TailOptionCase>& test) { return test.param.name; });

// The output and exit status of a shell command.
std::pair<std::string, int> shell(const std::string& command) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {"", -1};
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
  const int status = pclose(pipe);
  return {text, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(Kestrane, RefusesEveryArgumentButHelpAndVersion) {
  const std::string kestrane = std::string(KESTRANE_BIN_DIR) + "/kestrane";
  const auto [err, status] = shell(kestrane + " --bogus 2>&1 >/dev/null </dev/null");
  EXPECT_EQ(status, 2);
  EXPECT_EQ(err,
            "kestrane: unknown option '--bogus'\nUsage: kestrane [--help | --version]\n"
            "Try 'kestrane --help' for more information.\n");
  EXPECT_EQ(shell(kestrane + " data 2>/dev/null").second, 2);
  const auto [help, help_status] = shell(kestrane + " --help");
  EXPECT_EQ(help_status, 0);
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), kHelpWidth) << line;
}

TEST(Help, FitsEightyColumnsInAsciiWithoutTypeTags) {
  for (const std::string& program : {kBatch, kSample}) {
    const Result r = run({program, "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.starts_with("Usage: " + program + " ")) << r.out;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_LE(line.size(), kHelpWidth) << program << ": " << line;
      for (const char c : line) EXPECT_TRUE(c >= 0x20 && c < 0x7f) << program << ": " << line;
    }
    EXPECT_NE(r.out.find("\n  --dir DIR "), std::string::npos) << r.out;
    for (const char* tag : {"TEXT", "UINT", "REQUIRED", "=."}) {
      EXPECT_EQ(r.out.find(tag), std::string::npos) << program << " shows " << tag;
    }
  }
}

TEST(Help, SaysHowLungIsMadeAndNamesTheNotesFiles) {
  const Result r = run({kBatch, "--help"});
  for (const char* part : {"0.1665 x column 15 + 0.1665 x column 16 + 0.333 x column 17 + 0.333 x",
                           "OUTPUT/DC<days><h|g>-notes.csv"}) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part;
  }
}

struct WrapCase {
  std::string name;
  std::string text;
  std::size_t width;
  std::string indent;
  std::string wrapped;
};

class WrapAtBlanks : public ::testing::TestWithParam<WrapCase> {};

TEST_P(WrapAtBlanks, BreaksOnlyAtBlanks) {
  const WrapCase& c = GetParam();
  EXPECT_EQ(wrap_at_blanks(c.text, c.width, c.indent), c.wrapped);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WrapAtBlanks,
    ::testing::Values(WrapCase{"Fits", "left in: a b", 12, "", "left in: a b"},
                      WrapCase{"AtTheLastBlank", "left in: OUTPUT/DC100g.OUT.partial", 12, "",
                               "left in:\nOUTPUT/DC100g.OUT.partial"},
                      WrapCase{"BlanksInsideKept", "S-35      100  x", 14, "", "S-35      100\nx"},
                      WrapCase{"LineFeeds", "ab cd\nef", 3, "", "ab\ncd\nef"},
                      WrapCase{"Indented", "one two three", 10, "    ",
                               "    one\n    two\n    three"}),
    [](const ::testing::TestParamInfo<WrapCase>& test) { return test.param.name; });

}  // namespace
}  // namespace kestrane
