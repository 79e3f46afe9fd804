// Tests of the sample-data generator: sizes, determinism, the fixed-column layouts of the
// files it writes, the shape of its rates, and that the program's readers take them whole.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "base/version.h"
#include "dose/record_loop.h"
#include "input/dose_rate_file.h"
#include "input/integration_times.h"
#include "input/line_reader.h"
#include "sample/sample_command.h"
#include "sample/sample_data.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

std::string generate(DataSet data_set, std::uint64_t bytes, std::uint64_t seed,
                     SampleFileSummary* summary = nullptr) {
  std::ostringstream out;
  const SampleFileSummary s = write_sample_dose_rate_file(out, data_set, bytes, seed);
  if (summary != nullptr) *summary = s;
  return out.str();
}

// Lines cut at CR LF; fails the test on a line end of any other kind.
std::vector<std::string> crlf_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t cr = text.find('\r', start);
    if (cr == std::string::npos || cr + 1 >= text.size() || text[cr + 1] != '\n') {
      ADD_FAILURE() << "line " << lines.size() + 1 << " does not end in CR LF";
      break;
    }
    const std::string line = text.substr(start, cr - start);
    EXPECT_EQ(line.find('\n'), std::string::npos) << "LF inside line " << lines.size() + 1;
    lines.push_back(line);
    start = cr + 2;
  }
  return lines;
}

// A number written by the generator (no blanks inside the field once trimmed).
double number(const std::string& line, std::size_t first, std::size_t width) {
  std::string field = line.substr(first - 1, width);
  const std::size_t begin = field.find_first_not_of(' ');
  if (begin == std::string::npos) return -1;
  double value = 0;
  const auto result = std::from_chars(field.data() + begin, field.data() + field.size(), value);
  EXPECT_EQ(result.ptr, field.data() + field.size()) << "field \"" << field << "\"";
  return value;
}

int integer(const std::string& line, std::size_t first, std::size_t width) {
  return static_cast<int>(number(line, first, width));
}

TEST(SampleSize, ReadsUnitsAsPowersOf1024AndKeepsTheUnit) {
  struct Case {
    const char* text;
    std::uint64_t bytes;
    SizeUnit unit;
  };
  for (const Case& c :
       {Case{"300000", 300000, SizeUnit::bytes}, Case{"64G", 68719476736, SizeUnit::gib},
        Case{"10B", 10, SizeUnit::bytes}, Case{"512K", 524288, SizeUnit::kib},
        Case{"2M", 2097152, SizeUnit::mib}, Case{"2m", 2097152, SizeUnit::mib},
        Case{"2MB", 2097152, SizeUnit::mib}, Case{"2MiB", 2097152, SizeUnit::mib},
        Case{"300M", 314572800, SizeUnit::mib}, Case{"1G", 1073741824, SizeUnit::gib},
        Case{"1.5G", 1610612736, SizeUnit::gib}}) {
    const SampleSize size = parse_size(c.text);
    EXPECT_EQ(size.bytes, c.bytes) << c.text;
    EXPECT_EQ(size.unit, c.unit) << c.text;
  }
  for (const char* bad : {"", "M", "2X", "-1", "1T", "2 M", "1e3", "2MM", "99999999999G", "nan",
                          "NaN", "inf", "-1M", "0", "0K", "0.1", "64.01G", "65537M"}) {
    EXPECT_THROW(parse_size(bad), std::invalid_argument) << bad;
  }
}

TEST(SampleSize, IsShownInTheUnitItWasGivenIn) {
  EXPECT_EQ(format_size(300412, SizeUnit::bytes), "300412 bytes");
  EXPECT_EQ(format_size(524288, SizeUnit::kib), "512.0 KiB");
  EXPECT_EQ(format_size(314572800 + 104858, SizeUnit::mib), "300.1 MiB");  // 300 MiB + 0.1 MiB
  EXPECT_EQ(format_size(2097152 - 52428, SizeUnit::mib), "2.0 MiB");       // just over 1.95 MiB
  EXPECT_EQ(format_size(1610612736, SizeUnit::gib), "1.5 GiB");
}

