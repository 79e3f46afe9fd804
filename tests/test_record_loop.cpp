// Tests of the record loop: age matching, the table codes, the one-point rule, the end of the
// file and every stop, on dose-rate files held in memory.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dose/record_loop.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

constexpr const char* kFile = "DATA\\KVR13INH.DRT";

// Header lines laid out by column: inhalation 1-7 name, 9-13 age, 19 class, 29-31 N, 33 P,
// 35 code; ingestion 1-7 name, 9-13 age, 14-20 f1, 22-24 N, 26 P, 28 code.
std::string inhalation_header(const char* nuclide, int age, int n, int p, const char* code) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%-7s %5d 1.00F 5.0E+00 %3d %d %s", nuclide, age, n, p, code);
  return buf;
}

std::string ingestion_header(const char* nuclide, int age, int n, int p, const char* code) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%-7s %5d3.0E-01 %3d %d %s", nuclide, age, n, p, code);
  return buf;
}

// A data line: the time, then region columns 1, 2, ... with the given rates (the rest 0).
std::string data_line(double t, std::vector<double> rates) {
  return test_support::data_line(t, std::move(rates), 3, 29);
}

std::string file_of(const std::vector<std::string>& lines, const std::string& tail = "") {
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  return text + tail;
}

// One processed record as the sink saw it.
struct Seen {
  int position;
  std::string header;
  std::int64_t line_number;
  std::vector<double> low, high;  // [j * M + m]
  std::vector<double> low_outside, high_outside;
  double first_time, last_time;
  std::array<bool, 2> integrated;
};

class CollectingSink : public RecordSink {
 public:
  CollectingSink(int regions, int times) : regions_(regions), times_(times) {}
  void record_done(int position, const HeaderRecord& header,
                   const CoefficientTable& coef) override {
    Seen s{position,        header.line,    header.line_number, {}, {}, {}, {},
           coef.first_time, coef.last_time, coef.integrated};
    for (int j = 0; j < regions_; ++j) {
      for (int m = 0; m < times_; ++m) {
        s.low.push_back(coef.coef[0][j][m]);
        s.high.push_back(coef.coef[1][j][m]);
        s.low_outside.push_back(coef.outside[0][j][m]);
        s.high_outside.push_back(coef.outside[1][j][m]);
      }
    }
    seen.push_back(std::move(s));
  }
  std::vector<Seen> seen;

 private:
  int regions_, times_;
};

class CountingProgress : public ProgressObserver {
 public:
  void record_processed(const HeaderRecord& header, std::uint64_t done,
                        std::uint64_t total) override {
    headers.push_back(header.line);
    EXPECT_LE(done, total);
  }
  std::vector<std::string> headers;
};

RunSetup setup_of(std::vector<int> ages, std::vector<int> regions, std::vector<double> times,
                  DataSet ds = DataSet::inhalation) {
  RunSetup s;
  s.data_set = ds;
  s.age_groups = std::move(ages);
  s.regions = std::move(regions);
  s.times = std::move(times);
  return s;
}

std::vector<Seen> run(const std::string& bytes, const RunSetup& setup,
                      CountingProgress* progress = nullptr) {
  // Small blocks, so that lines are split between blocks too.
  LineReader reader = LineReader::from_bytes(bytes, kFile, 64);
  CollectingSink sink(static_cast<int>(setup.regions.size()), static_cast<int>(setup.times.size()));
  process_records(reader, setup, sink, progress);
  return sink.seen;
}

void expect_near_all(const std::vector<double>& actual, const std::vector<double>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i) {
    EXPECT_NEAR(actual[i], expected[i], 1e-12 * std::abs(expected[i])) << "cell " << i;
  }
}

const std::vector<double> kZeros8(8, 0.0);

