// Whole runs on small dose-rate files of both data sets, compared byte for byte with
// coefficient files worked out independently (tests/data/golden/make_golden.py makes them).
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "input/dose_rate_file.h"
#include "input/integration_times.h"
#include "platform/file_services.h"
#include "run/file_run.h"
#include "run/run_request.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

using kestrane::test_support::read_file;

namespace fs = std::filesystem;

const fs::path kGolden = fs::path(KESTRANE_TEST_DATA) / "golden";

// The choice of a case, from its choice.txt.
struct Case {
  std::string name;
  DataSet data_set = DataSet::inhalation;
  std::vector<int> ages, regions;
  std::int64_t stop_line = 0;
  std::string stop_header;
};

Case read_case(const std::string& name) {
  Case c{name, DataSet::inhalation, {}, {}, 0, {}};
  std::ifstream in(kGolden / name / "choice.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string key;
    fields >> key;
    if (key == "data_set") {
      std::string v;
      fields >> v;
      c.data_set = v == "ingestion" ? DataSet::ingestion : DataSet::inhalation;
    } else if (key == "ages" || key == "regions") {
      for (int v; fields >> v;) (key == "ages" ? c.ages : c.regions).push_back(v);
    } else if (key == "stop_line") {
      fields >> c.stop_line;
    } else if (key == "stop_header") {
      c.stop_header = line.substr(key.size() + 1);
    }
  }
  return c;
}