TEST(SampleFile, SameSeedSameBytesOtherSeedOtherBytes) {
  for (DataSet ds : {DataSet::inhalation, DataSet::ingestion}) {
    const std::string a = generate(ds, 300000, 7);
    EXPECT_EQ(a, generate(ds, 300000, 7));
    EXPECT_NE(a, generate(ds, 300000, 8));
  }
  EXPECT_NE(generate(DataSet::inhalation, 300000, 7).substr(200),
            generate(DataSet::ingestion, 300000, 7).substr(200));
}

TEST(SampleFile, StopsAfterTheRecordThatReachesTheSize) {
  for (std::uint64_t target : {0ull, 1ull, 100000ull, 3000000ull}) {
    SampleFileSummary summary;
    const std::string text = generate(DataSet::inhalation, target, 3, &summary);
    EXPECT_EQ(summary.bytes, text.size());
    EXPECT_GE(summary.bytes, target);
    // One record more than needed at most: a header and 2 x 150 data lines.
    EXPECT_LT(summary.bytes, target + 37 + 300 * 301 + 700);
  }
  SampleFileSummary empty;
  generate(DataSet::ingestion, 0, 3, &empty);
  EXPECT_EQ(empty.records, 0);
  EXPECT_EQ(empty.lines, 2);
}

// Walks a generated file by its own layout, independently of the program's readers.
struct Walk {
  std::int64_t records = 0;
  std::set<int> ages;
  std::set<char> codes;
  std::set<int> time_points;
  bool some_rate_fell_to_zero = false;
  double smallest_rate = 1;
  double largest_rate = 0;
};

Walk walk_file(const std::string& text, DataSet ds) {
  Walk walk;
  const std::vector<std::string> lines = crlf_lines(text);
  EXPECT_GE(lines.size(), 2u);
  // Region-name line: a label in columns 1-9, then each name right-aligned over the ten
  // columns of its rates.
  const std::string& names = lines.at(1);
  EXPECT_EQ(names.size(), 299u);
  const auto& expected = sample_region_names();
  for (std::size_t k = 1; k <= 29; ++k) {
    const std::string field = names.substr(10 * k - 1, 10);
    EXPECT_EQ(field.substr(field.find_first_not_of(' ')), expected[k - 1]);
    EXPECT_EQ(field[0], ' ');
  }
  std::size_t i = 2;
  while (i < lines.size()) {
    const std::string& h = lines[i++];
    const bool inh = ds == DataSet::inhalation;
    EXPECT_EQ(h.size(), inh ? 35u : 28u) << h;
    const int age = integer(h, 9, 5);
    const int n = integer(h, inh ? 29 : 22, 3);
    const int p = integer(h, inh ? 33 : 26, 1);
    const char code = h.back();
    EXPECT_TRUE(code == 'L' || code == 'H' || code == 'B') << h;
    EXPECT_EQ(p, code == 'B' ? 2 : 1) << h;
    EXPECT_GE(n, 1);
    EXPECT_LE(n, 150);
    if (inh) {
      EXPECT_NE(std::string("FMS").find(h[18]), std::string::npos) << h;
    } else {
      EXPECT_GT(number(h, 14, 7), 0) << h;
    }
    ++walk.records;
    walk.ages.insert(age);
    walk.codes.insert(code);
    walk.time_points.insert(n);
    double previous_time = 0;
    std::array<std::array<bool, 29>, 2> fallen{};
    for (int point = 0; point < n; ++point) {
      for (int part = 0; part < p; ++part) {
        const std::string& d = lines.at(i++);
        EXPECT_EQ(d.size(), 299u);
        const double t = number(d, 1, 9);
        if (part == 0) {
          EXPECT_GT(t, previous_time) << "record " << h;
        } else {
          EXPECT_EQ(t, previous_time) << "the high line carries the time of the low line";
        }
        previous_time = t;
        const int table = code == 'B' ? part : (code == 'L' ? 0 : 1);
        for (std::size_t k = 1; k <= 29; ++k) {
          const double rate = number(d, 10 * k, 10);
          EXPECT_EQ(d[10 * k - 1], ' ');
          if (rate == 0) {
            if (point > 0 && !fallen[table][k - 1]) walk.some_rate_fell_to_zero = true;
            fallen[table][k - 1] = true;
          } else {
            EXPECT_FALSE(fallen[table][k - 1]) << "a rate came back after falling to zero";
            walk.smallest_rate = std::min(walk.smallest_rate, rate);
            walk.largest_rate = std::max(walk.largest_rate, rate);
          }
        }
      }
    }
    EXPECT_GT(previous_time, 0);
    if (n > 1) {
      EXPECT_GT(previous_time, 1e4) << "the grid reaches tens of thousands of days";
    }
  }
  return walk;
}

