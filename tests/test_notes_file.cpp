// Tests of the notes: the share from outside the tabulated times on records whose integrals
// are known in closed form, the threshold, the summary rows, the safe replacement of notes
// files, the notes and CSV files of whole runs against exact shares, and the notes line of
// both front ends.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/batch_options.h"
#include "app/batch_run.h"
#include "app/run_driver.h"
#include "app/selection.h"
#include "dose/record_loop.h"
#include "output/csv_file.h"
#include "output/notes_file.h"
#include "output/output_files.h"
#include "run/file_run.h"
#include "run/run_request.h"
#include "sample/sample_data.h"
#include "tests/support/test_support.h"
#include "ui/memory_console.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using test_support::read_file;
using test_support::write_file;

HeaderRecord inhalation_header(std::string code) {
  HeaderRecord header;
  header.nuclide = "H-3    ";
  header.class_or_f1 = "F";
  header.age_days = 9125;
  header.line_number = 7;
  header.tables = tables_of_code(code);
  header.table_code = std::move(code);
  return header;
}

// The notes row of one record whose low table is the rates `f` at the times `x`, for one region
// "Liver" and the integration times `times`, computed by the record loop's own integration.
std::string notes_of_record(const std::vector<double>& x, const std::vector<double>& f,
                            const std::vector<double>& times, NoteCounts& counts) {
  HeaderRecord header = inhalation_header("L");
  header.n = static_cast<int>(x.size());
  auto rates = std::make_unique<RateTable>();
  auto coef = std::make_unique<CoefficientTable>();
  for (std::size_t i = 0; i < x.size(); ++i) {
    rates->x[i] = x[i];
    rates->value[0][0][i] = f[i];
  }
  compute_coefficients(header, *rates, times, 1, "DATA\\KVR13INH.DRT", *coef);
  std::string rows;
  const std::vector<std::string> regions{"Liver"};
  append_note_row(rows, header, *coef, times, regions, counts);
  return rows;
}

struct ShareCase {
  const char* name;
  std::vector<double> x, f, times;
  std::string rows;
  int negative, extended;
};

void PrintTo(const ShareCase& c, std::ostream* os) { *os << c.name; }

class Shares : public ::testing::TestWithParam<ShareCase> {};

// Every record here lies on a straight line, which the monotone interpolant reproduces and
// extends, so the parts inside and outside the table are integrals of that line.
TEST_P(Shares, AreThoseOfTheClosedFormIntegrals) {
  const ShareCase& c = GetParam();
  NoteCounts counts;
  EXPECT_EQ(notes_of_record(c.x, c.f, c.times, counts), c.rows);
  EXPECT_EQ(counts.negative, c.negative);
  EXPECT_EQ(counts.extended, c.extended);
}

INSTANTIATE_TEST_SUITE_P(
    Records, Shares,
    ::testing::Values(
        // From time 0, T inside the table: nothing from outside, nothing noted.
        ShareCase{"FromZeroInside", {0, 1, 2}, {1, 2, 3}, {0.5, 2}, "", 0, 0},
        // f = t on [1, 3]: T = 2 gives 1.5 inside and 0.5 below (share 0.25), T = 4 gives 4
        // inside, 0.5 below and 3.5 above (share 0.5, the largest).
        ShareCase{"LineExtendedPastItsEnd",
                  {1, 2, 3},
                  {1, 2, 3},
                  {2, 4},
                  "H-3,F,9125,7,1,3,2,0,2,0.5,Liver,low,4,0\n",
                  0,
                  2},
        // f = 3 - t on [1, 3], T = 7: 2 inside, 2.5 below and -8 above, -3.5 in all; the
        // share is 5.5 / 7.5. T = 1 lies wholly below the table (share 1, the first largest),
        // T = 3 has 2 inside and 2.5 below.
        ShareCase{"ExtensionGoingNegative",
                  {1, 2, 3},
                  {2, 1, 0},
                  {7, 1, 0.5, 3},
                  "H-3,F,9125,7,1,3,4,1,4,1,Liver,low,1,0\n",
                  1,
                  4}),
    [](const ::testing::TestParamInfo<ShareCase>& test) { return test.param.name; });