// A fresh working directory holding a copy of the case's DATA and data folders.
class WorkingDir {
 public:
  explicit WorkingDir(const std::string& case_name) {
    std::string pattern = (fs::path(::testing::TempDir()) / "kestrane-golden-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
    for (const char* sub : {"DATA", "data"}) {
      fs::copy(kGolden / case_name / sub, path_ / sub, fs::copy_options::recursive);
    }
  }
  ~WorkingDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// One coefficient of a processed record, as coefficients.txt lists them.
struct Coefficient {
  int position;
  std::string nuclide;
  int t, j, m;  // from 1
  double value;
};

std::vector<Coefficient> read_exact_coefficients(const std::string& case_name) {
  std::vector<Coefficient> list;
  std::ifstream in(kGolden / case_name / "expected" / "coefficients.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Coefficient c{};
    fields >> c.position >> c.nuclide >> c.t >> c.j >> c.m >> c.value;
    list.push_back(c);
  }
  return list;
}

// Keeps every coefficient the run hands on, in the order of coefficients.txt.
class Recorder : public RecordSink, public ProgressObserver {
 public:
  Recorder(std::size_t regions, std::size_t times) : regions_(regions), times_(times) {}
  void record_done(int position, const HeaderRecord& header,
                   const CoefficientTable& coef) override {
    ++records;
    std::string nuclide = header.nuclide;
    nuclide.erase(nuclide.find_last_not_of(' ') + 1);
    for (std::size_t t = 0; t < 2; ++t) {
      for (std::size_t j = 0; j < regions_; ++j) {
        for (std::size_t m = 0; m < times_; ++m) {
          seen.push_back({position + 1, nuclide, static_cast<int>(t + 1), static_cast<int>(j + 1),
                          static_cast<int>(m + 1), coef.coef[t][j][m]});
        }
      }
    }
  }
  void record_processed(const HeaderRecord&, std::uint64_t, std::uint64_t) override { ++progress; }
  int records = 0;
  int progress = 0;
  std::vector<Coefficient> seen;

 private:
  std::size_t regions_, times_;
};

// The coefficients before formatting agree with the exact ones to a relative 1e-8: the
// program's rounding errors stay below 1e-9 for these tables.
void expect_exact_coefficients(const std::vector<Coefficient>& seen,
                               const std::vector<Coefficient>& exact) {
  ASSERT_EQ(seen.size(), exact.size());
  for (std::size_t i = 0; i < seen.size(); ++i) {
    const Coefficient& a = seen[i];
    const Coefficient& e = exact[i];
    ASSERT_EQ(std::tie(a.position, a.nuclide, a.t, a.j, a.m),
              std::tie(e.position, e.nuclide, e.t, e.j, e.m))
        << "entry " << i;
    EXPECT_NEAR(a.value, e.value, 1e-8 * std::abs(e.value))
        << e.nuclide << " table " << e.t << " region position " << e.j << " time " << e.m;
  }
}

// The request the dialogue would make for the case: its ages and regions by number.
struct Prepared {
  RunRequest request;
  std::size_t regions = 0;
  std::size_t times = 0;
  std::string drt_name;
};

std::string number_list(const std::vector<int>& numbers) {
  std::string list;
  for (const int n : numbers) list += (list.empty() ? "" : ",") + std::to_string(n);
  return list;
}

Prepared prepare(const Case& c, const fs::path& dir) {
  Prepared prepared;
  prepared.request.working_dir = dir;
  prepared.request.data_set = c.data_set;
  prepared.request.ages = number_list(c.ages);
  prepared.request.regions = number_list(c.regions);
  prepared.regions = c.regions.size();
  prepared.times =
      read_integration_times(resolve_program_path(dir, "data\\Kestrane.ini"), "data\\Kestrane.ini")
          .size();
  prepared.drt_name = "DATA\\" + std::string(data_set_file_name(c.data_set));
  return prepared;
}

// The run of the request, its files made.
std::unique_ptr<FileRun> start(const Prepared& prepared) {
  return std::make_unique<FileRun>(resolve_run(prepared.request, open_run_input(prepared.request)));
}

std::vector<std::string> expected_file_names(const Case& c) {
  std::vector<std::string> names;
  for (int g : c.ages) {
    names.push_back("DC" + std::to_string(kAgeGroups[static_cast<std::size_t>(g - 1)].days) +
                    data_set_letter(c.data_set) + ".OUT");
  }
  return names;
}

// Compares line by line first, so that a difference is reported where it is.
void expect_same_file(const fs::path& actual_path, const fs::path& expected_path) {
  const std::string actual = read_file(actual_path);
  const std::string expected = read_file(expected_path);
  if (actual == expected) return;
  std::istringstream a(actual), e(expected);
  std::string la, le;
  for (int n = 1;; ++n) {
    const bool more_a = static_cast<bool>(std::getline(a, la));
    const bool more_e = static_cast<bool>(std::getline(e, le));
    if (!more_a && !more_e) break;
    if (la != le || more_a != more_e) {
      ADD_FAILURE() << actual_path.filename() << " line " << n << "\n  actual:   " << la
                    << "\n  expected: " << le;
      return;
    }
  }
  ADD_FAILURE() << actual_path.filename() << " differs from " << expected_path;
}

class GoldenRun : public ::testing::TestWithParam<std::string> {};

// Earlier files in OUTPUT, one of every name the case writes, each with its own text.
void write_earlier_files(const fs::path& dir, const std::vector<std::string>& names) {
  fs::create_directory(dir / "OUTPUT");
  for (const auto& n : names) std::ofstream(dir / "OUTPUT" / n) << "earlier " << n << "\r\n";
}

// The names in OUTPUT, sorted, without the lock file of the runs.
std::vector<std::string> output_names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(resolve_program_path(dir, "OUTPUT"))) {
    // The notes and provenance files beside the coefficient files are their own tests' part.
    const std::string name = entry.path().filename().string();
    if (name != "kestrane.lock" && name.find("-notes.csv") == std::string::npos &&
        !name.ends_with(".json")) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST_P(GoldenRun, WritesTheExpectedFiles) {
  const Case c = read_case(GetParam());
  const WorkingDir dir(c.name);
  const std::vector<std::string> names = expected_file_names(c);
  write_earlier_files(dir.path(), names);
  Prepared run = prepare(c, dir.path());

  const std::unique_ptr<FileRun> coefficients = start(run);
  std::vector<std::string> written;
  for (const auto& n : names) written.push_back("OUTPUT\\" + n);

  Recorder recorder(run.regions, run.times);
  if (c.stop_line == 0) {
    const RunOutcome outcome = coefficients->process(&recorder, &recorder);
    std::vector<std::string> placed;
    for (const RunFile& file : outcome.of_kind(FileKind::coefficients)) placed.push_back(file.name);
    EXPECT_EQ(placed, written);
    EXPECT_GT(recorder.records, 0);
    EXPECT_EQ(recorder.progress, recorder.records);
    EXPECT_EQ(outcome.records_processed, recorder.records);
  } else {
    try {
      coefficients->process(&recorder, &recorder);
      ADD_FAILURE() << "the run did not stop";
    } catch (const RunStopped& stop) {
      const std::string message = stop.what();
      EXPECT_NE(message.find(run.drt_name), std::string::npos) << message;
      EXPECT_NE(message.find("line " + std::to_string(c.stop_line) + ":"), std::string::npos)
          << message;
      EXPECT_NE(message.find(c.stop_header), std::string::npos) << message;
      std::vector<std::string> incomplete;
      for (const auto& n : names) incomplete.push_back("OUTPUT\\" + n + ".partial");
      // Then the notes files made before the stop.
      for (const auto& n : names) {
        const std::string notes = n.substr(0, n.find('.')) + "-notes.csv.partial";
        if (fs::exists(dir.path() / "OUTPUT" / notes)) incomplete.push_back("OUTPUT\\" + notes);
      }
      EXPECT_EQ(stop.stop().partial_files, incomplete);
      EXPECT_EQ(stop.stop().line, c.stop_line);
    }
  }

  expect_exact_coefficients(recorder.seen, read_exact_coefficients(c.name));

  // A completed run replaces every earlier file, byte for byte by the expected one. A stopped
  // run leaves every earlier file as it was, and the rows written before the stop in the
  // partial files.
  std::vector<std::string> expected_names = names;
  const std::string suffix = c.stop_line == 0 ? "" : ".partial";
  for (const auto& n : names) {
    expect_same_file(resolve_program_path(dir.path(), "OUTPUT\\" + n + suffix),
                     kGolden / c.name / "expected" / n);
    if (c.stop_line != 0) {
      EXPECT_EQ(read_file(dir.path() / "OUTPUT" / n), "earlier " + n + "\r\n");
      expected_names.push_back(n + suffix);
    }
  }
  std::sort(expected_names.begin(), expected_names.end());
  EXPECT_EQ(output_names(dir.path()), expected_names);
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenRun, ::testing::Values("inhalation", "ingestion", "stop"),
                         [](const auto& case_info) { return case_info.param; });

// A write that fails in the middle of the run (here: beyond the file-size limit) stops it; the
// rows written before stay in the partial files, every one is reported, and the earlier files
// are as they were. Returns 0 when all of that holds.
int file_size_limit_result(const Case& c, const fs::path& dir) {
  signal(SIGXFSZ, SIG_IGN);
  // The heading and the first record of either file fit in 1000 bytes; the second record of
  // the adult file does not.
  write_earlier_files(dir, expected_file_names(c));
  const rlimit limit{1000, 1000};
  setrlimit(RLIMIT_FSIZE, &limit);
  const std::unique_ptr<FileRun> coefficients = start(prepare(c, dir));
  try {
    coefficients->process(nullptr);
  } catch (const RunStopped& stop) {
    const std::string message = stop.what();
    const std::string first_record =
        read_file(kGolden / c.name / "expected" / "DC365h.OUT").substr(0, 500);
    const std::string kept = read_file(dir / "OUTPUT" / "DC365h.OUT.partial");
    // The write that fails is one of the partial files (rows are gathered and written in
    // larger pieces, so which one reaches the limit first depends on when they are written);
    // both coefficient files are among the files reported.
    const std::vector<std::string>& incomplete = stop.stop().partial_files;
    const auto reported = [&](const char* name) {
      return std::find(incomplete.begin(), incomplete.end(), name) != incomplete.end();
    };
    if ((message.find("OUTPUT\\DC7300h") != std::string::npos ||
         message.find("OUTPUT\\DC365h") != std::string::npos) &&
        message.find(".partial: ") != std::string::npos && reported("OUTPUT\\DC365h.OUT.partial") &&
        reported("OUTPUT\\DC7300h.OUT.partial") && kept.starts_with(first_record) &&
        read_file(dir / "OUTPUT" / "DC365h.OUT") == "earlier DC365h.OUT\r\n" &&
        read_file(dir / "OUTPUT" / "DC7300h.OUT") == "earlier DC7300h.OUT\r\n") {
      return 0;
    }
    std::fprintf(stderr, "stopped with: %s\n", message.c_str());
    return 2;
  }
  return 1;
}

// Runs the check above in the child process of the death test and ends it with the result.
// The child runs the test afresh (threadsafe style), so `dir` is its own working directory,
// removed here because exit() skips the destructor that would remove it.
[[noreturn]] void run_with_file_size_limit(const Case& c, const fs::path& dir) {
  const int result = file_size_limit_result(c, dir);
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  std::exit(result);
}

TEST(GoldenRunDeathTest, FailedWriteStopsTheRun) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const Case c = read_case("inhalation");
  const WorkingDir dir(c.name);
  EXPECT_EXIT(run_with_file_size_limit(c, dir.path()), ::testing::ExitedWithCode(0), "");
}

// Stops the process outright, as kill -9 would, when the second record has been processed.
class KillAfterSecondRecord : public ProgressObserver {
 public:
  void record_processed(const HeaderRecord&, std::uint64_t, std::uint64_t) override {
    if (++records_ == 2) ::raise(SIGKILL);
  }

