// Tests of the record loop on worker threads: on generated dose-rate files of both data sets it
// must make the very calls of the loop on one thread, in the same order, write the same files
// byte for byte, and stop at the same record with the same message wherever a refusal lies.
// Also the pieces that let rows be formatted off the writing thread.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/selection.h"
#include "dose/record_loop.h"
#include "input/dose_rate_file.h"
#include "output/coefficient_files.h"
#include "run/file_run.h"
#include "run/run_request.h"
#include "sample/sample_data.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

using kestrane::test_support::read_file;

namespace fs = std::filesystem;

constexpr const char* kInhalationFile = "DATA\\KVR13INH.DRT";

std::string display_name(DataSet ds) { return "DATA\\" + std::string(data_set_file_name(ds)); }

// A generated dose-rate file held in memory, with the start of every record's header line.
struct SampleFile {
  DataSet data_set;
  std::string bytes;
  std::vector<std::string> names;
};

const SampleFile& sample_file(DataSet ds) {
  static const auto make = [](DataSet d, std::uint64_t seed) {
    std::ostringstream out;
    write_sample_dose_rate_file(out, d, 4'000'000, seed);
    SampleFile f{d, out.str(), {}};
    LineReader reader = LineReader::from_bytes(f.bytes, display_name(d));
    f.names = read_region_names(reader);
    return f;
  };
  static const SampleFile inhalation = make(DataSet::inhalation, 11);
  static const SampleFile ingestion = make(DataSet::ingestion, 12);
  return ds == DataSet::inhalation ? inhalation : ingestion;
}

// One call the loop made, with everything the sink or the observer could see.
struct Call {
  std::string kind;  // "progress" or "record"
  int position = 0;
  std::string header;
  std::int64_t line_number = 0;
  std::uint64_t bytes_done = 0, bytes_total = 0;
  std::vector<std::uint64_t> coef;  // bits of coef[t][j][m] for the selected cells
  std::string text;                 // the prepared text, or the one made on the spot

  bool operator==(const Call&) const = default;
};

// Records every call in order. With `prepares`, the rows are formatted in prepare() (on a
// worker thread when there are workers); without, only record_done() is there.
class RecordingSink : public RecordSink, public ProgressObserver {
 public:
  RecordingSink(const RunSetup& setup, bool prepares) : setup_(setup), prepares_(prepares) {}

  void record_processed(const HeaderRecord& header, std::uint64_t done,
                        std::uint64_t total) override {
    Call c;
    c.kind = "progress";
    c.header = header.line;
    c.line_number = header.line_number;
    c.bytes_done = done;
    c.bytes_total = total;
    calls.push_back(std::move(c));
  }

  void record_done(int position, const HeaderRecord& header,
                   const CoefficientTable& coef) override {
    add(position, header, coef, format(header, coef));
  }

  PreparedRecord prepare(int position, const HeaderRecord& header,
                         const CoefficientTable& coef) const override {
    if (!prepares_) return RecordSink::prepare(position, header, coef);
    PreparedRecord prepared;
    prepared.rows = format(header, coef);
    return prepared;
  }

  void record_prepared(int position, const HeaderRecord& header, const CoefficientTable& coef,
                       PreparedRecord& prepared) override {
    if (!prepares_) {
      EXPECT_EQ(prepared.rows, "");
      RecordSink::record_prepared(position, header, coef, prepared);
      return;
    }
    add(position, header, coef, prepared.rows);
  }

  std::vector<Call> calls;
  int records = 0;

 private:
  std::string format(const HeaderRecord& header, const CoefficientTable& coef) const {
    return coefficient_block(setup_.data_set, header.line, coef, setup_.times,
                             static_cast<int>(setup_.regions.size()));
  }

  void add(int position, const HeaderRecord& header, const CoefficientTable& coef,
           std::string text) {
    Call c;
    c.kind = "record";
    c.position = position;
    c.header = header.line;
    c.line_number = header.line_number;
    // The coefficients and their parts outside the table, the record's first and last time
    // and which tables were integrated.
    for (const auto* cells : {&coef.coef, &coef.outside}) {
      for (const auto& table : *cells) {
        for (std::size_t j = 0; j < setup_.regions.size(); ++j) {
          for (std::size_t m = 0; m < setup_.times.size(); ++m) {
            c.coef.push_back(std::bit_cast<std::uint64_t>(table[j][m]));
          }
        }
      }
    }
    for (const double v : {coef.first_time, coef.last_time}) {
      c.coef.push_back(std::bit_cast<std::uint64_t>(v));
    }
    c.coef.push_back(coef.integrated[0] + 2u * coef.integrated[1]);
    c.text = std::move(text);
    calls.push_back(std::move(c));
    ++records;
  }

