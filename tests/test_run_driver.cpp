// Tests of the run driver on the in-memory screen: the title screen cell by cell, every stop
// with its texts, rows and columns, and whole runs with the files they write.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/run_driver.h"
#include "input/dose_rate_file.h"
#include "tests/support/test_support.h"
#include "ui/memory_console.h"

namespace kestrane {
namespace {

using kestrane::test_support::padded;
using kestrane::test_support::read_file;
using kestrane::test_support::write_file;

namespace fs = std::filesystem;
using namespace std::string_literals;

const fs::path kData = fs::path(KESTRANE_TEST_DATA) / "app";

// `text` standing at `column` of an otherwise blank row.
std::string at_column(int column, std::string_view text) {
  return padded(std::string(static_cast<std::size_t>(column - 1), ' ') + std::string(text));
}

class RunDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    dir = fs::temp_directory_path() /
          ("kestrane_run_driver_" + std::to_string(getpid()) + "_" + std::to_string(++counter));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  // The small working directory of the tests: data\Kestrane.ini and both dose-rate files.
  void copy_sample() { fs::copy(kData / "run", dir, fs::copy_options::recursive); }

  int run() { return run_kestrane(console, dir); }

  // The screen at the n-th wait for a key (from 0).
  const ScreenBuffer& at_key(std::size_t n) const { return console.key_waits().at(n); }