// Rates on a straight line 2 + t/2 in region 1 and the constant 3 in region 2, at times
// 1, 2, 4, 8. The monotone interpolant of such data is the line itself, extended on both
// sides, so the integral from 0 to T is 2T + T^2/4 (and 3T).
const std::vector<double> kTimes = {0.0, 1.0, 10.0, 3.0};
const std::vector<double> kLineIntegrals = {0.0, 2.25, 45.0, 8.25, 0.0, 3.0, 30.0, 9.0};
std::vector<std::string> line_block() {
  std::vector<std::string> lines;
  for (double t : {1.0, 2.0, 4.0, 8.0}) lines.push_back(data_line(t, {2 + t / 2, 3}));
  return lines;
}

TEST(MatchAge, TheAdultGroupTakesEveryAgeAboveThreshold) {
  const std::vector<int> one_year_and_adult = {2, 6};
  EXPECT_EQ(match_age(365, one_year_and_adult), 1);
  EXPECT_EQ(match_age(7300, one_year_and_adult), 2);
  EXPECT_EQ(match_age(9125, one_year_and_adult), 2);
  EXPECT_EQ(match_age(7299, one_year_and_adult), 0);
  EXPECT_EQ(match_age(5475, one_year_and_adult), 0);
  EXPECT_EQ(match_age(366, one_year_and_adult), 0);
  EXPECT_EQ(match_age(0, one_year_and_adult), 0);
  // 7299 matches no group, whatever is selected.
  EXPECT_EQ(match_age(7299, std::vector<int>{1, 2, 3, 4, 5, 6}), 0);
  EXPECT_EQ(match_age(100, std::vector<int>{}), 0);
}

TEST(MatchAge, FirstMatchingPositionWins) {
  EXPECT_EQ(match_age(9125, std::vector<int>{1, 6, 6}), 2);
  EXPECT_EQ(match_age(1825, std::vector<int>{3, 3}), 1);
  EXPECT_EQ(match_age(100, std::vector<int>{6, 4, 1}), 3);
  // Numbers that are no age group are passed over.
  EXPECT_EQ(match_age(100, std::vector<int>{0, 7, 1}), 3);
}

TEST(RecordLoop, RecordsGoToTheFileOfTheirAgeAndOthersArePassedOver) {
  std::vector<std::string> lines;
  for (int age : {365, 5475, 7300, 7299, 9125}) {
    lines.push_back(inhalation_header("Sr-90", age, 4, 1, "L"));
    for (auto& l : line_block()) lines.push_back(l);
  }
  CountingProgress progress;
  const auto seen = run(file_of(lines), setup_of({2, 6}, {1, 2}, kTimes), &progress);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].position, 0);
  EXPECT_EQ(seen[1].position, 1);
  EXPECT_EQ(seen[2].position, 1);
  EXPECT_EQ(seen[0].line_number, 1);
  EXPECT_EQ(seen[1].line_number, 11);
  EXPECT_EQ(seen[2].line_number, 21);
  EXPECT_EQ(seen[2].header, lines[20]);
  // The progress is told of processed records only.
  EXPECT_EQ(progress.headers, (std::vector<std::string>{lines[0], lines[10], lines[20]}));
}

TEST(RecordLoop, LowTableOnlyForL) {
  std::vector<std::string> lines = {inhalation_header("H-3", 365, 4, 1, "L")};
  for (auto& l : line_block()) lines.push_back(l);
  const auto seen = run(file_of(lines), setup_of({2}, {1, 2}, kTimes));
  ASSERT_EQ(seen.size(), 1u);
  expect_near_all(seen[0].low, kLineIntegrals);
  EXPECT_EQ(seen[0].high, kZeros8);
}

TEST(RecordLoop, HighTableOnlyForHWrittenInLowerCase) {
  std::vector<std::string> lines = {inhalation_header("H-3", 365, 4, 1, "h")};
  for (auto& l : line_block()) lines.push_back(l);
  const auto seen = run(file_of(lines), setup_of({2}, {1, 2}, kTimes));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].low, kZeros8);
  expect_near_all(seen[0].high, kLineIntegrals);
}