  const RunSetup& setup_;
  bool prepares_;
};

// What a run did: every call, and the message it stopped with ("" when it ran to the end).
struct Outcome {
  std::vector<Call> calls;
  int records = 0;
  std::string stop;
};

Outcome run_loop(const std::string& bytes, RunSetup setup, int threads, bool prepares = true,
                 std::size_t block_size = 4096) {
  setup.threads = threads;
  LineReader reader = LineReader::from_bytes(bytes, display_name(setup.data_set), block_size);
  read_region_names(reader);
  RecordingSink sink(setup, prepares);
  Outcome outcome;
  try {
    process_records(reader, setup, sink, &sink);
  } catch (const InputError& e) {
    outcome.stop = e.what();
  }
  outcome.calls = std::move(sink.calls);
  outcome.records = sink.records;
  return outcome;
}

std::vector<int> range(int first, int last) {
  std::vector<int> v(static_cast<std::size_t>(last - first + 1));
  std::iota(v.begin(), v.end(), first);
  return v;
}

RunSetup setup_for(const SampleFile& file, std::vector<int> ages, std::vector<int> regions,
                   std::vector<double> times = sample_integration_times()) {
  RunSetup s;
  s.data_set = file.data_set;
  s.times = std::move(times);
  s.age_groups = std::move(ages);
  s.regions = std::move(regions);
  s.lung_region = static_cast<int>(file.names.size()) + 1;
  return s;
}

// Compares the calls of two runs one by one, so that a failure names the first difference.
void expect_same_calls(const Outcome& actual, const Outcome& expected, const std::string& what) {
  EXPECT_EQ(actual.stop, expected.stop) << what;
  ASSERT_EQ(actual.calls.size(), expected.calls.size()) << what;
  for (std::size_t i = 0; i < expected.calls.size(); ++i) {
    ASSERT_TRUE(actual.calls[i] == expected.calls[i])
        << what << ": call " << i << " differs (" << expected.calls[i].kind << " of line "
        << expected.calls[i].line_number << ")";
  }
}

// ---- Whole files ------------------------------------------------------------------------

struct Selection {
  const char* what;
  std::vector<int> ages;
  bool all_regions;
  std::vector<int> regions;  // when not all; 0 stands for "Lung"
};

class ParallelLoop : public ::testing::TestWithParam<DataSet> {};

TEST_P(ParallelLoop, MakesTheCallsOfTheLoopOnOneThread) {
  const SampleFile& file = sample_file(GetParam());
  const int lung = static_cast<int>(file.names.size()) + 1;
  const Selection selections[] = {
      {"all ages, all regions", range(1, 6), true, {}},
      {"adult, Lung", {6}, false, {0}},
      {"two ages backwards, a few regions", {5, 2}, false, {7, 0, 1, 29}},
  };
  for (const Selection& sel : selections) {
    std::vector<int> regions = sel.all_regions ? range(1, lung) : sel.regions;
    for (int& r : regions) r = r == 0 ? lung : r;
    const RunSetup setup = setup_for(file, sel.ages, regions);
    const Outcome serial = run_loop(file.bytes, setup, 1);
    ASSERT_EQ(serial.stop, "") << sel.what;
    ASSERT_GT(serial.records, 20) << sel.what;
    for (const int threads : {2, 3, 8}) {
      expect_same_calls(run_loop(file.bytes, setup, threads), serial,
                        std::string(sel.what) + ", " + std::to_string(threads) + " threads");
    }
    // A sink that prepares nothing gets record_done() for every record all the same.
    expect_same_calls(run_loop(file.bytes, setup, 2, false), serial,
                      std::string(sel.what) + ", sink without prepare()");
  }
}