 private:
  int records_ = 0;
};

// A process killed in the middle of a run leaves the earlier files byte for byte, and what it
// wrote only in the partial files.
TEST(GoldenRun, KilledRunLeavesTheEarlierFiles) {
  const Case c = read_case("inhalation");
  const WorkingDir dir(c.name);
  const std::vector<std::string> names = expected_file_names(c);
  write_earlier_files(dir.path(), names);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Prepared run = prepare(c, dir.path());
    run.request.threads = 1;
    KillAfterSecondRecord killer;
    start(run)->process(&killer);
    std::_Exit(0);  // not reached when the file holds two records or more
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  std::vector<std::string> expected_names = names;
  for (const auto& n : names) {
    EXPECT_EQ(read_file(dir.path() / "OUTPUT" / n), "earlier " + n + "\r\n");
    const std::string partial = read_file(dir.path() / "OUTPUT" / (n + ".partial"));
    const std::string whole = read_file(kGolden / c.name / "expected" / n);
    EXPECT_TRUE(whole.starts_with(partial)) << n;
    EXPECT_LT(partial.size(), whole.size()) << n;
    expected_names.push_back(n + ".partial");
  }
  std::sort(expected_names.begin(), expected_names.end());
  EXPECT_EQ(output_names(dir.path()), expected_names);
}

// The ingestion case with OUTPUT on a file system of 16 KiB, which the earlier files half fill:
// 0 when the run stops on the full disk naming the partial file, with every earlier file as
// it was and the partial files holding whole lines only (none, where nothing fitted); 77 when no
// such file system can be made here (it needs the right to mount, in a mount namespace of the
// process's own).
int full_disk_result(const Case& c, const fs::path& dir) {
  const fs::path output = dir / "OUTPUT";
  fs::create_directory(output);
  if (::unshare(CLONE_NEWNS) != 0 ||
      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      ::mount("tmpfs", output.c_str(), "tmpfs", 0, "size=16k") != 0) {
    return 77;
  }
  const std::vector<std::string> names = expected_file_names(c);
  write_earlier_files(dir, names);
  Prepared run = prepare(c, dir);
  run.request.threads = 1;
  const std::unique_ptr<FileRun> coefficients = start(run);
  try {
    coefficients->process(nullptr);
  } catch (const RunStopped& stop) {
    bool sound = std::string(stop.what()).ends_with(".partial: No space left on device");
    for (const auto& n : names) {
      const std::string partial = read_file(output / (n + ".partial"));
      sound = sound && read_file(output / n) == "earlier " + n + "\r\n" &&
              read_file(kGolden / c.name / "expected" / n).starts_with(partial) &&
              (partial.empty() || partial.ends_with("\r\n"));
    }
    if (sound) return 0;
    std::fprintf(stderr, "stopped with: %s\n", stop.what());
    return 2;
  }
  return 1;
}

TEST(GoldenRun, FullDiskStopsTheRunAndKeepsTheEarlierFiles) {
  const Case c = read_case("ingestion");
  const WorkingDir dir(c.name);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) std::_Exit(full_disk_result(c, dir.path()));
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no small file system can be mounted here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace kestrane