TEST(RecordLoop, BothTablesForBAndNothingStaleAfterwards) {
  // A B record at times 0, 1, 2, 3 (low: the line 2 + t/2 and the constant 3; high: 4, 2, 0, 0
  // in both regions), then an L record and a one-point L record, which must not see the high
  // rates or coefficients of the B record.
  std::vector<std::string> lines = {inhalation_header("Cs-137", 7300, 4, 2, "B")};
  const double high[] = {4, 2, 0, 0};
  for (int i = 0; i < 4; ++i) {
    lines.push_back(data_line(i, {2 + i / 2.0, 3}));
    lines.push_back(data_line(i, {high[i], high[i]}));
  }
  lines.push_back(inhalation_header("Cs-137", 7300, 4, 1, "L"));
  for (auto& l : line_block()) lines.push_back(l);
  lines.push_back(inhalation_header("Cs-137", 7300, 1, 1, "L"));
  lines.push_back(data_line(5, {7, 8}));

  const std::vector<double> times = {0.5, 1.5, 3.0, 10.0};
  const auto seen = run(file_of(lines), setup_of({6}, {1, 2}, times));
  ASSERT_EQ(seen.size(), 3u);
  expect_near_all(seen[0].low, {1.0625, 3.5625, 8.25, 45.0, 1.5, 4.5, 9.0, 30.0});
  // High: 0..0.5 on the straight first piece 4 - 2t gives 1.75; 0..1.5 gives 3 + 67/96 (the
  // cubic 2u^3 - 2u^2 - 2u + 2 on [1, 2], u = t - 1); 0..3 and 0..10 give 23/6, the last
  // piece being zero.
  const std::vector<double> h = {1.75, 3 + 67.0 / 96, 23.0 / 6, 23.0 / 6};
  expect_near_all(seen[0].high, {h[0], h[1], h[2], h[3], h[0], h[1], h[2], h[3]});

  EXPECT_EQ(seen[1].high, kZeros8);
  EXPECT_EQ(seen[2].low, (std::vector<double>{7, 7, 7, 7, 8, 8, 8, 8}));
  EXPECT_EQ(seen[2].high, kZeros8);
}

TEST(RecordLoop, OnePointRecordsCarryTheirValuesWhateverTheCode) {
  const std::vector<double> times = {1, 30, 365, 1825, 18250, 0};
  struct Case {
    const char* code;
    int p;
    bool low, high;
  };
  // With one line per time point the rates go to the low table for "L", trailing blanks
  // aside, and to the high table otherwise.
  for (const Case& c :
       {Case{"L", 1, true, false}, Case{"H", 1, false, true}, Case{"B", 2, true, true},
        Case{"L ", 1, true, false}, Case{"H ", 1, false, true}}) {
    SCOPED_TRACE(std::string("code \"") + c.code + "\"");
    std::vector<std::string> lines = {inhalation_header("Pu-239", 365, 1, c.p, c.code),
                                      data_line(1, {1.25e-9, 0, 0, 0, 0, 0, 0, 0, 0, 4.5e-12})};
    if (c.p == 2) lines.push_back(data_line(1, {2.5e-9, 0, 0, 0, 0, 0, 0, 0, 0, 9e-12}));
    const auto seen = run(file_of(lines), setup_of({2}, {10, 1}, times));
    ASSERT_EQ(seen.size(), 1u);
    std::vector<double> low, high;
    for (double v : {4.5e-12, 1.25e-9}) low.insert(low.end(), 6, c.low ? v : 0.0);
    for (double v : {c.p == 2 ? 9e-12 : 4.5e-12, c.p == 2 ? 2.5e-9 : 1.25e-9}) {
      high.insert(high.end(), 6, c.high ? v : 0.0);
    }
    EXPECT_EQ(seen[0].low, low);
    EXPECT_EQ(seen[0].high, high);
  }
}