TEST_P(ParallelLoop, ManyIntegrationTimesInAnyOrder) {
  // Times below, inside and beyond the tables, repeated and unsorted, up to the capacity.
  const SampleFile& file = sample_file(GetParam());
  std::vector<double> times;
  for (int m = 0; m < kMaxIntegrationTimes; ++m) {
    times.push_back(m % 7 == 0 ? 0.0 : std::pow(10.0, (m * 37 % 100) / 12.0 - 2.0));
  }
  const RunSetup setup = setup_for(file, {1, 6}, {1, 2, 30, 15});
  const Outcome serial = run_loop(file.bytes, setup, 1);
  ASSERT_EQ(serial.stop, "");
  expect_same_calls(run_loop(file.bytes, setup, 2), serial, "100 times");
  // No time at all: one row of zeros per record.
  const RunSetup none = setup_for(file, {1, 6}, {1, 2}, {});
  expect_same_calls(run_loop(file.bytes, none, 2), run_loop(file.bytes, none, 1), "no times");
}

INSTANTIATE_TEST_SUITE_P(BothDataSets, ParallelLoop,
                         ::testing::Values(DataSet::inhalation, DataSet::ingestion),
                         [](const auto& test) {
                           return test.param == DataSet::inhalation ? "inhalation" : "ingestion";
                         });

// ---- Stops in the middle of a large file --------------------------------------------------

// The lines of a file (CR LF ends), and where the records start.
struct Lines {
  std::vector<std::string> lines;
  std::vector<std::size_t> record_starts;  // line indexes of the header lines
};

Lines lines_of(const SampleFile& file) {
  Lines l;
  std::size_t at = 0;
  while (at < file.bytes.size()) {
    const std::size_t end = file.bytes.find("\r\n", at);
    l.lines.push_back(file.bytes.substr(at, end - at));
    at = end + 2;
  }
  for (std::size_t i = 2; i < l.lines.size();) {
    l.record_starts.push_back(i);
    const HeaderRecord h = decode_header(l.lines[i], file.data_set);
    i += 1 + static_cast<std::size_t>(h.p != 1 ? 2 * h.n : h.n);
  }
  return l;
}

std::string join(const std::vector<std::string>& lines, std::size_t from, std::size_t to) {
  std::string text;
  for (std::size_t i = from; i < to; ++i) text += lines[i] + "\r\n";
  return text;
}

// A header line of the sample layout with the given fields.
std::string header_line(DataSet ds, int age, int n, int p, const char* code) {
  char buf[96];
  if (ds == DataSet::inhalation) {
    std::snprintf(buf, sizeof buf, "Bad-1   %05d 1.0 F 1.0E+00 %3d %d %s", age, n, p, code);
  } else {
    std::snprintf(buf, sizeof buf, "Bad-1   %05d1.0E-01 %3d %d %s", age, n, p, code);
  }
  return buf;
}

std::string data_line(double t) {
  return test_support::data_line(t, std::vector<double>(29, 1e-10));
}

struct StopCase {
  const char* what;
  // The bad record at a record boundary about 60% into the file; `cut` ends the file there
  // instead of going on with the rest.
  std::vector<std::string> (*bad)(DataSet);
  bool cut;
  const char* reason;
  std::size_t line = 0;  // the line refused, counted from the bad record's header line
};

const StopCase kStops[] = {
    {"malformed_header",
     [](DataSet ds) { return std::vector<std::string>{header_line(ds, 7300, 2, 1, "X")}; }, false,
     "is not L, B or H"},
    {"too_many_time_points",
     [](DataSet ds) { return std::vector<std::string>{header_line(ds, 7300, 151, 1, "L")}; }, false,
     "151 time points"},
    {"cut_short_processed",
     [](DataSet ds) {
       return std::vector<std::string>{header_line(ds, 365, 40, 1, "H"), data_line(1),
                                       data_line(2)};
     },
     true, "the file ends after 2 of the 40 data lines"},
    {"cut_short_passed_over",
     [](DataSet ds) {
       return std::vector<std::string>{header_line(ds, 1000, 40, 2, "B"), data_line(1)};
     },
     true, "the file ends after 1 of the 80 data lines"},
    {"times_not_increasing",
     [](DataSet ds) {
       return std::vector<std::string>{header_line(ds, 7300, 3, 1, "L"), data_line(1), data_line(2),
                                       data_line(2)};
     },
     false, "time point 3 is not later than the one before it (line ", 3},
    {"no_time_point",
     [](DataSet ds) { return std::vector<std::string>{header_line(ds, 365, 0, 1, "L")}; }, false,
     "0 time points, too few"},
};

class ParallelStops : public ::testing::TestWithParam<std::tuple<DataSet, StopCase>> {};