struct ThresholdCase {
  const char* name;
  double coefficient, outside;
  int negative, extended;  // none: no row
};

void PrintTo(const ThresholdCase& c, std::ostream* os) { *os << c.name; }

class Threshold : public ::testing::TestWithParam<ThresholdCase> {};

TEST_P(Threshold, NotesOnlyAShareAboveOnePercentOrANegativeValue) {
  const ThresholdCase& c = GetParam();
  auto coef = std::make_unique<CoefficientTable>();
  coef->coef[1][0][0] = c.coefficient;
  coef->outside[1][0][0] = c.outside;
  coef->integrated = {false, true};
  coef->first_time = 0.5;
  coef->last_time = 100;
  std::string rows;
  NoteCounts counts;
  const std::vector<double> times{365};
  const std::vector<std::string> regions{"Lung"};
  append_note_row(rows, inhalation_header("H"), *coef, times, regions, counts);
  if (c.negative + c.extended == 0) {
    EXPECT_EQ(rows, "");
  } else {
    const std::string counts_text =
        ",1," + std::to_string(c.negative) + "," + std::to_string(c.extended) + ",";
    EXPECT_TRUE(rows.starts_with("H-3,F,9125,7,0.5,100" + counts_text)) << rows;
    EXPECT_TRUE(rows.ends_with(",Lung,high,365,0\n")) << rows;
  }
  EXPECT_EQ(counts.records, c.negative + c.extended > 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, Threshold,
    ::testing::Values(ThresholdCase{"ExactlyOnePercent", 100, 1, 0, 0},
                      ThresholdCase{"JustAboveOnePercent", 100, 1.0000000001, 0, 1},
                      ThresholdCase{"NegativeInside", -1e-20, 0, 1, 0},
                      ThresholdCase{"BothPartsZero", 0, 0, 0, 0},
                      ThresholdCase{"NegativeZero", -0.0, 0, 0, 0}),
    [](const ::testing::TestParamInfo<ThresholdCase>& test) { return test.param.name; });

TEST(NotesShare, IsZeroWithoutAnyIntegralAndOneWhenAllIsOutside) {
  EXPECT_EQ(share_outside(0, 0), 0);
  EXPECT_EQ(share_outside(2, 2), 1);
  EXPECT_EQ(share_outside(-1, 1), 1.0 / 3);  // 2 inside, 1 outside
  EXPECT_EQ(notes_file_name(100, DataSet::ingestion), "OUTPUT\\DC100g-notes.csv");
  EXPECT_EQ(notes_file_name(7300, DataSet::inhalation), "OUTPUT\\DC7300h-notes.csv");
}

// A notes file is among the files of the run, made only with its first rows: replaced when
// the new run has rows, removed when it completes with none, and left as it was when the run
// stops, its rows then kept in the partial file.
TEST(NotesFiles, ReplaceOrRemoveTheEarlierFileOnlyWhenTheRunCompletes) {
  test_support::TempDir dir("kestrane_notes");
  const fs::path final_path = dir / "OUTPUT" / "DC100g-notes.csv";
  const fs::path partial = dir / "OUTPUT" / "DC100g-notes.csv.partial";
  const std::string earlier = "nuclide,f1\nearlier run\n";
  const std::string header = notes_header(DataSet::ingestion) + "\n";
  const std::vector<int> ages{1};
  const auto run = [&](bool with_rows, bool complete) {
    write_file(final_path, earlier);
    OutputFiles files(dir.path());
    RunNotes notes(files, DataSet::ingestion, ages, {1.0}, {"Liver"});
    EXPECT_FALSE(files.has_partial(0));
    if (with_rows) notes.add(0, "a,row\n", {1, 0, 1});
    EXPECT_EQ(files.has_partial(0), with_rows);
    if (complete) {
      files.commit(false);
    } else {
      files.abandon();
    }
  };

  write_file(partial, "left by a stopped run\n");
  run(false, false);
  EXPECT_EQ(read_file(final_path), earlier);
  EXPECT_FALSE(fs::exists(partial));
  run(true, false);
  EXPECT_EQ(read_file(final_path), earlier);
  EXPECT_EQ(read_file(partial), header + "a,row\n");
  run(true, true);
  EXPECT_EQ(read_file(final_path), header + "a,row\n");
  EXPECT_FALSE(fs::exists(partial));
  run(false, true);
  EXPECT_FALSE(fs::exists(final_path));
  EXPECT_FALSE(fs::exists(partial));
}

// The whole-run cases of tests/data/golden, whose notes and CSV rows make_golden.py works out
// in exact rational arithmetic: the same rows in the same order, the texts and counts alike,
// the numbers within the rounding of the program's floating-point integrals.
std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

// Compares a file's rows after its column line with the expected ones: the fields of `exact`
// as texts, those of `skip` not at all, every other field as a number within 1e-8 (relative)
// or empty where the expected field is.
void expect_same_rows(const std::string& text, const std::string& column_line,
                      const std::vector<std::string>& rows, std::size_t fields,
                      const std::set<std::size_t>& exact, const std::set<std::size_t>& skip = {}) {
  std::vector<std::string> got = split(text, '\n');
  ASSERT_EQ(got.front(), column_line);
  ASSERT_EQ(got.back(), "");
  ASSERT_EQ(got.size(), rows.size() + 2);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const std::vector<std::string> want = split(rows[r], ',');
    const std::vector<std::string> have = split(got[r + 1], ',');
    ASSERT_EQ(have.size(), fields) << got[r + 1];
    for (std::size_t f = 0; f < fields; ++f) {
      if (skip.contains(f)) continue;
      if (exact.contains(f) || want[f].empty()) {
        EXPECT_EQ(have[f], want[f]) << got[r + 1];
      } else {
        const double value = std::stod(want[f]);
        EXPECT_NEAR(std::stod(have[f]), value, 1e-8 * std::max(std::abs(value), 1e-300))
            << got[r + 1] << " field " << f;
      }
    }
  }
}

