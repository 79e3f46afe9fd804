// Tests of the coefficient files: names, headings, rows, and the files on disk: written as
// partial files, put in place or kept, the locks, and every failure to create or write them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "output/coefficient_files.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

using kestrane::test_support::read_file;
using kestrane::test_support::write_file;

namespace fs = std::filesystem;

const fs::path kData = fs::path(KESTRANE_TEST_DATA) / "output";

std::string crlf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// A fresh working directory, removed afterwards.
class WorkingDir {
 public:
  WorkingDir() {
    std::string pattern = (fs::temp_directory_path() / "kestrane-output-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~WorkingDir() {
    std::error_code ec;
    fs::permissions(path_ / "OUTPUT", fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

// The header line of the worked example: I-131, adult (07300), class F.
constexpr std::string_view kIodineHeader = "I-131   07300     F          30 1 L";
// An ingestion header line: Cs-137, adult, f1 field " 0.1000" in columns 14-20.
constexpr std::string_view kCaesiumHeader = "Cs-137  07300 0.1000  30 1 L";

// The coefficients of the worked example: Lung and Liver at 1 and 365 days, high all 0.
std::unique_ptr<CoefficientTable> example_table() {
  auto table = std::make_unique<CoefficientTable>();
  table->coef[0][0][0] = 1.234E-4;
  table->coef[0][1][0] = 5.6E-7;
  table->coef[0][0][1] = 2.5E-3;
  table->coef[0][1][1] = 9.99E-6;
  return table;
}
const std::vector<std::string> kExampleRegions = {"Lung", "Liver"};
const std::vector<double> kExampleTimes = {1, 365};

// The rows of coefficient_block without their line ends; every one must end in CR LF.
std::vector<std::string> rows(DataSet data_set, std::string_view header_line,
                              const CoefficientTable& coef, std::span<const double> times,
                              int region_count) {
  const std::string block = coefficient_block(data_set, header_line, coef, times, region_count);
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < block.size();) {
    const std::size_t end = block.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "a row without CR LF: " << block.substr(start);
      break;
    }
    lines.push_back(block.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

TEST(CoefficientFileNames, EveryAgeAndDataSet) {
  const char* inhalation[] = {"OUTPUT\\DC100h.OUT",  "OUTPUT\\DC365h.OUT",  "OUTPUT\\DC1825h.OUT",
                              "OUTPUT\\DC3650h.OUT", "OUTPUT\\DC5475h.OUT", "OUTPUT\\DC7300h.OUT"};
  const char* ingestion[] = {"OUTPUT\\DC100g.OUT",  "OUTPUT\\DC365g.OUT",  "OUTPUT\\DC1825g.OUT",
                             "OUTPUT\\DC3650g.OUT", "OUTPUT\\DC5475g.OUT", "OUTPUT\\DC7300g.OUT"};
  for (int g = 0; g < kAgeGroupCount; ++g) {
    EXPECT_EQ(coefficient_file_name(kAgeGroups[g].days, DataSet::inhalation), inhalation[g]);
    EXPECT_EQ(coefficient_file_name(kAgeGroups[g].days, DataSet::ingestion), ingestion[g]);
  }
}

TEST(CenterText, MarginsAndCuts) {
  EXPECT_EQ(center_text("Lung", 18), std::string(7, ' ') + "Lung" + std::string(7, ' '));
  EXPECT_EQ(center_text("Liver", 18), std::string(6, ' ') + "Liver" + std::string(7, ' '));
  EXPECT_EQ(center_text("", 18), std::string(18, ' '));
  EXPECT_EQ(center_text("Eighteen_character", 18), "Eighteen_character");
  EXPECT_EQ(center_text("Lower_large_intestine_wall", 18), "Lower_large_intest");
  // Leading blanks count in the margins; a name of 18 or more after them is cut from the
  // start of the text, blanks included.
  EXPECT_EQ(center_text("  ab", 18), std::string(7, ' ') + "  ab" + std::string(7, ' '));
  EXPECT_EQ(center_text("   Lower_large_intestine", 18), "   Lower_large_int");
  // Leading blanks alone never make a short name long: it is kept whole.
  EXPECT_EQ(center_text(std::string(20, ' ') + "ab", 18), std::string(20, ' ') + "ab");
  EXPECT_EQ(center_text("abc", 0), "");
}

TEST(CoefficientHeadings, InhalationExample) {
  EXPECT_EQ(coefficient_headers(DataSet::inhalation, 6, kExampleRegions),
            (std::vector<std::string>{
                "Inhalation Data Set For Adult   ",
                "           Time        Lung              Liver        ",
                "            (d)    low      high      low      high    ",
            }));
}

TEST(CoefficientHeadings, Ingestion) {
  const std::vector<std::string> regions = {"ST_wall", "Lower_large_intestine_wall"};
  EXPECT_EQ(coefficient_headers(DataSet::ingestion, 1, regions),
            (std::vector<std::string>{
                "Ingestion Data Set For Infant  ",
                "                 Time      ST_wall       Lower_large_intest ",
                "           f1     (d)    low      high      low      high    ",
            }));
}

TEST(CoefficientHeadings, ThirtyRegionsKeepTheirColumns) {
  std::vector<std::string> names;
  for (int j = 0; j < 30; ++j)
    names.push_back(std::string(static_cast<std::size_t>(j), static_cast<char>('a' + j % 26)));
  const auto inhalation = coefficient_headers(DataSet::inhalation, 3, names);
  const auto ingestion = coefficient_headers(DataSet::ingestion, 3, names);
  EXPECT_EQ(inhalation[0], "Inhalation Data Set For 5 y-old ");
  EXPECT_EQ(inhalation[1].size(), 16u + 19 * 30);
  EXPECT_EQ(inhalation[2].size(), 17u + 19 * 30);
  EXPECT_EQ(ingestion[1].size(), 22u + 19 * 30);
  EXPECT_EQ(ingestion[2].size(), 23u + 19 * 30);
  for (std::size_t j = 0; j < 30; ++j) {
    SCOPED_TRACE(j);
    // Region j's name in columns 17 + 19j to 34 + 19j (inhalation), 23 + 19j to 40 + 19j.
    const std::string centred = center_text(names[j], 18);
    EXPECT_EQ(inhalation[1].substr(16 + 19 * j, 19), centred + " ");
    EXPECT_EQ(ingestion[1].substr(22 + 19 * j, 19), centred + " ");
    EXPECT_EQ(inhalation[2].substr(17 + 19 * j, 19), "  low      high    ");
    EXPECT_EQ(ingestion[2].substr(23 + 19 * j, 19), "  low      high    ");
  }
}

TEST(CoefficientRows, InhalationExample) {
  const auto table = example_table();
  EXPECT_EQ(rows(DataSet::inhalation, kIodineHeader, *table, kExampleTimes, 2),
            (std::vector<std::string>{
                "I-131  F  1.0E+00 1.23E-04 0.00E+00  5.60E-07 0.00E+00 ",
                "          3.6E+02 2.50E-03 0.00E+00  9.99E-06 0.00E+00 ",
            }));
}

TEST(CoefficientRows, IngestionWithSixIntegrationTimes) {
  auto table = std::make_unique<CoefficientTable>();
  // (low, high) of ST_wall and of the second region for each of the six times.
  const double values[6][4] = {
      {1E-10, 1.125, 9.996E-5, 0},   {2E-10, 1.375, 4.56E-20, 7.89E3},
      {3E-10, -2.5E-7, 1E-30, 1E30}, {4E-10, 0, 123456, 0.000123},
      {5E-10, 0, 7300, 365},         {6E-10, 0, 1825, 99.95},
  };
  for (int m = 0; m < 6; ++m) {
    table->coef[0][0][m] = values[m][0];
    table->coef[1][0][m] = values[m][1];
    table->coef[0][1][m] = values[m][2];
    table->coef[1][1][m] = values[m][3];
  }
  const std::vector<double> times = {1, 7, 30, 365, 1825, 18250};
  const std::string blanks(15, ' ');
  EXPECT_EQ(rows(DataSet::ingestion, kCaesiumHeader, *table, times, 2),
            (std::vector<std::string>{
                "Cs-137   0.1000 1.0E+00 1.00E-10 1.12E+00  1.00E-04 0.00E+00 ",
                blanks + " 7.0E+00 2.00E-10 1.38E+00  4.56E-20 7.89E+03 ",
                blanks + " 3.0E+01 3.00E-10-2.50E-07  1.00E-30 1.00E+30 ",
                blanks + " 3.6E+02 4.00E-10 0.00E+00  1.23E+05 1.23E-04 ",
                blanks + " 1.8E+03 5.00E-10 0.00E+00  7.30E+03 3.65E+02 ",
                blanks + " 1.8E+04 6.00E-10 0.00E+00  1.82E+03 9.99E+01 ",
            }));
}

TEST(CoefficientRows, LengthsWithAllThirtyRegions) {
  auto table = std::make_unique<CoefficientTable>();
  for (auto& by_table : table->coef) {
    for (auto& by_region : by_table) by_region.fill(-1.5E-9);
  }
  const std::vector<double> times = {1, 2, 3, 4, 5};
  for (const auto& row : rows(DataSet::inhalation, kIodineHeader, *table, times, 30)) {
    EXPECT_EQ(row.size(), 587u);
  }
  for (const auto& row : rows(DataSet::ingestion, kCaesiumHeader, *table, times, 30)) {
    EXPECT_EQ(row.size(), 593u);
  }
}

TEST(CoefficientRows, ShortHeaderLinesAreNotPadded) {
  const auto table = example_table();
  const std::vector<double> one_day = {1};
  const std::string pair = " 1.23E-04 0.00E+00 ";
  // No column 19: no class letter, the row one column shorter.
  EXPECT_EQ(rows(DataSet::inhalation, "I-131   07300", *table, one_day, 1)[0],
            "I-131    1.0E+00" + pair);
  EXPECT_EQ(rows(DataSet::inhalation, "Co", *table, one_day, 1)[0], "Co  1.0E+00" + pair);
  // Columns 14-17 only of the f1 field.
  EXPECT_EQ(rows(DataSet::ingestion, "Cs-137  07300 0.1", *table, one_day, 1)[0],
            "Cs-137   0.1 1.0E+00" + pair);
  EXPECT_EQ(rows(DataSet::ingestion, "Cs-137", *table, one_day, 1)[0], "Cs-137  1.0E+00" + pair);
  // The columns are copied as they stand, whatever they hold.
  EXPECT_EQ(rows(DataSet::inhalation, "abcdefghijklmnopqrstuvwxyz", *table, one_day, 0)[0],
            "abcdefgs  1.0E+00");
}

TEST(CoefficientRows, NoIntegrationTimesGiveOneRowOfZeros) {
  const auto table = example_table();  // whatever the table holds
  EXPECT_EQ(rows(DataSet::inhalation, kIodineHeader, *table, {}, 2),
            (std::vector<std::string>{"I-131  F  0.0E+00 0.00E+00 0.00E+00  0.00E+00 0.00E+00 "}));
  EXPECT_EQ(rows(DataSet::ingestion, kCaesiumHeader, *table, {}, 1),
            (std::vector<std::string>{"Cs-137   0.1000 0.0E+00 0.00E+00 0.00E+00 "}));
}

TEST(CoefficientRows, NumbersAreNarrowedTo32BitsFirst) {
  auto table = std::make_unique<CoefficientTable>();
  table->coef[0][0][0] = 1.125000000001;  // 1.125 in 32 bits: a tie, to even
  table->coef[1][0][0] = 1.12500001;      // likewise, though above the tie as a double
  table->coef[0][1][0] = 1E39;            // beyond the 32-bit range: infinite
  table->coef[1][1][0] = -1E39;
  table->coef[0][2][0] = 1E-46;                     // below half the smallest 32-bit value: zero
  table->coef[1][2][0] = 1E-45;                     // the smallest 32-bit value, 1.4E-45
  const std::vector<double> times = {365.0000001};  // 365 in 32 bits: a tie
  EXPECT_EQ(rows(DataSet::inhalation, kIodineHeader, *table, times, 3)[0],
            "I-131  F  3.6E+02 1.12E+00 1.12E+00  1.00E+999-1.00E+999  0.00E+00 1.40E-45 ");
  // The largest 32-bit value, and a double just below the point where narrowing overflows.
  table->coef[0][0][0] = std::numeric_limits<float>::max();
  table->coef[1][0][0] = 0x1.fffffefffffffp127;
  EXPECT_EQ(rows(DataSet::inhalation, kIodineHeader, *table, times, 1)[0],
            "I-131  F  3.6E+02 3.40E+38 3.40E+38 ");
}

TEST(CoefficientRows, RefusesTablesItCannotHold) {
  const auto table = example_table();
  const std::vector<double> too_many(kMaxIntegrationTimes + 1, 1.0);
  EXPECT_THROW(rows(DataSet::inhalation, kIodineHeader, *table, too_many, 1),
               std::invalid_argument);
  EXPECT_THROW(rows(DataSet::inhalation, kIodineHeader, *table, kExampleTimes, 36),
               std::invalid_argument);
}

// The files on disk.

void write_example(CoefficientFiles& files, std::span<const int> groups) {
  files.write_coefficient_headers(DataSet::inhalation, groups, kExampleRegions);
  const auto table = example_table();
  for (int k = 0; k < files.size(); ++k) {
    files.write_block(
        k, coefficient_block(DataSet::inhalation, kIodineHeader, *table, kExampleTimes, 2));
  }
}

TEST(CoefficientFiles, ExampleFileByteForByte) {
  const WorkingDir dir;  // without an OUTPUT folder: it is made
  const int groups[] = {6};
  OutputFiles output(dir.path());
  CoefficientFiles files = open_coefficient_files(output, DataSet::inhalation, groups);
  ASSERT_EQ(files.size(), 1);
  EXPECT_EQ(files.name(0), "OUTPUT\\DC7300h.OUT");
  EXPECT_EQ(files.written_files_line(), "Files written: OUTPUT\\DC7300h.OUT ");
  write_example(files, groups);
  output.commit();
  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC7300h.OUT"), read_file(kData / "DC7300h.OUT"));
  EXPECT_FALSE(fs::exists(dir / "OUTPUT" / "DC7300h.OUT.partial"));
}

TEST(CoefficientFiles, SelectedAgeOrder) {
  const WorkingDir dir;
  const int groups[] = {6, 1};
  OutputFiles output(dir.path());
  CoefficientFiles files = open_coefficient_files(output, DataSet::ingestion, groups);
  ASSERT_EQ(files.size(), 2);
  EXPECT_EQ(files.name(0), "OUTPUT\\DC7300g.OUT");
  EXPECT_EQ(files.name(1), "OUTPUT\\DC100g.OUT");
  EXPECT_EQ(files.written_files_line(), "Files written: OUTPUT\\DC7300g.OUT OUTPUT\\DC100g.OUT ");
  files.write_coefficient_headers(DataSet::ingestion, groups, kExampleRegions);
  const auto table = example_table();
  files.write_block(1, coefficient_block(DataSet::ingestion, kCaesiumHeader, *table, {}, 2));
  output.commit();
  const auto adult = coefficient_headers(DataSet::ingestion, 6, kExampleRegions);
  auto infant = coefficient_headers(DataSet::ingestion, 1, kExampleRegions);
  infant.push_back("Cs-137   0.1000 0.0E+00 0.00E+00 0.00E+00  0.00E+00 0.00E+00 ");
  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC7300g.OUT"), crlf(adult));
  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC100g.OUT"), crlf(infant));
}

// However a run ends, an earlier file is either kept byte for byte or replaced by the whole
// new one; the rows written stay in the partial file unless the run is put in place or
// discarded.
struct RunEnd {
  const char* name;
  void (*end)(OutputFiles&);
  bool replaced;
  bool partial_left;
};

class CoefficientFilesEnd : public ::testing::TestWithParam<RunEnd> {};

TEST_P(CoefficientFilesEnd, EarlierFilesAreKeptOrWhollyReplaced) {
  const WorkingDir dir;
  fs::create_directory(dir / "output");
  const std::string earlier = std::string(100000, 'x') + "\r\n";
  write_file(dir / "output" / "dc7300h.out", earlier);  // found whatever the case
  const fs::path final_path = dir / "output" / "dc7300h.out";
  const fs::path partial_path = dir / "output" / "dc7300h.out.partial";
  write_file(partial_path, "left by a stopped run\r\n");
  const int groups[] = {6};
  const std::string golden = read_file(kData / "DC7300h.OUT");
  {
    OutputFiles output(dir.path());
    CoefficientFiles files = open_coefficient_files(output, DataSet::inhalation, groups);
    write_example(files, groups);
    // The earlier file is held and untouched while the run writes.
    EXPECT_EQ(read_file(final_path), earlier);
    const UniqueFd other(::open(final_path.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(other);
    EXPECT_NE(::flock(other.get(), LOCK_EX | LOCK_NB), 0);
    GetParam().end(output);
  }
  EXPECT_EQ(read_file(final_path), GetParam().replaced ? golden : earlier);
  EXPECT_EQ(fs::exists(partial_path), GetParam().partial_left);
  if (GetParam().partial_left) {
    EXPECT_EQ(read_file(partial_path), golden);
  }
  EXPECT_FALSE(fs::exists(dir / "OUTPUT"));
  const UniqueFd other(::open(final_path.c_str(), O_RDONLY | O_CLOEXEC));
  EXPECT_EQ(::flock(other.get(), LOCK_EX | LOCK_NB), 0);  // released
}

INSTANTIATE_TEST_SUITE_P(
    Ends, CoefficientFilesEnd,
    ::testing::Values(RunEnd{"commit", [](OutputFiles& o) { o.commit(); }, true, false},
                      RunEnd{"commit_without_flush", [](OutputFiles& o) { o.commit(false); }, true,
                             false},
                      RunEnd{"abandon", [](OutputFiles& o) { o.abandon(); }, false, true},
                      RunEnd{"discard", [](OutputFiles& o) { o.discard(); }, false, false},
                      RunEnd{"destroyed", [](OutputFiles&) {}, false, true}),
    [](const ::testing::TestParamInfo<RunEnd>& end) { return std::string(end.param.name); });

// Rows are gathered and written in larger pieces, but none waits in memory for long: a run
// stopped by a signal, which writes nothing more, leaves all but its latest rows behind.
TEST(CoefficientFiles, GatheredRowsWaitAtMostATenthOfASecond) {
  const WorkingDir dir;
  OutputFiles output(dir.path());
  const int index = output.add("OUTPUT\\DC7300h.OUT");
  const fs::path partial = dir / "OUTPUT" / "DC7300h.OUT.partial";
  output.write(index, "first\r\n");  // the first write goes out at once
  output.write(index, "second\r\n");
  EXPECT_EQ(read_file(partial), "first\r\n");  // gathered
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  output.write(index, "third\r\n");
  EXPECT_EQ(read_file(partial), "first\r\nsecond\r\nthird\r\n");
  output.abandon();
}

// Large files are flushed on a thread of their own while they are written; whether the run is
// put in place or abandoned, every line written is there, once, in order.
TEST(CoefficientFiles, LargeFilesAreWrittenWholeWhileFlushedAlongTheWay) {
  for (const bool completes : {true, false}) {
    const WorkingDir dir;
    std::string expected;
    {
      OutputFiles output(dir.path());
      const int index = output.add("OUTPUT\\DC7300h.OUT");
      // 320 blocks of 64 KiB, each numbered in its first line: flushed several times.
      const std::string filler = std::string(62, '.') + "\r\n";
      std::string block;
      for (int record = 0; record < 320; ++record) {
        const std::string number = std::to_string(record);
        block = number + std::string(62 - number.size(), ' ') + "\r\n";
        for (int line = 1; line < 1024; ++line) block += filler;
        output.write(index, block);
        expected += block;
      }
      if (completes) output.commit();
    }
    const fs::path path = dir / "OUTPUT" / (completes ? "DC7300h.OUT" : "DC7300h.OUT.partial");
    EXPECT_TRUE(read_file(path) == expected) << (completes ? "committed" : "abandoned");
  }
}

TEST(CoefficientFiles, RefusesRepeatedOrUnknownAgeGroups) {
  const WorkingDir dir;
  OutputFiles output(dir.path());
  const int repeated[] = {2, 2};
  const int unknown[] = {7};
  EXPECT_THROW(open_coefficient_files(output, DataSet::inhalation, repeated),
               std::invalid_argument);
  EXPECT_THROW(open_coefficient_files(output, DataSet::inhalation, unknown), std::invalid_argument);
}

// Two runs never write into one OUTPUT folder at once; the lock goes with the process that
// holds it, even one killed outright.
TEST(OutputFolderLock, ASecondRunIsRefusedUntilTheFirstEnds) {
  const WorkingDir dir;
  {
    OutputFiles first(dir.path());
    try {
      OutputFiles second(dir.path());
      ADD_FAILURE() << "a second run took the folder";
    } catch (const OutputError& e) {
      EXPECT_STREQ(e.what(),
                   "Unable to write into the folder OUTPUT: another run is writing there");
    }
  }
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    OutputFiles held(dir.path());
    ::raise(SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_NO_THROW(OutputFiles again(dir.path()));
}

// Failures: the message names the file and the reason, no file of an earlier run has been
// changed, and a run discarded before processing leaves no partial file.

std::string open_failure(const fs::path& dir, DataSet data_set, std::span<const int> groups) {
  try {
    OutputFiles output(dir);
    try {
      open_coefficient_files(output, data_set, groups);
    } catch (...) {
      output.discard();
      throw;
    }
  } catch (const OutputError& e) {
    return e.what();
  }
  ADD_FAILURE() << "the files were opened";
  return {};
}

TEST(CoefficientFileFailures, FileHeldByAnotherProgram) {
  const WorkingDir dir;
  fs::create_directory(dir / "OUTPUT");
  const std::string earlier = "an earlier run\r\n";
  write_file(dir / "OUTPUT" / "DC365h.OUT", earlier);
  write_file(dir / "OUTPUT" / "DC7300h.OUT", earlier);
  const UniqueFd holder(::open((dir / "OUTPUT" / "DC7300h.OUT").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(holder);
  ASSERT_EQ(::flock(holder.get(), LOCK_EX | LOCK_NB), 0);

  const int groups[] = {2, 1, 6, 4};
  EXPECT_EQ(open_failure(dir.path(), DataSet::inhalation, groups),
            "Unable to create the file OUTPUT\\DC7300h.OUT: held by another program");
  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC365h.OUT"), earlier);
  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC7300h.OUT"), earlier);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir / "OUTPUT")) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"DC365h.OUT", "DC7300h.OUT", "kestrane.lock"}));
}

TEST(CoefficientFileFailures, ReadOnlyFolder) {
  const WorkingDir dir;
  fs::create_directory(dir / "OUTPUT");
  const std::string earlier = "an earlier run\r\n";
  write_file(dir / "OUTPUT" / "DC365h.OUT", earlier);
  fs::permissions(dir / "OUTPUT", fs::perms::owner_read | fs::perms::owner_exec);
  if (::access((dir / "OUTPUT").c_str(), W_OK) == 0) {
    GTEST_SKIP() << "this user may write into a read-only folder (root), so no failure to see";
  }
  const int groups[] = {2, 6};
  EXPECT_EQ(open_failure(dir.path(), DataSet::inhalation, groups),
            "Unable to create the file OUTPUT\\kestrane.lock: Permission denied");
  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC365h.OUT"), earlier);
}

TEST(CoefficientFileFailures, NameTakenByAnotherKindOfFile) {
  struct Case {
    const char* what;
    std::string name;
    std::string message;
  };
  const std::vector<Case> cases{
      {"a file where the folder should be", "OUTPUT",
       "OUTPUT is a file, not a folder"},
      {"a folder where the file should be", "OUTPUT/DC100g.OUT",
       "Unable to create the file OUTPUT\\DC100g.OUT: Is a directory"},
      {"a folder where the partial file should be", "OUTPUT/DC100g.OUT.partial",
       "Unable to create the file OUTPUT\\DC100g.OUT.partial: it is not a regular file"},
      {"a FIFO where the file should be", "OUTPUT/DC100g.OUT",
       "OUTPUT\\DC100g.OUT is a FIFO, not a regular file"},
      {"a link where the file should be", "OUTPUT/DC100g.OUT",
       "OUTPUT\\DC100g.OUT is a symbolic link, not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const WorkingDir dir;
    if (c.name == "OUTPUT") {
      write_file(dir / c.name, "not a folder\r\n");
    } else if (std::string_view(c.what).starts_with("a FIFO")) {
      write_file(dir / "OUTPUT" / "DC7300g.OUT", "an earlier run\r\n");
      ASSERT_EQ(::mkfifo((dir / c.name).c_str(), 0666), 0);
    } else if (std::string_view(c.what).starts_with("a link")) {
      write_file(dir / "OUTPUT" / "DC7300g.OUT", "an earlier run\r\n");
      fs::create_symlink(dir / "OUTPUT" / "DC7300g.OUT", dir / c.name);
    } else {
      fs::create_directories(dir / c.name);
      write_file(dir / "OUTPUT" / "DC7300g.OUT", "an earlier run\r\n");
    }
    const int groups[] = {6, 1};
    EXPECT_EQ(open_failure(dir.path(), DataSet::ingestion, groups), c.message);
    if (c.name != "OUTPUT") {
      EXPECT_EQ(read_file(dir / "OUTPUT" / "DC7300g.OUT"), "an earlier run\r\n");
      EXPECT_FALSE(fs::exists(dir / "OUTPUT" / "DC7300g.OUT.partial"));
    }
  }
}

// A write beyond the file-size limit fails like a full disk. The partial file keeps its whole
// lines only (the part of the line that did get written is taken back), and the earlier file
// is untouched.
TEST(CoefficientFileFailures, FailedWrite) {
  const WorkingDir dir;
  const std::string earlier = "an earlier run\r\n";
  write_file(dir / "OUTPUT" / "DC7300h.OUT", earlier);
  const int groups[] = {6};
  OutputFiles output(dir.path());
  CoefficientFiles files = open_coefficient_files(output, DataSet::inhalation, groups);
  files.write_coefficient_headers(DataSet::inhalation, groups, kExampleRegions);

  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 200;  // the heading (147 bytes) and part of the first row
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string message;
  try {
    files.write_block(0, coefficient_block(DataSet::inhalation, kIodineHeader, *example_table(),
                                           kExampleTimes, 2));
    output.commit();  // the rows gathered are written here at the latest
  } catch (const OutputError& e) {
    message = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_EQ(message, "Unable to write the file OUTPUT\\DC7300h.OUT.partial: File too large");
  output.abandon();
  const std::string golden = read_file(kData / "DC7300h.OUT");
  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC7300h.OUT.partial"), golden.substr(0, 147));
  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC7300h.OUT"), earlier);
}

}  // namespace
}  // namespace kestrane
