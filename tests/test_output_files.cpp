// Tests of the files of a run as a whole: never written through a planted link, put in place by
// one commit whose journal a killed run leaves for the next run to complete, companions put in
// place or removed with them, and the note of a signal before and after the commit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/batch_options.h"
#include "app/batch_run.h"
#include "app/run_driver.h"
#include "output/commit_journal.h"
#include "output/output_files.h"
#include "platform/interrupt_note.h"
#include "platform/memory_console.h"
#include "sample/sample_data.h"
#include "tests/support/batch_capture.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using test_support::folder_contents;
using test_support::read_file;
using test_support::write_file;

// A working directory of small sample data, and kestrane-batch runs in it: the ingestion
// infant and adult files, regions Lung and 1.
class RunFiles : public ::testing::Test {
 protected:
  void SetUp() override { write_sample_directory(dir.path(), 300000, 5); }

  int batch(bool csv, const std::string& plot, const fs::path& where) {
    BatchOptions options;
    options.data_set = DataSet::ingestion;
    options.ages = "infant,adult";
    options.regions = "Lung,1";
    options.dir = where;
    options.csv = csv;
    options.plot = plot;
    return test::run_batch_captured(options, out, err);
  }
  int batch(bool csv, const std::string& plot = {}) { return batch(csv, plot, dir.path()); }

  // The nuclide of the first record of the infant file, in another case than the file's.
  std::string first_nuclide() {
    EXPECT_EQ(batch(false), 0) << err;
    const std::string file = read_file(dir / "OUTPUT" / "DC100g.OUT");
    std::size_t row = 0;
    for (int i = 0; i < 3; ++i) row = file.find("\r\n", row) + 2;
    std::string nuclide = file.substr(row, 7);
    std::transform(nuclide.begin(), nuclide.end(), nuclide.begin(), ::tolower);
    return nuclide;
  }

  // The files in OUTPUT, but for the lock, which stays.
  std::map<std::string, std::string> files(const fs::path& where) {
    auto contents = folder_contents(where / "OUTPUT");
    contents.erase("kestrane.lock");
    // The provenance files hold the time of their run, which two runs need not share.
    for (auto& [name, text] : contents) {
      const std::size_t at = name.ends_with(".json") ? text.find("\"created\"") : std::string::npos;
      if (at != std::string::npos) text.erase(at, text.find('\n', at) - at);
    }
    return contents;
  }

  test_support::TempDir dir{"kestrane_output"};
  std::string out;
  std::string err;
};

// ---- Links -----------------------------------------------------------------------------

// A link planted in OUTPUT where the run makes a file: the run removes it and makes its file
// new, and the file it points to, outside OUTPUT, stays as it was. A link in place of the
// plots folder is refused before anything is replaced.
struct LinkCase {
  std::string name;
  std::string entry;  // relative to OUTPUT; "*" stands for the first picture's name
  bool symbolic;
};

class PlantedLink : public RunFiles, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(PlantedLink, IsNeverWrittenThrough) {
  const std::string nuclide = first_nuclide();
  ASSERT_EQ(batch(true, nuclide), 0) << err;
  const auto earlier = files(dir.path());
  const fs::path victim = dir / "victim.txt";
  write_file(victim, "not the run's\n");
  std::string entry = GetParam().entry;
  if (const std::size_t star = entry.find('*'); star != std::string::npos) {
    entry.replace(star, 1,
                  fs::directory_iterator(dir / "OUTPUT" / "plots")->path().filename().string());
  }
  const fs::path planted = dir / "OUTPUT" / entry;
  if (entry == "kestrane.lock") fs::remove(planted);
  if (entry == "plots") {
    fs::rename(planted, dir / "pictures");
    fs::create_directory_symlink(dir / "pictures", planted);
  } else if (GetParam().symbolic) {
    fs::create_symlink(victim, planted);
  } else {
    fs::create_hard_link(victim, planted);
  }

  const int status = batch(true, nuclide);
  EXPECT_EQ(read_file(victim), "not the run's\n");
  if (entry == "plots") {
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err, "kestrane-batch: OUTPUT/plots is a symbolic link, not a folder\n");
    auto now = files(dir.path());
    now.erase("plots");
    auto before = earlier;
    std::erase_if(before, [](const auto& file) { return file.first.starts_with("plots"); });
    EXPECT_EQ(now, before);
    EXPECT_EQ(folder_contents(dir / "pictures").size(), earlier.size() - before.size() - 1);
    return;
  }
  EXPECT_EQ(status, 0) << err;
  // The same run again: the same files, the planted entry gone with the partial files.
  EXPECT_EQ(files(dir.path()), earlier);
  struct stat info {};
  ASSERT_EQ(::stat(victim.c_str(), &info), 0);
  EXPECT_EQ(info.st_nlink, entry == "kestrane.lock" ? 2u : 1u);  // the lock is never removed
}