  fs::path dir;
  MemoryConsole console;
};

TEST_F(RunDriver, IntroductionScreenCellByCell) {
  console.push_keys(2);
  console.push_list_box_choice({});
  EXPECT_EQ(run(), kRunStoppedStatus);

  EXPECT_EQ(console.title(), "Kestrane  Ver. 3.1");
  EXPECT_EQ(console.columns(), 80);
  EXPECT_EQ(console.rows(), 25);
  ASSERT_GE(console.key_waits().size(), 1u);
  const ScreenBuffer& screen = at_key(0);

  std::vector<std::string> expected(kConsoleRows + 1, padded(""));
  expected[1] = at_column(25, "Kestrane Code (March 17, 2006)");
  expected[2] = at_column((80 - static_cast<int>(kCreditLine.size())) / 2, kCreditLine);
  expected[4] = padded("Kestrane computes absorbed dose coefficients for user specified times.");
  expected[5] = padded("The upper limits for the integrals are read from \\DATA\\Kestrane.INI.");
  expected[6] = padded("The absorbed dose rate files were archived on the KVR-13 CD.");
  expected[8] = at_column(5, "The user selects (1) either the ingestion or inhalation data set,");
  expected[9] = at_column(5, "(2) the age(s) of interest and (3) the organ(s) to be processed.");
  expected[10] =
      at_column(5, "To select multiple ages or organs mark the desired items by holding");
  expected[11] =
      at_column(5, "down <Ctrl> and clicking the left mouse button. Click OK to process");
  expected[12] = at_column(5, "the selections.");
  expected[14] = padded(" Press any key to continue.");
  for (int row = 1; row <= kConsoleRows; ++row) {
    EXPECT_EQ(screen.row_text(row), expected[static_cast<std::size_t>(row)]) << "row " << row;
    for (int column = 1; column <= kConsoleColumns; ++column) {
      ASSERT_EQ(screen.cell(row, column).foreground, Colour::bright_white) << row << "," << column;
      ASSERT_EQ(screen.cell(row, column).background, Colour::blue) << row << "," << column;
    }
  }
  // No line break after the prompt.
  EXPECT_EQ(screen.row(), 14);
  EXPECT_EQ(screen.column(), 28);
}

TEST_F(RunDriver, NoDataSetChosenAborts) {
  copy_sample();
  console.push_keys(2);
  console.push_list_box_choice({});
  EXPECT_EQ(run(), kRunStoppedStatus);

  ASSERT_EQ(console.list_boxes().size(), 1u);
  const RecordedListBox& box = console.list_boxes()[0];
  EXPECT_EQ(box.instruction, "Click on data set");
  EXPECT_EQ(box.heading, " Select Data Set to Process");
  EXPECT_EQ(box.items, (std::vector<std::string>{"KVR13INH.DRT", "KVR13ING.DRT"}));
  EXPECT_EQ(box.mode, ListBoxMode::single_choice);

  EXPECT_EQ(console.keys_left(), 0);
  EXPECT_EQ(console.row_text(14), padded(" Press any key to continue."));
  EXPECT_EQ(console.row_text(15),
            padded(" No absorbed dose rate file was selected, calculations are aborted."));
  EXPECT_EQ(console.row_text(16), padded(" Press any key to abort."));
  EXPECT_EQ(console.cursor_row(), 16);
  EXPECT_EQ(console.cursor_column(), 25);
  EXPECT_FALSE(fs::exists(dir / "OUTPUT"));
}

TEST_F(RunDriver, ADataSetNumberTheBoxNeverShowsCountsAsNoChoice) {
  copy_sample();
  console.push_keys(2);
  console.push_list_box_choice({3});
  EXPECT_EQ(run(), kRunStoppedStatus);
  EXPECT_EQ(console.row_text(15),
            padded(" No absorbed dose rate file was selected, calculations are aborted."));
  EXPECT_EQ(console.list_boxes().size(), 1u);
}

TEST_F(RunDriver, MissingIntegrationTimesFileStops) {
  copy_sample();
  fs::remove_all(dir / "data");
  console.push_keys(2);
  console.push_list_box_choice({1});
  EXPECT_EQ(run(), kRunStoppedStatus);

  EXPECT_EQ(console.keys_left(), 0);
  // The message continues the prompt's line.
  EXPECT_EQ(console.row_text(14),
            padded(" Press any key to continue. Unable to locate the file data\\Kestrane.ini."));
  EXPECT_EQ(console.row_text(15), padded(" This file contains the integration times."));
  EXPECT_EQ(console.row_text(16), padded(" Press any key to exit."));
  EXPECT_EQ(console.row_text(17), padded(""));
  EXPECT_EQ(console.list_boxes().size(), 1u);
  EXPECT_FALSE(fs::exists(dir / "OUTPUT"));
}

TEST_F(RunDriver, BothFilesMissingShowsOnlyTheIntegrationTimesMessage) {
  console.push_keys(2);
  console.push_list_box_choice({2});
  EXPECT_EQ(run(), kRunStoppedStatus);
  EXPECT_EQ(console.row_text(14),
            padded(" Press any key to continue. Unable to locate the file data\\Kestrane.ini."));
  EXPECT_EQ(console.row_text(15), padded(" This file contains the integration times."));
  EXPECT_EQ(console.row_text(16), padded(" Press any key to exit."));
  EXPECT_EQ(console.screen().text().find("KVR13ING"), std::string::npos);
}

TEST_F(RunDriver, MissingDoseRateFileStops) {
  copy_sample();
  fs::remove(dir / "DATA" / "KVR13ING.DRT");
  console.push_keys(2);
  console.push_list_box_choice({2});
  EXPECT_EQ(run(), kRunStoppedStatus);
  EXPECT_EQ(console.row_text(14),
            padded(" Press any key to continue. Unable to locate the file DATA\\KVR13ING.DRT."));
  EXPECT_EQ(console.row_text(15), padded(" Press any key to exit."));
  EXPECT_EQ(console.keys_left(), 0);
  EXPECT_EQ(console.list_boxes().size(), 1u);
}

TEST_F(RunDriver, RefusedIntegrationTimesFileStopsWithItsMessage) {
  copy_sample();
  write_file(dir / "data" / "Kestrane.ini", "Integration times\r\n1\r\nEND\r\n");
  console.push_keys(2);
  console.push_list_box_choice({1});
  EXPECT_EQ(run(), kRunStoppedStatus);
  EXPECT_EQ(console.keys_left(), 0);
  const std::string message = console.row_text(15);
  EXPECT_EQ(message[0], ' ');
  EXPECT_NE(message.find("data\\Kestrane.ini"), std::string::npos) << message;
  // The prompt follows on the row after the message, however long it is.
  const int prompt_row = console.cursor_row();
  EXPECT_EQ(console.row_text(prompt_row), padded(" Press any key to exit."));
  EXPECT_EQ(console.list_boxes().size(), 1u);
  EXPECT_FALSE(fs::exists(dir / "OUTPUT"));
}

TEST_F(RunDriver, NoAgeChosenStops) {
  copy_sample();
  console.push_keys(2);
  console.push_list_box_choice({1});
  console.push_list_box_choice({});
  EXPECT_EQ(run(), kRunStoppedStatus);
  EXPECT_EQ(console.list_boxes().size(), 2u);
  EXPECT_EQ(console.row_text(14), padded(" Press any key to continue."));
  EXPECT_EQ(console.row_text(15),
            padded(" Either no age or no organs have been selected for processing."));
  EXPECT_EQ(console.row_text(16), padded(" Press any key to exit the Kestrane program."));
  EXPECT_EQ(console.keys_left(), 0);
  EXPECT_FALSE(fs::exists(dir / "OUTPUT"));
}

TEST_F(RunDriver, NoRegionChosenStops) {
  copy_sample();
  console.push_keys(2);
  console.push_list_box_choice({1});
  console.push_list_box_choice({1});
  console.push_list_box_choice({});
  EXPECT_EQ(run(), kRunStoppedStatus);
  EXPECT_EQ(console.row_text(14), padded(" Press any key to continue.Ages to be process  1 "));
  EXPECT_EQ(console.row_text(15), padded("Infant   "));
  EXPECT_EQ(console.row_text(16), padded("Result$ = "));
  EXPECT_EQ(console.row_text(17), padded(""));
  EXPECT_EQ(console.row_text(18),
            padded(" Either no age or no organs have been selected for processing."));
  EXPECT_EQ(console.row_text(19), padded(" Press any key to exit the Kestrane program."));
  EXPECT_EQ(console.keys_left(), 0);
  EXPECT_FALSE(fs::exists(dir / "OUTPUT"));
}

TEST_F(RunDriver, FileNamesAreMatchedWithoutRegardToCase) {
  // "data" and "DATA" are one folder here, whatever the letter case of its name.
  fs::create_directories(dir / "Data");
  fs::copy(kData / "run" / "data" / "Kestrane.ini", dir / "Data" / "KESTRANE.INI");
  fs::copy(kData / "run" / "DATA" / "KVR13INH.DRT", dir / "Data" / "kvr13inh.drt");
  console.push_keys(2);
  console.push_list_box_choice({1});
  console.push_list_box_choice({});
  EXPECT_EQ(run(), kRunStoppedStatus);
  // Past both existence tests and into the file: the age box was shown.
  EXPECT_EQ(console.list_boxes().size(), 2u);
  EXPECT_EQ(console.row_text(15),
            padded(" Either no age or no organs have been selected for processing."));
}

// The inhalation run of tests/data/app: "Adult   " then "Infant  "; "Lung", then regions 1 and 2.
TEST_F(RunDriver, WholeInhalationRun) {
  copy_sample();
  console.push_keys(3);
  console.push_list_box_choice({1});
  console.push_list_box_choice({6, 1});
  console.push_list_box_choice({30, 1, 2});
  EXPECT_EQ(run(), kRunCompleted);
  EXPECT_EQ(console.keys_left(), 0);
  ASSERT_EQ(console.key_waits().size(), 3u);

  // Ready to process.
  const ScreenBuffer& ready = at_key(1);
  EXPECT_EQ(ready.row_text(14), padded(" Press any key to continue.Ages to be process  2 "));
  EXPECT_EQ(ready.row_text(15), padded("Adult    Infant   "));
  EXPECT_EQ(ready.row_text(16), padded("Organs to be process  3 "));
  EXPECT_EQ(ready.row_text(17), padded("Lung Adrenals UB-Wall "));
  EXPECT_EQ(ready.row_text(18), padded(""));
  EXPECT_EQ(ready.row_text(19), padded(" Press any key to process the data."));

  // Processing and completion.
  const ScreenBuffer& done = at_key(2);
  const std::string files = "Files written: OUTPUT\\DC7300h.OUT OUTPUT\\DC100h.OUT ";
  ASSERT_EQ(files.size(), 52u);
  std::vector<std::string> expected(kConsoleRows + 1, padded(""));
  expected[2] = at_column(25, "Kestrane Code (March 17, 2006)");
  expected[3] = at_column(32, kCreditLine);
  expected[10] = at_column(15, " Processing absorbed dose rate file DATA\\KVR13INH.DRT.");
  // The header of the last record processed (passed-over records leave it alone).
  expected[12] = at_column(20, "S-35      100     V           1 1 l");
  expected[14] = at_column(15, " Processing of absorbed dose rate file is complete.");
  expected[16] = at_column(14, files);
  // The notes line, too long for one row, broken at a blank.
  expected[17] = padded(" Notes: 0 negative, 15 extended coefficients in 3 records; see");
  expected[18] = padded(" OUTPUT\\DC7300h-notes.csv OUTPUT\\DC100h-notes.csv");
  expected[19] = padded(" Press any key to exit.");
  for (int row = 1; row <= kConsoleRows; ++row) {
    EXPECT_EQ(done.row_text(row), expected[static_cast<std::size_t>(row)]) << "row " << row;
  }
  EXPECT_EQ(done.row(), 19);
  EXPECT_EQ(done.column(), 24);

  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC7300h.OUT"), read_file(kData / "golden" / "DC7300h.OUT"));
  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC100h.OUT"), read_file(kData / "golden" / "DC100h.OUT"));
  std::vector<std::string> written;
  for (const auto& entry : fs::directory_iterator(dir / "OUTPUT")) {
    written.push_back(entry.path().filename().string());
  }
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, (std::vector<std::string>{"DC100h-notes.csv", "DC100h.OUT", "DC100h.json",
                                               "DC7300h-notes.csv", "DC7300h.OUT", "DC7300h.json",
                                               "kestrane.lock"}));
}