TEST(RecordLoop, IngestionLayoutAndManyIntegrationTimes) {
  std::vector<std::string> lines = {ingestion_header("I-131", 100, 4, 1, "L")};
  for (auto& l : line_block()) lines.push_back(l);
  std::vector<double> times;
  std::vector<double> low;
  for (int m = 0; m < 100; ++m) times.push_back(m * 0.25);
  for (double c : {0.0, 1.0}) {
    for (double t : times) low.push_back(c == 0 ? 2 * t + t * t / 4 : 3 * t);
  }
  auto setup = setup_of({1}, {1, 2}, times, DataSet::ingestion);
  const auto seen = run(file_of(lines), setup);
  ASSERT_EQ(seen.size(), 1u);
  expect_near_all(seen[0].low, low);
}

TEST(RecordLoop, BlankLinesWhereAHeaderIsExpectedArePassedOver) {
  std::vector<std::string> lines = {"", inhalation_header("H-3", 365, 4, 1, "L")};
  for (auto& l : line_block()) lines.push_back(l);
  lines.push_back("   \t ");
  lines.push_back(inhalation_header("H-3", 365, 4, 1, "L"));
  for (auto& l : line_block()) lines.push_back(l);
  const auto setup = setup_of({2}, {1, 2}, kTimes);
  EXPECT_EQ(run(file_of(lines, "\r\n"), setup).size(), 2u);  // blank line after the last
  EXPECT_EQ(run(file_of(lines, "  "), setup).size(), 2u);    // blanks without a line end
  std::string no_end = file_of(lines);
  no_end.resize(no_end.size() - 2);
  EXPECT_EQ(run(no_end, setup).size(), 2u);  // last line without its line end
}

TEST(RecordLoop, FileWithoutRecordsWritesNothing) {
  const auto setup = setup_of({1, 2, 3, 4, 5, 6}, {1}, kTimes);
  EXPECT_TRUE(run("", setup).empty());
  EXPECT_TRUE(run("\r\n", setup).empty());
  EXPECT_TRUE(run("\x1a more bytes after the end-of-file mark\r\n", setup).empty());
}

TEST(RecordLoop, UnmatchedRecordsAreNotIntegrated) {
  // Equal times and a single time point would stop the run if the record were processed.
  std::vector<std::string> lines = {inhalation_header("S-35", 5475, 3, 1, "L"),
                                    data_line(1, {1}),
                                    data_line(1, {2}),
                                    data_line(2, {3}),
                                    inhalation_header("S-35", 5475, 0, 1, "H"),
                                    inhalation_header("S-35", 365, 3, 1, "L"),
                                    data_line(1, {1}),
                                    data_line(2, {2}),
                                    data_line(3, {3})};
  const auto seen = run(file_of(lines), setup_of({2}, {1}, kTimes));
  ASSERT_EQ(seen.size(), 1u);  // the last one
  EXPECT_EQ(seen[0].line_number, 6);
}

// Every stop names the file, the line and the header line of the record, and comes after the
// rows of the records before it were handed on.
struct StopCase {
  const char* what;
  std::vector<std::string> bad_record;
  const char* reason;
  int line = 8;  // the line refused: the bad record's header line, or one of its data lines
};

class RecordLoopStops : public ::testing::TestWithParam<StopCase> {};

TEST_P(RecordLoopStops, KeepsEarlierRowsAndNamesTheRecord) {
  const StopCase& c = GetParam();
  std::vector<std::string> lines = {inhalation_header("Na-22", 365, 4, 1, "L")};
  for (auto& l : line_block()) lines.push_back(l);
  lines.push_back(inhalation_header("Na-22", 5475, 1, 1, "L"));  // passed over
  lines.push_back(data_line(1, {1}));
  for (const auto& l : c.bad_record) lines.push_back(l);
  lines.push_back(inhalation_header("Na-22", 365, 4, 1, "L"));  // never reached
  for (auto& l : line_block()) lines.push_back(l);

  LineReader reader = LineReader::from_bytes(file_of(lines), kFile, 64);
  CollectingSink sink(2, 4);
  try {
    process_records(reader, setup_of({2}, {1, 2}, kTimes), sink, nullptr);
    ADD_FAILURE() << "the run did not stop";
  } catch (const InputError& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.find(std::string(kFile) + ", line " + std::to_string(c.line) + ": "), 0u)
        << message;
    // The header line, with its own number where another line is refused.
    const std::string header = c.line == 8 ? "Header line: \"" : "Header line (line 8): \"";
    EXPECT_NE(message.find(header + c.bad_record[0] + "\""), std::string::npos) << message;
    EXPECT_NE(message.find(c.reason), std::string::npos) << message;
  }
  ASSERT_EQ(sink.seen.size(), 1u);
  expect_near_all(sink.seen[0].low, kLineIntegrals);
}