class GoldenRun : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    const fs::path golden = fs::path(KESTRANE_TEST_DATA) / "golden" / GetParam();
    fs::copy(golden / "DATA", dir / "DATA", fs::copy_options::recursive);
    fs::copy(golden / "data", dir / "data", fs::copy_options::recursive);
    options.dir = dir.path();
    options.csv = true;
    std::istringstream choice(read_file(golden / "choice.txt"));
    for (std::string key, value; choice >> key && std::getline(choice, value);) {
      std::vector<std::string> items = split(value.substr(1), ' ');
      std::string list = items[0];
      for (std::size_t i = 1; i < items.size(); ++i) list += "," + items[i];
      if (key == "data_set")
        options.data_set = list == "inhalation" ? DataSet::inhalation : DataSet::ingestion;
      if (key == "ages") options.ages = list;
      if (key == "regions") options.regions = list;
    }
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(run_batch(options, out, err, false), 0) << err.str();
    std::istringstream lines(read_file(golden / "expected" / expected_name()));
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("#")) continue;
      const std::size_t blank = line.find(' ');
      expected[line.substr(0, blank)].push_back(line.substr(blank + 1));
    }
  }
  virtual std::string expected_name() const = 0;

  void expect_rows(const std::string& column_line, std::size_t fields,
                   const std::set<std::size_t>& exact) {
    ASSERT_FALSE(expected.empty());
    for (const auto& [name, rows] : expected) {
      SCOPED_TRACE(name);
      expect_same_rows(read_file(dir / "OUTPUT" / name), column_line, rows, fields, exact);
    }
  }

  test_support::TempDir dir{"kestrane_golden_notes"};
  BatchOptions options;
  std::map<std::string, std::vector<std::string>> expected;
};

class GoldenNotes : public GoldenRun {
  std::string expected_name() const override { return "notes.txt"; }
};

TEST_P(GoldenNotes, AgreeWithTheExactShares) {
  std::set<std::string> written;
  for (const auto& entry : fs::directory_iterator(dir / "OUTPUT")) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with("-notes.csv")) written.insert(name);
  }
  std::set<std::string> names;
  for (const auto& [name, rows] : expected) names.insert(name);
  EXPECT_EQ(written, names);
  // The first and last times (4, 5) read back exactly; the share (9) is near the exact one.
  expect_rows(notes_header(options.data_set), 14, {0, 1, 2, 3, 6, 7, 8, 10, 11, 13});
}