// The ingestion run: "1 y-old ", "ALL ORGANS".
TEST_F(RunDriver, WholeIngestionRunWithAllOrgans) {
  copy_sample();
  // An earlier run's file is replaced, not appended to.
  write_file(dir / "OUTPUT" / "DC365g.OUT", "left over from an earlier run\r\n");
  console.push_keys(3);
  console.push_list_box_choice({2});
  console.push_list_box_choice({2});
  console.push_list_box_choice({31});
  EXPECT_EQ(run(), kRunCompleted);

  const ScreenBuffer& done = at_key(2);
  EXPECT_EQ(done.row_text(10),
            at_column(15, " Processing absorbed dose rate file DATA\\KVR13ING.DRT."));
  EXPECT_EQ(done.row_text(12), at_column(20, "I-129     3651.0E+00   3 2 B"));
  EXPECT_EQ(done.row_text(16), at_column(23, "Files written: OUTPUT\\DC365g.OUT "));
  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC365g.OUT"), read_file(kData / "golden" / "DC365g.OUT"));
}

TEST_F(RunDriver, RefusedRecordStopsWithRowsBeforeItKept) {
  copy_sample();
  // The third record's table code becomes one the file layout does not know.
  std::string drt = read_file(dir / "DATA" / "KVR13INH.DRT");
  const std::string header = "C-14     7300     S           5 2 B";
  const std::size_t at = drt.find(header);
  ASSERT_NE(at, std::string::npos);
  drt[at + header.size() - 1] = 'X';
  write_file(dir / "DATA" / "KVR13INH.DRT", drt);
  write_file(dir / "OUTPUT" / "DC100h.OUT", "an earlier run\r\n");

  console.push_keys(3);
  console.push_list_box_choice({1});
  console.push_list_box_choice({6, 1});
  console.push_list_box_choice({30, 1, 2});
  EXPECT_EQ(run(), kRunStoppedStatus);
  EXPECT_EQ(console.keys_left(), 0);

  const std::string screen = console.screen().text();
  EXPECT_EQ(screen.find("is complete"), std::string::npos);
  EXPECT_EQ(screen.find("Files written"), std::string::npos);
  // The header of the record processed before the stop.
  EXPECT_EQ(console.row_text(12), at_column(20, "H-3       100     F           5 1 L"));
  EXPECT_EQ(console.row_text(14)[0], ' ');
  EXPECT_NE(screen.find("DATA\\KVR13INH.DRT"), std::string::npos);
  for (const char* part : {" The earlier files are kept; the rows written are left in:",
                           "OUTPUT\\DC7300h.OUT.partial", "OUTPUT\\DC100h.OUT.partial"}) {
    EXPECT_NE(screen.find(part), std::string::npos) << part << "\n" << screen;
  }
  EXPECT_EQ(console.row_text(console.cursor_row()), padded(" Press any key to exit."));
  // The message is broken into rows at blanks, each beginning with one.
  for (int row = 14; row < console.cursor_row(); ++row) {
    EXPECT_EQ(console.char_at(row, 1), ' ') << "row " << row;
    EXPECT_NE(console.char_at(row, 2), ' ') << "row " << row;
    EXPECT_EQ(console.char_at(row, 80), ' ') << "row " << row;
  }
  EXPECT_NE(screen.find("C-14     7300     S           5 2 X"), std::string::npos) << screen;

  // The partial Infant file keeps its heading and the rows of H-3, the record before the
  // stop; the earlier file is as it was.
  const std::string golden = read_file(kData / "golden" / "DC100h.OUT");
  std::size_t end = 0;
  for (int line = 0; line < 6; ++line) end = golden.find("\r\n", end) + 2;
  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC100h.OUT.partial"), golden.substr(0, end));
  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC100h.OUT"), "an earlier run\r\n");
}