INSTANTIATE_TEST_SUITE_P(
    EachRefusal, RecordLoopStops,
    ::testing::Values(
        StopCase{"unknown_code",
                 {inhalation_header("K-40", 365, 1, 1, "X"), data_line(1, {})},
                 "not L, B or H"},
        StopCase{"lines_disagree_with_code",
                 {inhalation_header("K-40", 365, 1, 1, "B"), data_line(1, {}), data_line(1, {})},
                 "per time point"},
        StopCase{"too_many_time_points", {inhalation_header("K-40", 365, 151, 1, "L")}, "151"},
        StopCase{"cut_short_processed",
                 {inhalation_header("K-40", 365, 40, 1, "L"), data_line(1, {})},
                 "data lines of the record"},
        StopCase{"cut_short_passed_over",
                 {inhalation_header("K-40", 1825, 40, 2, "B"), data_line(1, {})},
                 "data lines of the record"},
        StopCase{
            "no_time_point", {inhalation_header("K-40", 365, 0, 1, "L")}, "0 time points, too few"},
        // Out-of-order times at the line of the time point (its low-table line in a pair),
        // naming the line of the one before.
        StopCase{"equal_times",
                 {inhalation_header("K-40", 365, 3, 2, "B"), data_line(1, {1}), data_line(1, {1}),
                  data_line(2, {1}), data_line(2, {1}), data_line(2, {1}), data_line(2, {1})},
                 "the time of time point 3 is not later than the one before it (line 11), so the "
                 "rates cannot be integrated.",
                 13},
        StopCase{"repeated_first_time",
                 {inhalation_header("K-40", 365, 2, 1, "L"), data_line(4, {1}), data_line(4, {2})},
                 "the time of time point 2 is not later than the one before it (line 9), so the "
                 "rates cannot be integrated.",
                 10},
        StopCase{"coefficient_not_finite",
                 {inhalation_header("K-40", 365, 2, 1, "L"), data_line(1, {1e308}),
                  data_line(2, {1e308})},
                 "selected region 1 for the integration time 1 days is not a finite number"},
        StopCase{"decreasing_times",
                 {inhalation_header("K-40", 365, 3, 1, "H"), data_line(1, {1}), data_line(3, {2}),
                  data_line(2, {3})},
                 "the time of time point 3 is not later than the one before it (line 10), so the "
                 "rates cannot be integrated.",
                 11}),
    [](const auto& test) { return std::string(test.param.what); });

// A record whose data block has been read: region 1 of each table holds the rates 1, 2, 4, 8
// at the times 0, 1, 2, 3 (low) or twice those (high).
struct ReadRecord {
  HeaderRecord header;
  std::unique_ptr<RateTable> rates = std::make_unique<RateTable>();
  explicit ReadRecord(const std::string& code, std::vector<double> x = {0, 1, 2, 3},
                      std::vector<double> f = {1, 2, 4, 8}) {
    header = decode_header(inhalation_header("Ba-133", 365, static_cast<int>(x.size()),
                                             code.starts_with('B') ? 2 : 1, code.c_str()),
                           DataSet::inhalation, 8);
    for (std::size_t i = 0; i < x.size(); ++i) {
      rates->x[i] = x[i];
      rates->value[0][0][i] = f[i];
      rates->value[1][0][i] = 2 * f[i];
    }
  }
};

class TrailingBlanks : public ::testing::TestWithParam<const char*> {};