std::vector<LinkCase> link_cases() {
  std::vector<LinkCase> cases;
  for (const bool symbolic : {true, false}) {
    const std::string kind = symbolic ? "Symbolic" : "Hard";
    cases.push_back({kind + "CoefficientPartial", "DC100g.OUT.partial", symbolic});
    cases.push_back({kind + "CsvPartial", "DC7300g.csv.partial", symbolic});
    cases.push_back({kind + "NotesPartial", "DC100g-notes.csv.partial", symbolic});
    cases.push_back({kind + "PicturePartial", "plots/*.partial", symbolic});
    cases.push_back({kind + "Journal", "kestrane.commit", symbolic});
  }
  cases.push_back({"HardLock", "kestrane.lock", false});
  cases.push_back({"SymbolicPlotsFolder", "plots", true});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Links, PlantedLink, ::testing::ValuesIn(link_cases()),
                         [](const auto& test) { return test.param.name; });

// ---- One commit, completed after a kill --------------------------------------------------

std::vector<CommitStep> g_steps;
int g_kill_at = 0;
int g_signal = SIGKILL;

void record_step(int, const CommitStep& step) { g_steps.push_back(step); }
void kill_at_step(int step, const CommitStep&) {
  if (step == g_kill_at) ::raise(g_signal);
}

// Run A writes with --csv and pictures; run B, with other integration times and without
// --csv, is killed before each step of its commit in turn (and after the last). The next run
// on the folder completes B's commit: every file is then B's, as after B uninterrupted.
TEST_F(RunFiles, AKillAtAnyStepOfTheCommitIsCompletedByTheNextRun) {
  const std::string nuclide = first_nuclide();
  ASSERT_EQ(batch(true, nuclide), 0) << err;
  const test_support::TempDir saved{"kestrane_output_a"};
  fs::copy(dir.path(), saved.path(), fs::copy_options::recursive);
  const auto run_b = [&](const fs::path& where) {
    write_file(where / "data" / "Kestrane.ini", "START\r\n2\r\n30\r\n400\r\nEND\r\n");
    return batch(false, nuclide, where);
  };
  set_commit_step_hook(record_step);
  ASSERT_EQ(run_b(dir.path()), 0) << err;
  set_commit_step_hook(nullptr);
  const auto b_files = files(dir.path());
  ASSERT_NE(b_files, files(saved.path()));
  const std::vector<CommitStep> steps = g_steps;
  const auto renames = std::count_if(steps.begin(), steps.end(), [](auto& s) { return s.rename; });
  ASSERT_GT(renames, 4);
  ASSERT_TRUE(steps.back().path.empty());  // the call after the last step

  for (int k = 1; k <= static_cast<int>(steps.size()); ++k) {
    SCOPED_TRACE("killed before step " + std::to_string(k));
    const test_support::TempDir work{"kestrane_output_k"};
    fs::copy(saved.path(), work.path(), fs::copy_options::recursive);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      g_kill_at = k;
      set_commit_step_hook(kill_at_step);
      run_b(work.path());
      std::_Exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    ASSERT_TRUE(fs::exists(work / "OUTPUT" / kCommitJournalName));
    const auto done =
        std::count_if(steps.begin(), steps.begin() + (k - 1), [](auto& s) { return s.rename; });
    const std::string completed =
        "Completed the interrupted commit of an earlier run: " + std::to_string(renames - done) +
        " files put in place";
    if (k == 1) {
      // kestrane-batch says so first, then makes its run (B's again).
      ASSERT_EQ(run_b(work.path()), 0) << err;
      EXPECT_TRUE(err.starts_with("kestrane-batch: " + completed + "\n")) << err;
    } else {
      const OutputFiles next(work.path());
      EXPECT_EQ(next.completed_commit(), renames - done);
    }
    EXPECT_EQ(files(work.path()), b_files);
  }
}

// A journal a run never finished writing (killed before its first rename) is dropped: the
// earlier files are as they were.
TEST_F(RunFiles, AJournalCutShortIsDroppedAndTheEarlierFilesKept) {
  ASSERT_EQ(batch(true), 0) << err;
  const auto earlier = files(dir.path());
  write_file(dir / "OUTPUT" / kCommitJournalName, "kestrane commit journal 1\nR DC100g.OUT\n");
  write_file(dir / "OUTPUT" / "DC100g.OUT.partial", "half a run\r\n");
  const OutputFiles next(dir.path());
  EXPECT_EQ(next.completed_commit(), -1);
  auto now = files(dir.path());
  EXPECT_EQ(now.erase("DC100g.OUT.partial"), 1u);
  EXPECT_EQ(now, earlier);
}