TEST(SampleFile, HasTheColumnLayoutsAndTheVarietyOfRealFiles) {
  for (DataSet ds : {DataSet::inhalation, DataSet::ingestion}) {
    SCOPED_TRACE(ds == DataSet::inhalation ? "inhalation" : "ingestion");
    SampleFileSummary summary;
    const Walk walk = walk_file(generate(ds, kDefaultSampleBytes, 1, &summary), ds);
    EXPECT_EQ(walk.records, summary.records);
    for (int age : {100, 365, 1825, 3650, 5475, 7300, 7299, 9125, 10950}) {
      EXPECT_TRUE(walk.ages.contains(age)) << age;
    }
    EXPECT_EQ(walk.codes, (std::set<char>{'B', 'H', 'L'}));
    EXPECT_TRUE(walk.time_points.contains(1));
    EXPECT_TRUE(walk.time_points.contains(2));
    EXPECT_TRUE(walk.time_points.contains(150));
    EXPECT_TRUE(walk.some_rate_fell_to_zero);
    EXPECT_GE(walk.smallest_rate, 1e-22);
    EXPECT_LT(walk.smallest_rate, 1e-18);
    EXPECT_LE(walk.largest_rate, 1e-8);
    EXPECT_GT(walk.largest_rate, 1e-10);
    EXPECT_EQ(summary.min_time_points, 1);
    EXPECT_EQ(summary.max_time_points, 150);
  }
}

// Counts what the record loop hands over.
class CountingSink : public RecordSink {
 public:
  void record_done(int position, const HeaderRecord&, const CoefficientTable&) override {
    ++by_position[static_cast<std::size_t>(position)];
  }
  std::array<std::int64_t, 6> by_position{};
};

TEST(SampleFile, ReadsBackThroughTheProgramWithoutRefusal) {
  for (DataSet ds : {DataSet::inhalation, DataSet::ingestion}) {
    SCOPED_TRACE(ds == DataSet::inhalation ? "inhalation" : "ingestion");
    SampleFileSummary summary;
    const std::string text = generate(ds, 1500000, 11, &summary);

    // Record by record through the header checks, passing over every data block.
    LineReader reader = LineReader::from_bytes(text, "DATA\\SAMPLE.DRT");
    const std::vector<std::string> names = read_region_names(reader);
    ASSERT_EQ(names.size(), 29u);
    for (std::size_t k = 0; k < 29; ++k) EXPECT_EQ(names[k], sample_region_names()[k]);
    std::int64_t records = 0;
    std::map<std::int32_t, std::int64_t> by_age;
    while (!reader.at_end_of_file()) {
      const std::string line(reader.read_line());
      ASSERT_FALSE(is_blank_header(line));
      const HeaderRecord header = decode_header(line, ds);
      ASSERT_NO_THROW(validate_header(header, "DATA\\SAMPLE.DRT"));
      skip_data_block(reader, header);
      ++records;
      ++by_age[header.age_days];
    }
    EXPECT_EQ(records, summary.records);
    EXPECT_EQ(by_age, summary.records_by_age);
    EXPECT_EQ(reader.line_number(), summary.lines);

    // Whole, through the record loop with every age group and region: every record of an
    // age group is processed (7299 days belongs to none; the older ages to the adults).
    LineReader again = LineReader::from_bytes(text, "DATA\\SAMPLE.DRT");
    read_region_names(again);
    RunSetup setup;
    setup.data_set = ds;
    setup.times = sample_integration_times();
    setup.age_groups = {1, 2, 3, 4, 5, 6};
    for (int r = 1; r <= 30; ++r) setup.regions.push_back(r);
    CountingSink sink;
    ASSERT_NO_THROW(process_records(again, setup, sink, nullptr));
    const auto count = [&](std::int32_t age) {
      const auto it = summary.records_by_age.find(age);
      return it == summary.records_by_age.end() ? 0 : it->second;
    };
    EXPECT_EQ(sink.by_position[0], count(100));
    EXPECT_EQ(sink.by_position[4], count(5475));
    EXPECT_EQ(sink.by_position[5], count(7300) + count(9125) + count(10950));
  }
}