TEST_P(ParallelStops, SameRecordSameMessageRowsBeforeKeptNothingAfter) {
  const auto& [ds, c] = GetParam();
  const SampleFile& file = sample_file(ds);
  const Lines l = lines_of(file);
  const std::size_t at = l.record_starts[l.record_starts.size() * 3 / 5];
  std::string bytes = join(l.lines, 0, at);
  for (const std::string& line : c.bad(ds)) bytes += line + "\r\n";
  if (c.cut) {
    bytes.resize(bytes.size() - 2);  // the last line without its line end
  } else {
    bytes += join(l.lines, at, l.lines.size());
  }
  const std::string bad_line_number = "line " + std::to_string(at + 1 + c.line) + ":";

  // The records that must have been handed on: those of the selected ages before the bad one.
  const std::vector<int> ages = {6, 2};
  int expected_records = 0;
  for (const std::size_t start : l.record_starts) {
    if (start >= at) break;
    if (match_age(decode_header(l.lines[start], ds).age_days, ages) != 0) ++expected_records;
  }
  ASSERT_GT(expected_records, 10);

  const int lung = static_cast<int>(file.names.size()) + 1;
  const RunSetup setup = setup_for(file, ages, range(1, lung));
  const Outcome serial = run_loop(bytes, setup, 1);
  EXPECT_NE(serial.stop.find(display_name(ds) + ", " + bad_line_number), std::string::npos)
      << serial.stop;
  EXPECT_NE(serial.stop.find(c.reason), std::string::npos) << serial.stop;
  EXPECT_EQ(serial.records, expected_records);
  for (const int threads : {2, 3}) {
    expect_same_calls(run_loop(bytes, setup, threads), serial,
                      std::string(c.what) + ", " + std::to_string(threads) + " threads");
  }
}

INSTANTIATE_TEST_SUITE_P(EachRefusal, ParallelStops,
                         ::testing::Combine(::testing::Values(DataSet::inhalation,
                                                              DataSet::ingestion),
                                            ::testing::ValuesIn(kStops)),
                         [](const auto& test) {
                           return std::string(std::get<0>(test.param) == DataSet::inhalation
                                                  ? "inhalation_"
                                                  : "ingestion_") +
                                  std::get<1>(test.param).what;
                         });

// A refusal found by a worker wins over one the reader meets a little later, and over nothing:
// the first in the file ends the run.
TEST(ParallelStops, TheFirstRefusalInTheFileWins) {
  const SampleFile& file = sample_file(DataSet::inhalation);
  const Lines l = lines_of(file);
  const std::size_t at = l.record_starts[l.record_starts.size() / 2];
  const std::size_t later = l.record_starts[l.record_starts.size() / 2 + 2];
  std::string bytes = join(l.lines, 0, at);
  for (const std::string& line : {header_line(DataSet::inhalation, 7300, 3, 1, "H"), data_line(2),
                                  data_line(1), data_line(3)}) {
    bytes += line + "\r\n";
  }
  bytes += join(l.lines, at, later);
  bytes += header_line(DataSet::inhalation, 7300, 3, 1, "Q") + "\r\n";
  bytes += join(l.lines, later, l.lines.size());

  const RunSetup setup = setup_for(file, range(1, 6), range(1, 30));
  const Outcome serial = run_loop(bytes, setup, 1);
  // The second time point, the second data line after the header, is out of order.
  EXPECT_NE(serial.stop.find("line " + std::to_string(at + 3) + ":"), std::string::npos)
      << serial.stop;
  EXPECT_NE(serial.stop.find("time point 2 is not later"), std::string::npos) << serial.stop;
  expect_same_calls(run_loop(bytes, setup, 2), serial, "refusal before a malformed header");
}

// A failing sink (a write that fails) ends the run on the calling thread: no later call, and
// the workers are stopped and joined.
TEST(ParallelStops, AFailingSinkEndsTheRun) {
  class FailingSink : public RecordSink {
   public:
    void record_done(int, const HeaderRecord&, const CoefficientTable&) override {
      if (++records == 25) throw OutputError("Unable to write the file OUTPUT\\DC7300h.OUT");
    }
    int records = 0;
  };
  const SampleFile& file = sample_file(DataSet::inhalation);
  for (const int threads : {1, 2, 4}) {
    RunSetup setup = setup_for(file, range(1, 6), range(1, 30));
    setup.threads = threads;
    LineReader reader = LineReader::from_bytes(file.bytes, kInhalationFile);
    read_region_names(reader);
    FailingSink sink;
    EXPECT_THROW(process_records(reader, setup, sink, nullptr), OutputError);
    EXPECT_EQ(sink.records, 25) << threads << " threads";
  }
}