// A --plot nuclide without a processed record stops the run before anything is replaced,
// and makes no plots folder.
TEST_F(RunFiles, APlotNuclideWithoutARecordReplacesNothing) {
  ASSERT_EQ(batch(true), 0) << err;
  const auto earlier = files(dir.path());
  EXPECT_EQ(batch(false, "Xx-999"), 1);
  EXPECT_TRUE(err.starts_with("kestrane-batch: no processed record of the nuclide Xx-999")) << err;
  auto now = files(dir.path());
  std::erase_if(now, [](const auto& file) { return file.first.ends_with(".partial"); });
  EXPECT_EQ(now, earlier);
}

// ---- Companion files -----------------------------------------------------------------------

// A companion of a coefficient file (CSV, notes, provenance) stays only when this run made
// it; those of ages the run did not choose are left alone.
TEST_F(RunFiles, CompanionsNotMadeByTheRunAreRemovedWithItsCommit) {
  ASSERT_EQ(batch(true), 0) << err;
  ASSERT_TRUE(fs::exists(dir / "OUTPUT" / "DC100g.csv"));
  write_file(dir / "OUTPUT" / "DC100g.json", "{}\n");
  write_file(dir / "OUTPUT" / "DC365g.csv", "another age\n");
  write_file(dir / "OUTPUT" / "DC365g.json", "{}\n");
  ASSERT_EQ(batch(false), 0) << err;
  for (const char* gone : {"DC100g.csv", "DC7300g.csv"}) {
    EXPECT_FALSE(fs::exists(dir / "OUTPUT" / gone)) << gone;
  }
  EXPECT_TRUE(read_file(dir / "OUTPUT" / "DC100g.json").starts_with("{\n  \"program\""));
  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC365g.csv"), "another age\n");
  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC365g.json"), "{}\n");
  EXPECT_TRUE(fs::exists(dir / "OUTPUT" / "DC100g.OUT"));
}

// ---- The note of a signal before and after the commit ----------------------------------------

// A stream that raises SIGTERM when the progress bar is first drawn: in the middle of the run.
class TerminatingBuffer : public std::streambuf {
 protected:
  int overflow(int c) override {
    std::raise(SIGTERM);
    return c;
  }
  std::streamsize xsputn(const char*, std::streamsize n) override {
    std::raise(SIGTERM);
    return n;
  }
};

struct SignalCase {
  const char* name;
  int signal;
  bool after_commit;  // raised at the first rename (blocked until the files are in place)
};

class SignalNote : public RunFiles, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(SignalNote, SaysWhetherTheEarlierFilesAreKeptOrTheNewOnesInPlace) {
  write_file(dir / "OUTPUT" / "DC7300g.OUT", "an earlier run\r\n");
  const fs::path out_path = dir / "stdout.txt";
  const fs::path err_path = dir / "stderr.txt";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, STDERR_FILENO);
    BatchOptions options;
    options.data_set = DataSet::ingestion;
    options.ages = "adult";
    options.regions = "Lung";
    options.dir = dir.path();
    std::ofstream o(out_path);
    TerminatingBuffer buffer;
    std::ostream terminating(&buffer);
    std::ostringstream quiet;
    g_kill_at = 1;
    g_signal = GetParam().signal;
    if (GetParam().after_commit) set_commit_step_hook(kill_at_step);
    run_batch(options, o, GetParam().after_commit ? quiet : terminating, !GetParam().after_commit);
    std::_Exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), GetParam().signal);
  const std::string note = read_file(err_path);
  const std::string output = (dir / "OUTPUT").string();
  if (GetParam().after_commit) {
    std::string names = output + "/DC7300g.OUT";
    if (fs::exists(dir / "OUTPUT" / "DC7300g-notes.csv"))
      names += " " + output + "/DC7300g-notes.csv";
    names += " " + output + "/DC7300g.json";
    EXPECT_EQ(note, note_lines("interrupted\nthe run completed; its files are in place: " + names,
                               "kestrane-batch: "));
    std::string list = names + "\n";
    std::replace(list.begin(), list.end(), ' ', '\n');
    EXPECT_TRUE(read_file(out_path).starts_with(list)) << read_file(out_path);  // the list, whole
    EXPECT_TRUE(read_file(dir / "OUTPUT" / "DC7300g.OUT").starts_with("Ingestion"));
    EXPECT_FALSE(fs::exists(dir / "OUTPUT" / kCommitJournalName));
  } else {
    EXPECT_EQ(note, "\n" + note_lines("interrupted\nthe earlier files are kept; the rows written "
                                      "are left in: " +
                                          output + "/DC7300g.OUT.partial",
                                      "kestrane-batch: "));
    EXPECT_EQ(read_file(out_path), "");
    EXPECT_EQ(read_file(dir / "OUTPUT" / "DC7300g.OUT"), "an earlier run\r\n");
    EXPECT_TRUE(read_file(dir / "OUTPUT" / "DC7300g.OUT.partial").starts_with("Ingestion"));
  }
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalNote,
                         ::testing::Values(SignalCase{"TermBeforeTheCommit", SIGTERM, false},
                                           SignalCase{"TermInTheCommit", SIGTERM, true},
                                           SignalCase{"HangUpInTheCommit", SIGHUP, true},
                                           SignalCase{"QuitInTheCommit", SIGQUIT, true}),
                         [](const auto& test) { return std::string(test.param.name); });