class GoldenCsv : public GoldenRun {
  std::string expected_name() const override { return "csv.txt"; }
};

TEST_P(GoldenCsv, SaysWhichRecordEachRowComesFromAndAgreesWithTheExactShares) {
  expect_rows(csv_header(options.data_set), 11, {0, 1, 2, 3, 4, 6});
}

// The run tests' straight-line records, whose CSV and notes files make_data.py works out exactly.
TEST(StraightLineRun, WritesTheCsvAndNotesFilesWorkedOutExactly) {
  const fs::path app = fs::path(KESTRANE_TEST_DATA) / "app";
  test_support::TempDir dir("kestrane_app_csv");
  fs::copy(app / "run", dir.path(), fs::copy_options::recursive);
  BatchOptions options;
  options.dir = dir.path();
  options.ages = "7300,100";
  options.regions = "Lung,1,2";
  options.csv = true;
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(run_batch(options, out, err, false), 0) << err.str();
  for (const std::string name :
       {"DC7300h.csv", "DC100h.csv", "DC7300h-notes.csv", "DC100h-notes.csv"}) {
    SCOPED_TRACE(name);
    std::vector<std::string> rows = split(read_file(app / "golden" / name), '\n');
    const std::string column_line = rows.front();
    rows.erase(rows.begin());
    rows.pop_back();
    const bool notes = name.ends_with("-notes.csv");
    // Every column of a record here has the same shares, so which coefficient holds the largest
    // share first depends on the last bit of each; below it is checked against the CSV.
    expect_same_rows(read_file(dir / "OUTPUT" / name), column_line, rows, notes ? 14 : 11,
                     notes ? std::set<std::size_t>{0, 1, 2, 3, 6, 7, 8, 13}
                           : std::set<std::size_t>{0, 1, 2, 3, 4, 6},
                     notes ? std::set<std::size_t>{10, 11, 12} : std::set<std::size_t>{});
  }
  // The coefficient a notes row names has, in the CSV file, the largest share the row gives.
  for (const std::string age : {"7300", "100"}) {
    const std::vector<std::string> csv =
        split(read_file(dir / "OUTPUT" / ("DC" + age + "h.csv")), '\n');
    const std::vector<std::string> notes =
        split(read_file(dir / "OUTPUT" / ("DC" + age + "h-notes.csv")), '\n');
    for (std::size_t r = 1; r + 1 < notes.size(); ++r) {
      const std::vector<std::string> note = split(notes[r], ',');
      bool found = false;
      for (const std::string& line : csv) {
        const std::vector<std::string> f = split(line, ',');
        if (f.size() == 11 && f[3] == note[3] && f[5] == note[12] && f[6] == note[10]) {
          EXPECT_EQ(f[note[11] == "low" ? 9 : 10], note[9]) << line;
          found = true;
        }
      }
      EXPECT_TRUE(found) << notes[r];
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenCsv, ::testing::Values("inhalation", "ingestion"),
                         [](const auto& test) { return test.param; });
INSTANTIATE_TEST_SUITE_P(Cases, GoldenNotes, ::testing::Values("inhalation", "ingestion"),
                         [](const auto& test) { return test.param; });

// The sample data of the build: the issue counted 348 negative infant ingestion coefficients.
class NotesLine : public ::testing::Test {
 protected:
  void SetUp() override { write_sample_directory(dir.path(), std::uint64_t{2} << 20, 1); }
  test_support::TempDir dir{"kestrane_notes_line"};
};

TEST_F(NotesLine, FollowsTheFilesInBothFrontEndsAndCountsTheFilesRows) {
  BatchOptions options;
  options.data_set = DataSet::ingestion;
  options.ages = "infant";
  options.regions = "all";
  options.dir = dir.path();
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(run_batch(options, out, err, false), 0) << err.str();
  const std::string notes = read_file(dir / "OUTPUT" / "DC100g-notes.csv");
  // The notes file is listed after the coefficient file; the notes line, on standard error,
  // names it so.
  const std::string output = (dir / "OUTPUT").lexically_normal().generic_string();
  EXPECT_EQ(out.str(),
            output + "/DC100g.OUT\n" + output + "/DC100g-notes.csv\n" + output + "/DC100g.json\n");
  EXPECT_EQ(err.str(), "Notes: 348 negative, 2331 extended coefficients in 12 records; see " +
                           output + "/DC100g-notes.csv\n");
  // The counts are the sums of the file's rows, one row per record.
  const std::vector<std::string> rows = split(notes, '\n');
  ASSERT_EQ(rows.size(), 12u + 2);
  int negative = 0;
  int extended = 0;
  for (std::size_t r = 1; r + 1 < rows.size(); ++r) {
    const std::vector<std::string> fields = split(rows[r], ',');
    negative += std::stoi(fields[7]);
    extended += std::stoi(fields[8]);
  }
  EXPECT_EQ(negative, 348);
  EXPECT_EQ(extended, 2331);

  MemoryConsole console;
  console.push_keys(3);
  console.push_list_box_choice({2});   // KVR13ING.DRT
  console.push_list_box_choice({1});   // Infant
  console.push_list_box_choice({31});  // ALL ORGANS
  std::vector<std::string> outcome;
  ASSERT_EQ(run_kestrane(console, dir.path(), outcome), kRunCompleted);
  const std::string files = "Files written: OUTPUT\\DC100g.OUT ";
  EXPECT_EQ(console.row_text(16),
            test_support::padded(std::string((80 - files.size()) / 2 - 1, ' ') + files));
  // The notes line takes the empty row above the prompt, broken at a blank where it is longer
  // than a row.
  const std::string notes_line =
      "Notes: 348 negative, 2331 extended coefficients in 12 records; see "
      "OUTPUT\\DC100g-notes.csv";
  EXPECT_EQ(
      console.row_text(17),
      test_support::padded(" Notes: 348 negative, 2331 extended coefficients in 12 records; see"));
  EXPECT_EQ(console.row_text(18), test_support::padded(" OUTPUT\\DC100g-notes.csv"));
  EXPECT_EQ(console.row_text(19), test_support::padded(" Press any key to exit."));
  // The same line is kept for the normal terminal, after the written files, and the
  // provenance files after it.
  EXPECT_EQ(outcome, (std::vector<std::string>{"Files written: OUTPUT\\DC100g.OUT", notes_line,
                                               "Provenance files: OUTPUT\\DC100g.json"}));
}

// The notes file is made with its first rows during the run, and the run says so, so that the
// note of an interrupted run can name its partial file from then on.
TEST_F(NotesLine, ANotesFileMadeDuringTheRunJoinsThePartialFiles) {
  RunRequest request;
  request.working_dir = dir.path();
  request.data_set = DataSet::ingestion;
  request.ages = "1";
  request.regions = "1";
  FileRun run(resolve_run(request, open_run_input(request)));
  EXPECT_EQ(run.partial_names(), std::vector<std::string>{"OUTPUT\\DC100g.OUT.partial"});
  std::vector<std::vector<std::string>> seen;
  run.on_new_partial_file([&] { seen.push_back(run.partial_names()); });
  const RunOutcome outcome = run.process(nullptr);
  EXPECT_EQ(seen, (std::vector<std::vector<std::string>>{
                      {"OUTPUT\\DC100g.OUT.partial", "OUTPUT\\DC100g-notes.csv.partial"}}));
  std::vector<std::string> placed;
  std::vector<FileKind> kinds;
  for (const RunFile& file : outcome.files) {
    placed.push_back(file.name);
    kinds.push_back(file.kind);
  }
  EXPECT_EQ(placed, (std::vector<std::string>{"OUTPUT\\DC100g.OUT", "OUTPUT\\DC100g-notes.csv",
                                              "OUTPUT\\DC100g.json"}));
  EXPECT_EQ(kinds,
            (std::vector<FileKind>{FileKind::coefficients, FileKind::notes, FileKind::provenance}));
}

}  // namespace
}  // namespace kestrane