// ---- Coefficient files through the shared processing -------------------------------------

class WorkingDir {
 public:
  WorkingDir() {
    std::string pattern = (fs::temp_directory_path() / "kestrane-parallel-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~WorkingDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Runs a run to files on the working directory and returns each coefficient file's bytes and
// the stop message.
struct RunFiles {
  std::vector<std::string> files;
  std::string stop;
};

RunFiles run_files(const fs::path& dir, DataSet ds, const std::vector<int>& ages, int threads) {
  RunRequest request;
  request.working_dir = dir;
  request.data_set = ds;
  request.times = sample_integration_times();
  for (const int age : ages)
    request.ages += (request.ages.empty() ? "" : ",") + std::to_string(age);
  request.regions = "all";
  request.threads = threads;
  RunFiles result;
  FileRun run(resolve_run(request, open_run_input(request)));
  std::vector<fs::path> paths;
  try {
    for (const RunFile& file : run.process(nullptr).files) paths.push_back(file.path);
  } catch (const RunStopped& e) {
    result.stop = e.what();
    paths = e.stop().partial_paths;
  }
  // A stopped run leaves its rows in the partial files. The provenance files, which hold the
  // time of the run, are the provenance tests' part.
  for (const fs::path& path : paths) {
    if (path.extension() != ".json") result.files.push_back(read_file(path));
  }
  return result;
}

TEST(ParallelFiles, ByteForByteTheFilesOfOneThread) {
  const WorkingDir dir;
  write_sample_directory(dir.path(), 600'000, 5);
  for (const DataSet ds : {DataSet::inhalation, DataSet::ingestion}) {
    const std::vector<int> ages = {3, 6, 1};
    const RunFiles serial = run_files(dir.path(), ds, ages, 1);
    ASSERT_EQ(serial.stop, "");
    const RunFiles parallel = run_files(dir.path(), ds, ages, 2);
    EXPECT_EQ(parallel.stop, "");
    ASSERT_EQ(parallel.files.size(), serial.files.size());
    for (std::size_t k = 0; k < serial.files.size(); ++k) {
      // The coefficient files, then the notes files of one row per noted record.
      EXPECT_GT(serial.files[k].size(), k < ages.size() ? 10'000u : 100u);
      EXPECT_TRUE(parallel.files[k] == serial.files[k]) << "file " << k;
    }
  }
}

TEST(ParallelFiles, AStopKeepsTheSameRows) {
  const WorkingDir dir;
  write_sample_directory(dir.path(), 600'000, 6, SampleDataSets::inhalation);
  const fs::path drt = dir.path() / "DATA" / "KVR13INH.DRT";
  // A record whose times do not increase, half way through the file.
  const SampleFile f{DataSet::inhalation, read_file(drt), {}};
  const Lines l = lines_of(f);
  const std::size_t at = l.record_starts[l.record_starts.size() / 2];
  std::string bytes = join(l.lines, 0, at);
  for (const std::string& line :
       {header_line(DataSet::inhalation, 100, 2, 1, "L"), data_line(5), data_line(5)}) {
    bytes += line + "\r\n";
  }
  bytes += join(l.lines, at, l.lines.size());
  std::ofstream(drt, std::ios::binary) << bytes;

  const RunFiles serial = run_files(dir.path(), DataSet::inhalation, {1, 6}, 1);
  // Refused at the second data line, which repeats the time of the first.
  EXPECT_NE(serial.stop.find("line " + std::to_string(at + 3) + ":"), std::string::npos)
      << serial.stop;
  const RunFiles parallel = run_files(dir.path(), DataSet::inhalation, {1, 6}, 2);
  EXPECT_EQ(parallel.stop, serial.stop);
  // The two coefficient files, then the notes files made before the stop.
  ASSERT_EQ(parallel.files.size(), serial.files.size());
  ASSERT_GE(parallel.files.size(), 2u);
  for (std::size_t k = 0; k < serial.files.size(); ++k) {
    EXPECT_GT(serial.files[k].size(), k < 2 ? 1'000u : 100u);
    EXPECT_TRUE(parallel.files[k] == serial.files[k]) << "file " << k;
  }
}

// ---- Rows formatted apart from the writing ------------------------------------------------

TEST(CoefficientBlock, OneFullWidthLinePerTimeEachWithItsLineEnd) {
  std::uint64_t state = 99;
  const auto next = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 11;
  };
  auto table = std::make_unique<CoefficientTable>();
  for (auto& by_table : table->coef) {
    for (auto& by_region : by_table) {
      for (double& c : by_region) {
        const auto r = next();
        // Mostly ordinary magnitudes; now and then 0, a negative, a huge or a tiny value, all
        // within the 32-bit range, whose exponents take two digits.
        c = r % 17 == 0   ? 0.0
            : r % 19 == 0 ? -1e-12
            : r % 23 == 0 ? 3e38
            : r % 29 == 0 ? 1e-45
                          : std::ldexp(static_cast<double>(r % 1000003), -static_cast<int>(r % 90));
      }
    }
  }
  const std::string headers[] = {"I-131   07300     F          30 1 L",
                                 "Cs-137  00100 1.0E-02   60 1 H", "Sr-90", ""};
  for (const DataSet ds : {DataSet::inhalation, DataSet::ingestion}) {
    for (const std::string& header : headers) {
      for (const int regions : {0, 1, 2, 30, kMaxSelectedRegions}) {
        for (const std::size_t count :
             {std::size_t{0}, std::size_t{1}, std::size_t{6}, std::size_t{kMaxIntegrationTimes}}) {
          std::vector<double> times;
          for (std::size_t m = 0; m < count; ++m) times.push_back(std::pow(3.0, m % 20) / 7);
          // One line per time (one when there is none), each ended by CR LF; every line after
          // the first has the full width of its data set, and the first one too when the
          // header line reaches the columns it copies.
          const std::string block = coefficient_block(ds, header, *table, times, regions);
          const std::size_t width = (ds == DataSet::inhalation ? 17u : 23u) + 19u * regions;
          const bool full_first = header.size() >= (ds == DataSet::inhalation ? 19u : 20u);
          std::size_t lines = 0;
          for (std::size_t start = 0; start < block.size(); ++lines) {
            const std::size_t end = block.find("\r\n", start);
            ASSERT_NE(end, std::string::npos);
            if (lines > 0 || full_first) {
              EXPECT_EQ(end - start, width) << "line " << lines << ", " << regions << " regions";
            }
            start = end + 2;
          }
          EXPECT_EQ(lines, std::max<std::size_t>(count, 1)) << regions << " regions";
        }
      }
    }
  }
  EXPECT_THROW(coefficient_block(DataSet::inhalation, "", *table, {}, kMaxSelectedRegions + 1),
               std::invalid_argument);
}

// A block whose write fails leaves the file as writing its rows one at a time would: every
// whole row that fits, and the failure of the first that does not.
TEST(CoefficientBlock, AFailedWriteKeepsTheRowsAWriteOfEachRowKeeps) {
  const WorkingDir dir;
  auto table = std::make_unique<CoefficientTable>();
  for (auto& by_table : table->coef) {
    for (auto& by_region : by_table) by_region.fill(2.5e-9);
  }
  const std::vector<double> times = sample_integration_times();
  const std::string header = "I-131   07300     F          30 1 L";
  const int groups[] = {6};
  const std::vector<std::string> names(3, "Region");

  std::string outcomes[2];
  std::string messages[2];
  for (int way = 0; way < 2; ++way) {
    OutputFiles output(dir.path());
    CoefficientFiles files = open_coefficient_files(output, DataSet::inhalation, groups);
    files.write_coefficient_headers(DataSet::inhalation, groups, names);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 500;  // the headings and some rows
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    try {
      const std::string block = coefficient_block(DataSet::inhalation, header, *table, times, 3);
      for (std::size_t start = 0; way == 0 && start < block.size();) {
        const std::size_t end = block.find("\r\n", start) + 2;
        files.write_block(0, block.substr(start, end - start));
        start = end;
      }
      if (way == 1) files.write_block(0, block);
      output.commit();  // the rows gathered are written here at the latest
    } catch (const OutputError& e) {
      messages[way] = e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);
    output.abandon();
    outcomes[way] = read_file(dir.path() / "OUTPUT" / "DC7300h.OUT.partial");
  }
  EXPECT_EQ(messages[0], "Unable to write the file OUTPUT\\DC7300h.OUT.partial: File too large");
  EXPECT_EQ(messages[1], messages[0]);
  EXPECT_GT(outcomes[0].size(), 250u);
  EXPECT_LE(outcomes[0].size(), 500u);
  EXPECT_EQ(outcomes[1], outcomes[0]);
}

}  // namespace
}  // namespace kestrane