// kestrane completes the commit a killed run left and says so first in its outcome; once its
// own files are in place, the note of a signal says so.
TEST_F(RunFiles, TheInteractiveProgramCompletesAnEarlierCommitAndSaysWhereItsFilesAre) {
  write_file(dir / "OUTPUT" / kCommitJournalName,
             "kestrane commit journal 1\nR DC365g.OUT\nD DC365g.csv\nend\n");
  write_file(dir / "OUTPUT" / "DC365g.OUT.partial", "of a killed run\r\n");
  write_file(dir / "OUTPUT" / "DC365g.csv", "of the run before it\n");
  MemoryConsole console;
  console.push_keys(3);  // introduction, "process the data", completion
  console.push_list_box_choice({2});
  console.push_list_box_choice({1});
  console.push_list_box_choice({30});
  std::vector<std::string> outcome;
  ASSERT_EQ(run_kestrane(console, dir.path(), outcome), kRunCompleted);
  ASSERT_FALSE(outcome.empty());
  EXPECT_EQ(outcome.front(),
            "Completed the interrupted commit of an earlier run: 1 files put in place");
  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC365g.OUT"), "of a killed run\r\n");
  EXPECT_FALSE(fs::exists(dir / "OUTPUT" / "DC365g.csv"));

  const fs::path path = dir / "note.txt";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  write_interrupt_note(fd);
  ::close(fd);
  set_interrupt_note({});
  std::string names = " OUTPUT/DC100g.OUT";
  if (fs::exists(dir / "OUTPUT" / "DC100g-notes.csv")) names += " OUTPUT/DC100g-notes.csv";
  names += " OUTPUT/DC100g.json";
  EXPECT_EQ(
      read_file(path),
      note_lines("The run was interrupted after it completed. Its files are in place:" + names));
}

// The note is written whole however long, broken at blanks only, every line with its prefix.
TEST(InterruptNote, IsWrittenWholeInLinesBrokenAtBlanks) {
  std::string text = "interrupted\nthe rows written are left in:";
  std::vector<std::string> words;
  for (int i = 0; i < 400; ++i) {
    words.push_back("/a/long/folder/" + std::string(static_cast<std::size_t>(i % 90), 'x') + "/DC" +
                    std::to_string(i) + ".OUT.partial");
    text += " " + words.back();
  }
  const std::string lines = note_lines(text, "kestrane-batch: ", 79);
  ASSERT_GT(lines.size(), 16384u);
  std::istringstream in(lines);
  std::vector<std::string> pieces;
  for (std::string line; std::getline(in, line);) {
    ASSERT_TRUE(line.starts_with("kestrane-batch: ")) << line;
    const std::string rest = line.substr(16);
    EXPECT_TRUE(line.size() <= 79 || rest.find(' ') == std::string::npos) << line;
    std::istringstream split(rest);
    for (std::string piece; split >> piece;) pieces.push_back(piece);
  }
  for (const std::string& word : words) {  // every name whole, none cut
    EXPECT_NE(std::find(pieces.begin(), pieces.end(), word), pieces.end()) << word;
  }

  set_interrupt_note(lines);
  const test_support::TempDir dir{"kestrane_note"};
  const fs::path path = dir / "note.txt";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  write_interrupt_note(fd);
  ::close(fd);
  set_interrupt_note({});
  EXPECT_EQ(read_file(path), lines);
  EXPECT_EQ(note_lines("a  b\nc", ">", 3), ">a\n>b\n>c\n");
}

}  // namespace
}  // namespace kestrane