TEST_F(RunDriver, LongHeaderOfTerminalEscapesStopsWithTheWhereFirstAndEscaped) {
  copy_sample();
  std::string escapes;
  for (int i = 0; i < 200; ++i) escapes += "\x1b[2J\x1b]0;title\x07\x9b";
  std::string drt = read_file(dir / "DATA" / "KVR13INH.DRT");
  const std::string header = "C-14     7300     S           5 2 B";
  const std::size_t at = drt.find(header);
  ASSERT_NE(at, std::string::npos);
  drt.insert(at + header.size(), escapes);
  write_file(dir / "DATA" / "KVR13INH.DRT", drt);

  console.push_keys(3);
  console.push_list_box_choice({1});
  console.push_list_box_choice({6});
  console.push_list_box_choice({1});
  EXPECT_EQ(run(), kRunStoppedStatus);
  const std::string screen = console.screen().text();
  EXPECT_EQ(screen.find('\x1b'), std::string::npos);
  EXPECT_EQ(screen.find('\x07'), std::string::npos);
  EXPECT_NE(screen.find("\\x1b[2J\\x1b]0;title\\x07\\x9b"), std::string::npos) << screen;
  // The file, the line and the reason open the message at its first row, and the quoted text
  // takes only a few rows below it.
  EXPECT_EQ(console.row_text(14).rfind(" DATA\\KVR13INH.DRT, line ", 0), 0u) << screen;
  EXPECT_NE(console.row_text(14).find("table code"), std::string::npos) << screen;
  EXPECT_LE(console.cursor_row(), 22);
  EXPECT_EQ(console.row_text(console.cursor_row()), padded(" Press any key to exit."));
}