TEST_P(TrailingBlanks, AreIgnoredInTheChoiceOfTheTablesToIntegrate) {
  const std::string code = GetParam();
  const ReadRecord record(code);
  const std::vector<double> times = {3};
  CoefficientTable coef;
  compute_coefficients(record.header, *record.rates, times, 1, kFile, coef);
  // Slopes 1/2, 4/3, 8/3, 5 (by hand); the whole intervals give 3/2 - 5/72, 3 - 8/72 and
  // 6 - 14/72, together 81/8 (twice that for the high table).
  const bool low = code[0] != 'H';
  const bool high = code[0] != 'L';
  EXPECT_EQ(coef.integrated, (std::array<bool, 2>{low, high}));
  EXPECT_NEAR(coef.coef[0][0][0], low ? 10.125 : 0.0, 1e-13);
  EXPECT_NEAR(coef.coef[1][0][0], high ? 20.25 : 0.0, 1e-13);
}

INSTANTIATE_TEST_SUITE_P(EachLetter, TrailingBlanks,
                         ::testing::Values("L ", "H  ", "B ", "L\t", "B \t"));

// Coefficients that are not finite numbers, or too large for the single-precision numbers of
// the coefficient file, are refused, naming the file, the line, the header line, the region
// and the integration time. One time point gives the coefficients its rates, to the bit.
struct NotFiniteCase {
  const char* what;
  std::vector<double> f;
  double time;
  const char* time_text;
  const char* says = "not a finite number";
  std::vector<double> x = {1, 2, 4, 8};
};

class NotFinite : public ::testing::TestWithParam<NotFiniteCase> {};

