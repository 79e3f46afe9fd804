// One rule for every front end: a choice that the input files make (the integration times of
// data\Kestrane.ini) is refused by kestrane-batch and by the dialogue for the same reason, in
// the same words, as are a damaged data line and an input file of the wrong kind (a folder), and
// a choice refused by the run's checks is refused alike whatever lists the request names. The
// Python module's side of the same table is python/tests/test_same_rules.py.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/batch_options.h"
#include "app/run_driver.h"
#include "run/run_request.h"
#include "tests/support/batch_capture.h"
#include "tests/support/damaged_lines.h"
#include "tests/support/test_support.h"
#include "ui/memory_console.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using test_support::read_file;
using test_support::TempDir;
using test_support::write_file;

const fs::path kRun = fs::path(KESTRANE_TEST_DATA) / "app" / "run";

struct TimesCase {
  std::string name;
  std::string value_lines;  // between START and END
  std::string message;      // as both programs give it, with '/' between the names of a path
};

// Runs kestrane-batch (the infants, region 1) and the dialogue up to its stop after the
// data-set choice in `dir`, and checks that both stop with `message` and nothing else.
void expect_stopped_alike(const fs::path& dir, const std::string& message) {
  BatchOptions options;
  options.dir = dir;
  options.ages = "1";
  options.regions = "1";
  std::string out;
  std::string err;
  EXPECT_EQ(test::run_batch_captured(options, out, err), kBatchStopped);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "kestrane-batch: " + message + "\n");

  MemoryConsole console;
  console.push_keys(2);
  console.push_list_box_choice({1});  // KVR13INH.DRT
  std::vector<std::string> outcome;
  EXPECT_EQ(run_kestrane(console, dir, outcome), kRunStoppedStatus);
  EXPECT_EQ(outcome_for_shell(outcome, 10'000), message + "\n");
}

class TimesRefusedAlike : public ::testing::TestWithParam<TimesCase> {};

TEST_P(TimesRefusedAlike, ByBatchAndDialogue) {
  const TimesCase& c = GetParam();
  const TempDir dir("kestrane_same_rules");
  fs::copy(kRun, dir.path(), fs::copy_options::recursive);
  write_file(dir / "data" / "Kestrane.ini", "Times\r\nSTART\r\n" + c.value_lines + "END\r\n");

  expect_stopped_alike(dir.path(), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Files, TimesRefusedAlike,
    ::testing::Values(
        TimesCase{"Negative", "1\r\n-5\r\n",
                  "data/Kestrane.ini, line 4: the integration time \"-5\" is negative; every "
                  "integration time must be a finite number of days, 0 or more."},
        TimesCase{"TooLarge", "3.5e38\r\n",
                  "data/Kestrane.ini, line 3: the integration time \"3.5e38\" is too large for "
                  "the single-precision numbers of the coefficient files; every integration "
                  "time must be a finite number of days, 0 or more."},
        TimesCase{"NotANumber", "nan\r\n",
                  "data/Kestrane.ini, line 3: the integration time \"nan\" is not a number of "
                  "days; every integration time must be a finite number of days, 0 or more."},
        TimesCase{"WordAfter", "50y\r\n",
                  "data/Kestrane.ini, line 3: the integration time \"50y\" has \"y\" after its "
                  "number, where only blanks and a word beginning with d (as in \"30 days\") "
                  "may follow; every integration time must be a finite number of days, 0 or "
                  "more."},
        TimesCase{"TooMany",
                  [] {
                    std::string lines;
                    for (int day = 1; day <= 101; ++day) lines += std::to_string(day) + "\r\n";
                    return lines;
                  }(),
                  "data/Kestrane.ini holds more than 100 integration times after the START "
                  "line (line 2); line 103 is one too many."}),
    [](const ::testing::TestParamInfo<TimesCase>& test) { return test.param.name; });

// A copy of the run tests' working directory in `dir` whose line 4, the first data line of the
// record H-3 of 100 days, is `line`.
void copy_run_with_line_4(const TempDir& dir, const std::string& line) {
  fs::copy(kRun, dir.path(), fs::copy_options::recursive);
  const fs::path drt = dir / "DATA" / "KVR13INH.DRT";
  std::string text = read_file(drt);
  std::size_t start = 0;
  for (int ends = 0; ends < 3; ++ends) start = text.find("\r\n", start) + 2;
  text.replace(start, text.find("\r\n", start) - start, line);
  write_file(drt, text);
}

// A damaged data line stops the run through kestrane-batch and the dialogue in the same words,
// with the infants' records and region column 4 chosen (which the line shifted by one character
// reads as a sound number); a line that is read gives the coefficient file of the line it reads
// as.
class DamagedLineAlike : public ::testing::TestWithParam<test_support::DamagedLine> {};

TEST_P(DamagedLineAlike, StopsBatchAndDialogueOrReadsAsItsEquivalent) {
  const test_support::DamagedLine& c = GetParam();
  const TempDir dir("kestrane_damaged_line");
  copy_run_with_line_4(dir, c.line);
  BatchOptions options;
  options.dir = dir.path();
  options.ages = "1";
  options.regions = "4";
  std::string out;
  std::string err;
  const int status = test::run_batch_captured(options, out, err);
  if (c.reason.empty()) {
    ASSERT_EQ(status, kBatchCompleted) << err;
    const TempDir same("kestrane_damaged_line");
    copy_run_with_line_4(same, c.reads_as);
    options.dir = same.path();
    ASSERT_EQ(test::run_batch_captured(options, out, err), kBatchCompleted) << err;
    EXPECT_EQ(read_file(dir / "OUTPUT" / "DC100h.OUT"), read_file(same / "OUTPUT" / "DC100h.OUT"));
    return;
  }
  const std::string message = "DATA/KVR13INH.DRT, line 4: " + c.reason +
                              ". Header line (line 3): \"H-3       100     F           5 1 L\"\n";
  EXPECT_EQ(status, kBatchStopped);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err.substr(0, err.find('\n') + 1), "kestrane-batch: " + message);

  MemoryConsole console;
  console.push_keys(3);
  console.push_list_box_choice({1});  // KVR13INH.DRT
  console.push_list_box_choice({1});  // Infant
  console.push_list_box_choice({4});
  std::vector<std::string> outcome;
  EXPECT_EQ(run_kestrane(console, dir.path(), outcome), kRunStoppedStatus);
  const std::string said = outcome_for_shell(outcome, 10'000);
  EXPECT_EQ(said.substr(0, said.find('\n') + 1), message);
}

INSTANTIATE_TEST_SUITE_P(Lines, DamagedLineAlike,
                         ::testing::ValuesIn(test_support::damaged_lines()),
                         [](const ::testing::TestParamInfo<test_support::DamagedLine>& c) {
                           return c.param.name;
                         });
// An entry of the wrong kind where an input file should be: named for what it is, not as a
// missing file, and the run stopped (status 1) before any file is made.
struct EntryCase {
  std::string name;
  std::string input;  // the file replaced, under the working directory
  bool pipe;          // a named pipe in its place, or else a folder
  std::string message;
};

class WrongKindRefusedAlike : public ::testing::TestWithParam<EntryCase> {};

TEST_P(WrongKindRefusedAlike, ByBatchAndDialogue) {
  const EntryCase& c = GetParam();
  const TempDir dir("kestrane_same_rules");
  fs::copy(kRun, dir.path(), fs::copy_options::recursive);
  fs::remove(dir / c.input);
  if (c.pipe) {
    ASSERT_EQ(::mkfifo((dir / c.input).c_str(), 0600), 0);  // refused before it is opened
  } else {
    fs::create_directory(dir / c.input);
  }

  expect_stopped_alike(dir.path(), c.message);
  EXPECT_FALSE(fs::exists(dir / "OUTPUT"));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, WrongKindRefusedAlike,
    ::testing::Values(EntryCase{"FolderForTheDoseRates", "DATA/KVR13INH.DRT", false,
                                "DATA/KVR13INH.DRT is a folder, not a file."},
                      EntryCase{"FolderForTheTimes", "data/Kestrane.ini", false,
                                "data/Kestrane.ini is a folder, not a file."},
                      EntryCase{"PipeForTheTimes", "data/Kestrane.ini", true,
                                "data/Kestrane.ini is a FIFO, not a regular file."}),
    [](const ::testing::TestParamInfo<EntryCase>& test) { return test.param.name; });

// The checks of a request: the refusal names the field as the front end calls it, the rest of
// the words are the same.
struct RequestCase {
  std::string name;
  RunRequest request;
  ChoiceField field;
  std::string after_label;
};

class RequestRefused : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestRefused, ForTheSameReasonUnderEitherLabel) {
  const RequestCase& c = GetParam();
  for (const std::string prefix : {"--", ""}) {
    RunRequest request = c.request;
    request.label_prefix = prefix;
    try {
      check_request(request);
      ADD_FAILURE() << "not refused";
    } catch (const ChoiceError& error) {
      EXPECT_EQ(error.field(), c.field);
      EXPECT_EQ(std::string(error.what()),
                prefix + std::string(field_name(c.field)) + ": " + c.after_label);
    }
  }
}

RunRequest with(void (*change)(RunRequest&)) {
  RunRequest request;
  request.ages = "1";
  request.regions = "1";
  change(request);
  return request;
}

INSTANTIATE_TEST_SUITE_P(
    Checks, RequestRefused,
    ::testing::Values(
        RequestCase{"EmptyAgeList", with([](RunRequest& r) { r.ages = ""; }), ChoiceField::ages,
                    "the list is empty. Valid items: 1 to 6, 100, 365, 1825, 3650, 5475, 7300, "
                    "Infant, 1 y-old, 5 y-old, 10 y-old, 15 y-old, Adult, all."},
        RequestCase{"EmptyNuclide", with([](RunRequest& r) { r.nuclides = "Sr-89, ,I-129"; }),
                    ChoiceField::nuclides, "an empty item in the list"},
        RequestCase{"BlankPicture", with([](RunRequest& r) { r.plot_nuclide = "  "; }),
                    ChoiceField::plot, "NUCLIDE is empty"},
        RequestCase{"NegativeThreads", with([](RunRequest& r) { r.threads = -1; }),
                    ChoiceField::threads, "must be 0 (automatic) or more"},
        RequestCase{"NoTimes", with([](RunRequest& r) { r.times = std::vector<double>{}; }),
                    ChoiceField::times, "give 1 to 100 integration times in days"},
        RequestCase{"TooManyTimes",
                    with([](RunRequest& r) { r.times = std::vector<double>(101, 1.0); }),
                    ChoiceField::times, "give 1 to 100 integration times in days"},
        RequestCase{"NegativeTime", with([](RunRequest& r) {
                      r.times = std::vector<double>{1, -0.5};
                    }),
                    ChoiceField::times,
                    "the integration time -0.5 is negative; every integration time must be a "
                    "finite number of days, 0 or more."},
        RequestCase{"InfiniteTime",
                    with([](RunRequest& r) { r.times = std::vector<double>{1e308 * 10}; }),
                    ChoiceField::times,
                    "the integration time inf is not a number of days; every integration time "
                    "must be a finite number of days, 0 or more."},
        RequestCase{"HugeTime", with([](RunRequest& r) { r.times = std::vector<double>{1e39}; }),
                    ChoiceField::times,
                    "the integration time 1e+39 is too large for the single-precision numbers "
                    "of the coefficient files; every integration time must be a finite number "
                    "of days, 0 or more."}),
    [](const ::testing::TestParamInfo<RequestCase>& test) { return test.param.name; });

}  // namespace
}  // namespace kestrane