TEST_F(RunDriver, CoefficientFileThatCannotBeOpenedStopsWithNoFileChanged) {
  copy_sample();
  const std::string earlier = "an earlier run's coefficients\r\n";
  write_file(dir / "OUTPUT" / "DC7300h.OUT", earlier);
  fs::create_directories(dir / "OUTPUT" / "DC100h.OUT");  // a folder where a file must go

  console.push_keys(3);
  console.push_list_box_choice({1});
  console.push_list_box_choice({6, 1});
  console.push_list_box_choice({1});
  EXPECT_EQ(run(), kRunStoppedStatus);
  EXPECT_EQ(console.keys_left(), 0);
  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC7300h.OUT"), earlier);
  EXPECT_FALSE(fs::exists(dir / "OUTPUT" / "DC7300h.OUT.partial"));
  const std::string screen = console.screen().text();
  EXPECT_NE(screen.find("OUTPUT\\DC100h.OUT"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("is complete"), std::string::npos);
  EXPECT_EQ(console.row_text(14)[0], ' ');
  EXPECT_EQ(console.row_text(console.cursor_row()), padded(" Press any key to exit."));
}

// What a run leaves for the normal terminal once the screen closes, after the lines already
// there: the written-files line without its final blank, or a stop's message without its
// leading blank, with the files it names.
struct OutcomeCase {
  std::string name;
  std::function<void(const fs::path&)> prepare;  // changes the sample working directory
  std::vector<std::vector<int>> answers;         // list-box choices, in order
  int keys = 2;
  std::vector<std::string> last_lines;  // the outcome ends with these
  std::string first_line_holds;         // when the message comes from a reader
};

class RunOutcome : public RunDriver, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(RunOutcome, IsAppendedInPlainLines) {
  const OutcomeCase& c = GetParam();
  copy_sample();
  c.prepare(dir);
  console.push_keys(c.keys);
  for (const std::vector<int>& answer : c.answers) console.push_list_box_choice(answer);
  std::vector<std::string> outcome{"a line from before"};
  run_kestrane(console, dir, outcome);

  ASSERT_GE(outcome.size(), c.last_lines.size() + 1);
  EXPECT_EQ(outcome.front(), "a line from before");
  EXPECT_EQ(std::vector<std::string>(outcome.end() - static_cast<long>(c.last_lines.size()),
                                     outcome.end()),
            c.last_lines);
  if (!c.first_line_holds.empty()) {
    ASSERT_GT(outcome.size(), c.last_lines.size() + 1);
    EXPECT_NE(outcome[1].find(c.first_line_holds), std::string::npos) << outcome[1];
    EXPECT_NE(outcome[1].front(), ' ');
  } else {
    EXPECT_EQ(outcome.size(), c.last_lines.size() + 1);
  }
}

// The outcome as the normal terminal gets it: '/' for the program's '\\' (but not in the
// escape of a byte), broken at blanks, never inside a word.
TEST(OutcomeForShell, NamesFilesWithSlashesAndBreaksAtBlanks) {
  EXPECT_EQ(outcome_for_shell({"Files written: OUTPUT\\DC7300h.OUT OUTPUT\\DC100h.OUT"}, 80),
            "Files written: OUTPUT/DC7300h.OUT OUTPUT/DC100h.OUT\n");
  EXPECT_EQ(outcome_for_shell({"The run left in: OUTPUT\\DC100g.OUT.partial", "b \"\\x1b\""}, 20),
            "The run left in:\nOUTPUT/DC100g.OUT.partial\nb \"\\x1b\"\n");
}

INSTANTIATE_TEST_SUITE_P(
    Endings, RunOutcome,
    ::testing::Values(
        OutcomeCase{"Completed",
                    [](const fs::path&) {},
                    {{1}, {6, 1}, {30, 1, 2}},
                    3,
                    {"Files written: OUTPUT\\DC7300h.OUT OUTPUT\\DC100h.OUT",
                     "Notes: 0 negative, 15 extended coefficients in 3 records; see "
                     "OUTPUT\\DC7300h-notes.csv OUTPUT\\DC100h-notes.csv",
                     "Provenance files: OUTPUT\\DC7300h.json OUTPUT\\DC100h.json"},
                    ""},
        OutcomeCase{"NoDataSet",
                    [](const fs::path&) {},
                    {{}},
                    2,
                    {"No absorbed dose rate file was selected, calculations are aborted."},
                    ""},
        OutcomeCase{"NoTimesFile",
                    [](const fs::path& d) { fs::remove_all(d / "data"); },
                    {{1}},
                    2,
                    {"Unable to locate the file data\\Kestrane.ini.",
                     "This file contains the integration times."},
                    ""},
        OutcomeCase{"NoDoseRateFile",
                    [](const fs::path& d) { fs::remove(d / "DATA" / "KVR13ING.DRT"); },
                    {{2}},
                    2,
                    {"Unable to locate the file DATA\\KVR13ING.DRT."},
                    ""},
        OutcomeCase{"NoAge",
                    [](const fs::path&) {},
                    {{1}, {}},
                    2,
                    {"Either no age or no organs have been selected for processing."},
                    ""},
        OutcomeCase{"RefusedRecord",
                    [](const fs::path& d) {
                      // The third record's table code becomes one the layout does not know.
                      std::string drt = read_file(d / "DATA" / "KVR13INH.DRT");
                      const std::size_t at = drt.find("C-14     7300     S           5 2 B");
                      ASSERT_NE(at, std::string::npos);
                      drt[at + 34] = 'X';
                      write_file(d / "DATA" / "KVR13INH.DRT", drt);
                    },
                    {{1}, {6, 1}, {30}},
                    3,
                    {"The earlier files are kept; the rows written are left in: "
                     "OUTPUT\\DC7300h.OUT.partial OUTPUT\\DC100h.OUT.partial "
                     "OUTPUT\\DC100h-notes.csv.partial"},
                    "DATA\\KVR13INH.DRT"}),
    [](const ::testing::TestParamInfo<OutcomeCase>& case_info) { return case_info.param.name; });

}  // namespace
}  // namespace kestrane