TEST_P(NotFinite, CoefficientsAreRefused) {
  const NotFiniteCase& c = GetParam();
  const ReadRecord record("L", c.x, c.f);
  const std::vector<double> times = {c.time};
  const std::vector<std::string> names = {"Liver"};
  CoefficientTable coef;
  HermiteRows work;
  try {
    compute_coefficients(record.header, *record.rates, times, 1, kFile, coef, work, names);
    ADD_FAILURE() << "the coefficient was not refused";
  } catch (const InputError& e) {
    const std::string message = e.what();
    for (const std::string& part :
         {std::string(kFile) + ", line 8", record.header.line, std::string("low-table"),
          std::string("selected region 1 (Liver)"), std::string(c.time_text) + " days",
          std::string(c.says)}) {
      EXPECT_NE(message.find(part), std::string::npos) << part << " in " << message;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    EachCause, NotFinite,
    ::testing::Values(
        NotFiniteCase{"rates_near_the_double_range", {1e308, 1e308, 1e308, 1e308}, 30, "30"},
        NotFiniteCase{"time_far_beyond_the_record", {1, 2, 3, 5}, 1e300, "1e+300"},
        NotFiniteCase{"rate_not_a_number", {1, NAN, 3, 5}, 2.5, "2.5"},
        NotFiniteCase{"beyond_single_precision",
                      {1e36, 1e36, 1e36, 1e36},
                      1000,
                      "1000",
                      "is 1.0000000000000001e+39, too large for the single-precision numbers"},
        NotFiniteCase{"rounds_to_single_precision_infinity",
                      {0x1.ffffffp127},
                      1,
                      "1",
                      "is 3.4028235677973366e+38, too large",
                      {1}},
        NotFiniteCase{"negative_beyond_single_precision",
                      {-0x1.ffffffp127},
                      1,
                      "1",
                      "is -3.4028235677973366e+38, too large",
                      {1}}),
    [](const auto& test) { return std::string(test.param.what); });

// Just below the point where single precision rounds to infinity a coefficient is written: it
// prints as the largest single-precision number. (The high table holds twice the low.)
TEST(NotFinite, LargestPrintableCoefficientIsKept) {
  const double largest = std::nextafter(0x1.ffffffp127, 0.0);
  const ReadRecord record("L", {1}, {-largest / 2});
  const std::vector<double> times = {1};
  CoefficientTable coef;
  compute_coefficients(record.header, *record.rates, times, 1, kFile, coef);
  EXPECT_EQ(coef.coef[1][0][0], -largest);
}

// The part of each coefficient that lies outside the tabulated times, on one thread and on
// three. Region 1 holds the line 2 + t/2, region 2 the constant 3 and region 3 the line
// 4 - t/2, whose interpolants are the lines themselves, continued on both sides.
class OutsideShare : public ::testing::TestWithParam<int> {};

TEST_P(OutsideShare, IsTheIntegralOfTheContinuedEndPieces) {
  std::vector<std::string> lines = {inhalation_header("Tc-99m", 365, 4, 1, "L")};
  for (double t : {0.0, 2.0, 4.0, 8.0}) lines.push_back(data_line(t, {2 + t / 2, 3, 4 - t / 2}));
  lines.push_back(inhalation_header("Tc-99m", 365, 4, 2, "B"));
  for (double t : {1.0, 2.0, 4.0, 8.0}) {
    lines.push_back(data_line(t, {2 + t / 2, 3, 4 - t / 2}));
    lines.push_back(data_line(t, {2 + t / 2, 3, 4 - t / 2}));
  }
  lines.push_back(inhalation_header("Tc-99m", 365, 1, 1, "L"));
  lines.push_back(data_line(5, {7, 8, 9}));
  RunSetup setup = setup_of({2}, {1, 2, 3}, {0.5, 3.0, 8.0, 10.0});
  setup.threads = GetParam();
  const auto seen = run(file_of(lines), setup);
  ASSERT_EQ(seen.size(), 3u);

  // From 0 on the table: nothing outside up to 8, the piece from 8 to 10 beyond it
  // (4 + 9, 6 and 8 - 9).
  const std::vector<double> from_zero = {0, 0, 0, 13, 0, 0, 0, 6, 0, 0, 0, -1};
  EXPECT_EQ(seen[0].low_outside[0], 0.0);
  expect_near_all(seen[0].low_outside, from_zero);
  EXPECT_EQ(seen[0].high_outside, std::vector<double>(12, 0.0));
  EXPECT_EQ(seen[0].integrated, (std::array<bool, 2>{true, false}));
  EXPECT_EQ(seen[0].first_time, 0.0);
  EXPECT_EQ(seen[0].last_time, 8.0);

  // From 1 on: 0 to 0.5 lies wholly before the table, so it is all outside; 0 to 1 adds
  // 2.25, 3 and 3.75 to every later time.
  const std::vector<double> from_one = {1.0625, 2.25, 2.25,   15.25, 1.5,  3,
                                        3,      9,    1.9375, 3.75,  3.75, 2.75};
  for (const auto* outside : {&seen[1].low_outside, &seen[1].high_outside}) {
    expect_near_all(*outside, from_one);
  }
  for (std::size_t j = 0; j < 3; ++j) EXPECT_EQ(seen[1].low_outside[4 * j], seen[1].low[4 * j]);
  EXPECT_EQ(seen[1].integrated, (std::array<bool, 2>{true, true}));
  EXPECT_EQ(seen[1].first_time, 1.0);

  // One time point: values copied, nothing integrated, nothing outside.
  EXPECT_EQ(seen[2].low_outside, std::vector<double>(12, 0.0));
  EXPECT_EQ(seen[2].integrated, (std::array<bool, 2>{false, false}));
  EXPECT_EQ(seen[2].last_time, 5.0);
}

INSTANTIATE_TEST_SUITE_P(OneAndThreeThreads, OutsideShare, ::testing::Values(1, 3));

TEST(RecordLoop, RefusesMoreRegionsOrTimesThanTheTablesHold) {
  const std::string bytes = file_of({inhalation_header("H-3", 365, 1, 1, "L"), data_line(1, {})});
  EXPECT_THROW(run(bytes, setup_of({2}, std::vector<int>(36, 1), kTimes)), std::invalid_argument);
  EXPECT_THROW(run(bytes, setup_of({2}, {1}, std::vector<double>(101, 1.0))),
               std::invalid_argument);
}

}  // namespace
}  // namespace kestrane