TEST(SampleDirectory, HoldsBothFilesTheTimesAndAnEmptyOutputFolder) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("kestrane_sample_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  const SampleSummary summary = write_sample_directory(dir, 200000, 5);
  EXPECT_EQ(fs::file_size(dir / "DATA" / "KVR13INH.DRT"), summary.inhalation.bytes);
  EXPECT_EQ(fs::file_size(dir / "DATA" / "KVR13ING.DRT"), summary.ingestion.bytes);
  EXPECT_TRUE(fs::is_directory(dir / "OUTPUT"));
  EXPECT_TRUE(fs::is_empty(dir / "OUTPUT"));

  std::ifstream in(dir / "data" / "Kestrane.ini", std::ios::binary);
  const std::string ini((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(ini, sample_integration_times_file());
  EXPECT_EQ(read_integration_times(dir / "data" / "Kestrane.ini", "data\\Kestrane.ini"),
            (std::vector<double>{1, 7, 30, 365, 1825, 18250}));
  crlf_lines(ini);

  // One data set alone leaves the other file as it was.
  fs::remove(dir / "DATA" / "KVR13ING.DRT");
  write_sample_directory(dir, 100000, 5, SampleDataSets::inhalation);
  EXPECT_FALSE(fs::exists(dir / "DATA" / "KVR13ING.DRT"));
  fs::remove_all(dir);
}

// ---- the kestrane-sample command ----------------------------------------------------

struct CommandResult {
  int status = -1;
  std::string out;
  std::string err;
};

CommandResult sample_command(std::vector<std::string> args, const std::filesystem::path& cwd) {
  args.insert(args.begin(), "kestrane-sample");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out;
  std::ostringstream err;
  CommandResult result;
  result.status = run_sample_command(static_cast<int>(argv.size()), argv.data(), cwd, out, err);
  result.out = out.str();
  result.err = err.str();
  return result;
}

// Every message begins with the program's name, has no line that begins with a blank, and
// ends with a newline.
void expect_program_message(const std::string& err) {
  EXPECT_TRUE(err.starts_with("kestrane-sample: ")) << err;
  EXPECT_TRUE(err.ends_with("\n")) << err;
  EXPECT_EQ(err.find("\n "), std::string::npos) << err;
}

// A DATA folder in any letter case, in the current folder or in the one --dir names, is
// refused unless --force is given.
class SampleCommandDataFolder : public ::testing::TestWithParam<std::tuple<const char*, bool>> {};

TEST_P(SampleCommandDataFolder, RefusesAnExistingDataFolderUnlessForced) {
  const auto [name, with_dir] = GetParam();
  test_support::TempDir cwd("kestrane_sample_cmd");
  const std::filesystem::path root = with_dir ? cwd / "sub" : cwd.path();
  std::filesystem::create_directories(root / name);
  std::vector<std::string> args = {"--size", "1000"};
  if (with_dir) args.insert(args.end(), {"--dir", root.string()});
  const CommandResult refused = sample_command(args, cwd.path());
  EXPECT_EQ(refused.status, kSampleUsageError);
  EXPECT_EQ(refused.out, "");
  expect_program_message(refused.err);
  EXPECT_NE(refused.err.find(std::string("holds a folder \"") + name + "\""), std::string::npos);
  if (with_dir) {
    EXPECT_NE(refused.err.find(root.string()), std::string::npos) << refused.err;
  }
  EXPECT_FALSE(std::filesystem::exists(root / name / "KVR13INH.DRT"));
  EXPECT_FALSE(std::filesystem::exists(root / "DATA" / "KVR13INH.DRT"));

  args.push_back("--force");
  const CommandResult forced = sample_command(args, cwd.path());
  EXPECT_EQ(forced.status, kSampleWritten) << forced.err;
  EXPECT_TRUE(std::filesystem::exists(root / "DATA" / "KVR13INH.DRT"));
}

INSTANTIATE_TEST_SUITE_P(AnyCaseHereOrUnderDir, SampleCommandDataFolder,
                         ::testing::Combine(::testing::Values("DATA", "data", "Data"),
                                            ::testing::Bool()));

TEST(SampleCommand, ReportsEveryFileWrittenInTheUnitGiven) {
  test_support::TempDir cwd("kestrane_sample_cmd");
  const CommandResult fresh =
      sample_command({"--size", "100K", "--data-set", "ingestion"}, cwd.path());
  ASSERT_EQ(fresh.status, kSampleWritten) << fresh.err;
  EXPECT_EQ(fresh.err, "");
  // The size to one decimal in KiB, rounded half up, by integer arithmetic.
  const std::uintmax_t bytes = std::filesystem::file_size(cwd / "DATA" / "KVR13ING.DRT");
  const std::uintmax_t tenths = (bytes * 10 + 512) / 1024;
  SampleFileSummary expected;
  generate(DataSet::ingestion, 102400, 1, &expected);
  EXPECT_EQ(fresh.out, "Wrote DATA/KVR13ING.DRT: " + std::to_string(tenths / 10) + "." +
                           std::to_string(tenths % 10) + " KiB, " +
                           std::to_string(expected.records) +
                           " records\nWrote data/Kestrane.ini: 6 integration times\n"
                           "Made OUTPUT/ for the coefficient files\n");

  const std::string dir = (cwd / "sub").string();
  const CommandResult again = sample_command({"--dir", dir, "--size", "1000"}, cwd.path());
  ASSERT_EQ(again.status, kSampleWritten) << again.err;
  EXPECT_NE(again.out.find("Wrote " + dir + "/DATA/KVR13INH.DRT: "), std::string::npos);
  EXPECT_NE(again.out.find(" bytes, 1 record\n"), std::string::npos) << again.out;
  EXPECT_NE(again.out.find("Made " + dir + "/OUTPUT/"), std::string::npos);
}

TEST(SampleCommand, UsageErrorsAndFailuresAreNamedByTheProgram) {
  test_support::TempDir cwd("kestrane_sample_cmd");
  for (const auto& args : std::vector<std::vector<std::string>>{{"--size", "3X"},
                                                                {"--size", "nan"},
                                                                {"--size", "-2M"},
                                                                {"--size", "0"},
                                                                {"--size", "65G"},
                                                                {"--bogus"},
                                                                {"--data-set", "none"},
                                                                {"--seed", "x"},
                                                                {"--seed", "-1"},
                                                                {"--seed", "18446744073709551616"},
                                                                {"--dir", ""},
                                                                {"extra"}}) {
    const CommandResult r = sample_command(args, cwd.path());
    EXPECT_EQ(r.status, kSampleUsageError) << args[0];
    EXPECT_EQ(r.out, "");
    expect_program_message(r.err);
  }
  EXPECT_TRUE(std::filesystem::is_empty(cwd.path()));

  test_support::write_file(cwd / "file", "not a folder");
  const CommandResult failed =
      sample_command({"--dir", (cwd / "file").string(), "--size", "1000"}, cwd.path());
  EXPECT_EQ(failed.status, kSampleWriteFailed);
  expect_program_message(failed.err);

  // A full disk: the write error is named, and the program stops at once.
  std::filesystem::create_directories(cwd / "full" / "DATA");
  std::filesystem::create_symlink("/dev/full", cwd / "full" / "DATA" / "KVR13INH.DRT");
  const CommandResult full =
      sample_command({"--dir", (cwd / "full").string(), "--size", "64G", "--force"}, cwd.path());
  EXPECT_EQ(full.status, kSampleWriteFailed);
  EXPECT_NE(full.err.find("KVR13INH.DRT: No space left on device"), std::string::npos) << full.err;

  // The program itself with its standard output on a full disk: status 1 and a message.
  const std::filesystem::path program = std::filesystem::path(KESTRANE_BIN_DIR) / "kestrane-sample";
  if (std::filesystem::exists(program) && std::filesystem::exists("/dev/full")) {
    const std::string command = "'" + program.string() + "' --dir '" + (cwd / "out").string() +
                                "' --size 1K > /dev/full 2> '" + (cwd / "err").string() + "'";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(test_support::read_file(cwd / "err"),
              "kestrane-sample: write error on standard output: No space left on device\n");
  }

  const CommandResult version = sample_command({"--version"}, cwd.path());
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("kestrane-sample ") + kVersion + "\n");
}

}  // namespace
}  // namespace kestrane
