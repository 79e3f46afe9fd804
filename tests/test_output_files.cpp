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
#include "sample/sample_data.h"
#include "tests/support/batch_capture.h"
#include "tests/support/test_support.h"
#include "ui/memory_console.h"

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
  // The same run again: the same files, the planted entry gone with the partial files; a link
  // in place of the journal is set aside, never read nor followed.
  auto now = files(dir.path());
  if (entry == kCommitJournalName && GetParam().symbolic) {
    EXPECT_EQ(now["kestrane.commit.refused"], "<link>");
    now.erase("kestrane.commit.refused");
    EXPECT_TRUE(
        err.starts_with("kestrane-batch: Set aside OUTPUT/kestrane.commit: it is a "
                        "symbolic link, not a regular file\n"))
        << err;
  }
  EXPECT_EQ(now, earlier);
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

// ---- A journal that is not a run's ---------------------------------------------------------

// The first line of a journal and the two steps every planted journal below begins with: were
// any of it carried out, DC365g.OUT.partial would be renamed and DC365g.csv removed.
const std::string kJournalStart = "kestrane commit journal 1\nR DC365g.OUT\nD DC365g.csv\n";

std::string planted_journal(const std::string& more_steps) {
  return kJournalStart + more_steps + "end\n";
}

// A journal of exactly `size` bytes ending with `last_steps`, filled up with removals of
// companion files of 13 and 14 bytes a line.
std::string journal_of_size(std::size_t size, const std::string& last_steps) {
  const std::size_t fill = size - kJournalStart.size() - last_steps.size() - 4;
  const std::size_t lines = fill / 13;
  const std::size_t longer = fill % 13;
  std::string text = kJournalStart;
  for (std::size_t i = 0; i < lines; ++i) text += i < longer ? "D DC365g.json\n" : "D DC365g.csv\n";
  text += last_steps + "end\n";
  EXPECT_EQ(text.size(), size);
  return text;
}

void make_fifo(const fs::path& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0) << path; }

// A journal that names what no run writes, is no regular file, is too large, or whose steps
// OUTPUT does not allow as it stands, is not carried out at all: it is set aside as
// kestrane.commit.refused (in place of an older one), the run goes on as if there were none and
// says why in one line. A folder in place of the journal, or of the name it is set aside to,
// stops the run with a message that says what to remove.
struct RefusedJournalCase {
  RefusedJournalCase(std::string name_, std::string journal_, void (*plant_)(const fs::path&),
                     std::string said_, std::string refused_ = {}, int status_ = 0)
      : name(std::move(name_)),
        journal(std::move(journal_)),
        plant(plant_),
        said(std::move(said_)),
        refused(std::move(refused_)),
        status(status_) {}
  std::string name;
  std::string journal;                 // its text; empty where `plant` makes it
  void (*plant)(const fs::path& dir);  // what else the case stands on; may be null
  std::string said;                    // the line on standard error after "kestrane-batch: "
  std::string refused;  // what stands at kestrane.commit.refused after; empty: the journal
  int status = 0;
};

void PrintTo(const RefusedJournalCase& c, std::ostream* os) { *os << c.name; }

class RefusedJournal : public RunFiles, public ::testing::WithParamInterface<RefusedJournalCase> {
 protected:
  // Everything in the working directory but the files of the run and the journals: the
  // user's files, and those of ages the run did not choose.
  std::map<std::string, std::string> others() {
    auto contents = folder_contents(dir.path());
    std::erase_if(contents, [&](const auto& entry) {
      const std::string& name = entry.first;
      return name == "OUTPUT/kestrane.commit" || name == "OUTPUT/kestrane.commit.refused" ||
             (GetParam().status == 0 &&
              (name.starts_with("OUTPUT/DC100g") || name.starts_with("OUTPUT/DC7300g")));
    });
    return contents;
  }
};

TEST_P(RefusedJournal, IsSetAsideAndNoneOfItCarriedOut) {
  const RefusedJournalCase& c = GetParam();
  ASSERT_EQ(batch(false), 0) << err;
  const fs::path output = dir / "OUTPUT";
  write_file(dir / "victim.txt", "the user's\n");
  write_file(output / "DC365g.OUT.partial", "of a killed run\r\n");
  write_file(output / "DC365g.csv", "of an earlier run\n");
  write_file(output / kRefusedJournalName, "an older journal set aside\n");
  if (!c.journal.empty()) write_file(output / kCommitJournalName, c.journal);
  if (c.plant != nullptr) c.plant(dir.path());
  struct stat lock {};
  ASSERT_EQ(::stat((output / "kestrane.lock").c_str(), &lock), 0);
  const auto before = others();

  EXPECT_EQ(batch(false), c.status) << err;
  EXPECT_EQ(err.substr(0, err.find('\n') + 1), "kestrane-batch: " + c.said + "\n");
  EXPECT_EQ(err.find("kestrane-batch:", 1), std::string::npos) << err;  // nothing else said
  EXPECT_EQ(others(), before);
  const auto after = folder_contents(dir.path());
  EXPECT_EQ(after.at("OUTPUT/kestrane.commit.refused"), c.refused.empty() ? c.journal : c.refused);
  EXPECT_EQ(after.count("OUTPUT/kestrane.commit"), c.status == 0 ? 0u : 1u);
  if (c.status == 0) {
    EXPECT_TRUE(read_file(output / "DC100g.OUT").starts_with("Ingestion"));
  }
  struct stat lock_after {};
  ASSERT_EQ(::stat((output / "kestrane.lock").c_str(), &lock_after), 0);
  EXPECT_EQ(lock_after.st_ino, lock.st_ino);  // the lock is never replaced
}

std::vector<RefusedJournalCase> refused_journal_cases() {
  const std::string not_a_step = "its line 4 is not a step of a commit";
  const std::string folder = "OUTPUT/DC1825g.OUT";
  std::vector<RefusedJournalCase> cases = {
      {"AUserFile", planted_journal("D thesis.txt\n"),
       [](const fs::path& dir) { write_file(dir / "OUTPUT" / "thesis.txt", "a thesis\n"); },
       "Set aside OUTPUT/kestrane.commit: it names OUTPUT/thesis.txt, which no run writes"},
      {"AUserFileOneFolderDown", planted_journal("D mine/results.dat\n"),
       [](const fs::path& dir) { write_file(dir / "OUTPUT" / "mine" / "results.dat", "1 2\n"); },
       "Set aside OUTPUT/kestrane.commit: it names OUTPUT/mine/results.dat, which no run writes"},
      {"AFileOutsideOutput", planted_journal("D ../victim.txt\n"), nullptr,
       "Set aside OUTPUT/kestrane.commit: it names OUTPUT/../victim.txt, which no run writes"},
      {"TheLock", planted_journal("D kestrane.lock\n"), nullptr,
       "Set aside OUTPUT/kestrane.commit: it names OUTPUT/kestrane.lock, which no run writes"},
      {"TheLockReplaced", planted_journal("R kestrane.lock\n"),
       [](const fs::path& dir) { write_file(dir / "OUTPUT" / "kestrane.lock.partial", "no\n"); },
       "Set aside OUTPUT/kestrane.commit: it names OUTPUT/kestrane.lock, which no run writes"},
      {"TheJournal", planted_journal("D kestrane.commit\n"), nullptr,
       "Set aside OUTPUT/kestrane.commit: it names OUTPUT/kestrane.commit, which no run writes"},
      {"AFolder", planted_journal("D plots\n"),
       [](const fs::path& dir) { write_file(dir / "OUTPUT" / "plots" / "mine.svg", "<svg/>\n"); },
       "Set aside OUTPUT/kestrane.commit: it names OUTPUT/plots, which no run writes"},
      {"APartialFile", planted_journal("D DC365g.OUT.partial\n"), nullptr,
       "Set aside OUTPUT/kestrane.commit: it names OUTPUT/DC365g.OUT.partial, which no run "
       "writes"},
      {"AnAgeOfNoGroup", planted_journal("D DC42g.OUT\n"),
       [](const fs::path& dir) { write_file(dir / "OUTPUT" / "DC42g.OUT", "mine\r\n"); },
       "Set aside OUTPUT/kestrane.commit: it names OUTPUT/DC42g.OUT, which no run writes"},
      {"AControlByte", planted_journal("D plots/a\x1b.svg\n"),
       [](const fs::path& dir) { write_file(dir / "OUTPUT" / "plots" / "a\x1b.svg", "<svg/>\n"); },
       "Set aside OUTPUT/kestrane.commit: it names OUTPUT/plots/a?.svg, which no run writes"},
      {"AFolderInPlaceOfTheFile", planted_journal("R DC1825g.OUT\n"),
       [](const fs::path& dir) {
         write_file(dir / "OUTPUT" / "DC1825g.OUT" / "inside.txt", "kept\n");
         write_file(dir / "OUTPUT" / "DC1825g.OUT.partial", "of a run\r\n");
       },
       "Set aside OUTPUT/kestrane.commit: it renames OUTPUT/DC1825g.OUT.partial to " + folder +
           ", but " + folder + " is a folder, not a regular file"},
      {"AFolderRemoved", planted_journal("D DC1825g.csv\n"),
       [](const fs::path& dir) { fs::create_directories(dir / "OUTPUT" / "DC1825g.csv"); },
       "Set aside OUTPUT/kestrane.commit: it removes OUTPUT/DC1825g.csv, but OUTPUT/DC1825g.csv "
       "is a folder, not a regular file or a link"},
      {"AFifoRemoved", planted_journal("D DC1825g.json\n"),
       [](const fs::path& dir) { make_fifo(dir / "OUTPUT" / "DC1825g.json"); },
       "Set aside OUTPUT/kestrane.commit: it removes OUTPUT/DC1825g.json, but "
       "OUTPUT/DC1825g.json is a FIFO, not a regular file or a link"},
      {"ALinkSource", planted_journal("R DC1825g.OUT\n"),
       [](const fs::path& dir) {
         write_file(dir / "OUTPUT" / "DC1825g.OUT", "of an earlier run\r\n");
         fs::create_symlink(dir / "victim.txt", dir / "OUTPUT" / "DC1825g.OUT.partial");
       },
       "Set aside OUTPUT/kestrane.commit: it renames OUTPUT/DC1825g.OUT.partial to " + folder +
           ", but OUTPUT/DC1825g.OUT.partial is a symbolic link, not a regular file"},
      {"AFolderSource", planted_journal("R DC1825g.OUT\n"),
       [](const fs::path& dir) { fs::create_directories(dir / "OUTPUT" / "DC1825g.OUT.partial"); },
       "Set aside OUTPUT/kestrane.commit: it renames OUTPUT/DC1825g.OUT.partial to " + folder +
           ", but OUTPUT/DC1825g.OUT.partial is a folder, not a regular file"},
      {"APathThroughALink", planted_journal("D plots/a.svg\n"),
       [](const fs::path& dir) {
         write_file(dir / "pictures" / "a.svg", "<svg/>\n");
         fs::create_directory_symlink(dir / "pictures", dir / "OUTPUT" / "plots");
       },
       "Set aside OUTPUT/kestrane.commit: it removes OUTPUT/plots/a.svg, but OUTPUT/plots is a "
       "symbolic link, not a folder"},
      {"ALineThatIsNoStep", planted_journal("X DC365g.csv\n"), nullptr,
       "Set aside OUTPUT/kestrane.commit: " + not_a_step},
      {"AnEndBeforeTheLastStep", planted_journal("end\nD DC365g.csv\n"), nullptr,
       "Set aside OUTPUT/kestrane.commit: " + not_a_step},
      {"ALineLongerThan4KiB", planted_journal("D " + std::string(4095, 'x') + "\n"), nullptr,
       "Set aside OUTPUT/kestrane.commit: its line 4 is longer than 4 KiB"},
      {"ALineOf4KiB", planted_journal("D " + std::string(4094, 'x') + "\n"), nullptr,
       "Set aside OUTPUT/kestrane.commit: it names OUTPUT/" + std::string(100, 'x') +
           "..., which no run writes"},
      {"AJournalOf1MiB", journal_of_size(std::size_t{1} << 20, "D thesis.txt\n"), nullptr,
       "Set aside OUTPUT/kestrane.commit: it names OUTPUT/thesis.txt, which no run writes"},
      {"AJournalLargerThan1MiB", journal_of_size((std::size_t{1} << 20) + 1, "D thesis.txt\n"),
       nullptr, "Set aside OUTPUT/kestrane.commit: it is larger than 1 MiB"},
      {"AFifoForTheJournal", "",
       [](const fs::path& dir) { make_fifo(dir / "OUTPUT" / kCommitJournalName); },
       "Set aside OUTPUT/kestrane.commit: it is a FIFO, not a regular file", "<other>"},
      {"ALinkForTheJournal", "",
       [](const fs::path& dir) {
         write_file(dir / "journal.txt", planted_journal(""));
         fs::create_symlink(dir / "journal.txt", dir / "OUTPUT" / kCommitJournalName);
       },
       "Set aside OUTPUT/kestrane.commit: it is a symbolic link, not a regular file", "<link>"},
      {"AFolderForTheJournal", "",
       [](const fs::path& dir) {
         write_file(dir / "OUTPUT" / kCommitJournalName / "inside.txt", "kept\n");
       },
       "OUTPUT/kestrane.commit is a folder, not the journal of a commit: remove it to let the "
       "next run go on",
       "an older journal set aside\n", 1},
      {"AFolderWhereItIsSetAside", planted_journal("D thesis.txt\n"),
       [](const fs::path& dir) {
         fs::remove(dir / "OUTPUT" / kRefusedJournalName);
         write_file(dir / "OUTPUT" / kRefusedJournalName / "inside.txt", "kept\n");
       },
       "Unable to set aside OUTPUT/kestrane.commit (it names OUTPUT/thesis.txt, which no run "
       "writes) as OUTPUT/kestrane.commit.refused: Is a directory. Removing "
       "OUTPUT/kestrane.commit lets the next run go on.",
       "<folder>", 1},
  };
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Journals, RefusedJournal, ::testing::ValuesIn(refused_journal_cases()),
                         [](const auto& test) { return test.param.name; });

// A step of an earlier run's journal that OUTPUT no longer allows when its turn comes (a
// folder put in place of its file, its folder replaced by a link, after the journal was
// checked) stops the run with a message that names the journal, what it asked and the way
// on; once the journal is removed, the next run goes on.
struct StuckStepCase {
  const char* name;
  void (*meanwhile)(const fs::path& dir);
  std::string said;  // after "kestrane-batch: "
};

void PrintTo(const StuckStepCase& c, std::ostream* os) { *os << c.name; }

fs::path g_working_dir;
void (*g_meanwhile)(const fs::path&) = nullptr;
void change_before_second_step(int step, const CommitStep&) {
  if (step == 2) g_meanwhile(g_working_dir);
}

class StuckStep : public RunFiles, public ::testing::WithParamInterface<StuckStepCase> {};

TEST_P(StuckStep, NamesTheJournalAndWhatItAsked) {
  ASSERT_EQ(batch(false), 0) << err;
  const fs::path output = dir / "OUTPUT";
  write_file(output / kCommitJournalName,
             "kestrane commit journal 1\nR DC365g.OUT\nR DC1825g.OUT\nR plots/a.svg\nend\n");
  write_file(output / "DC365g.OUT.partial", "365\r\n");
  write_file(output / "DC1825g.OUT.partial", "1825\r\n");
  write_file(output / "plots" / "a.svg.partial", "<svg/>\n");
  g_working_dir = dir.path();
  g_meanwhile = GetParam().meanwhile;
  set_completion_step_hook(change_before_second_step);
  const int status = batch(false);
  set_completion_step_hook(nullptr);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err,
            "kestrane-batch: Unable to carry out OUTPUT/kestrane.commit, left by an earlier "
            "run: " +
                GetParam().said + ". Removing OUTPUT/kestrane.commit lets the next run go on.\n");
  EXPECT_EQ(read_file(output / "DC365g.OUT"), "365\r\n");  // the step before
  EXPECT_TRUE(fs::exists(output / kCommitJournalName));

  fs::remove(output / kCommitJournalName);
  EXPECT_EQ(batch(false), 0) << err;
  EXPECT_EQ(err.find("kestrane-batch:"), std::string::npos) << err;
  EXPECT_TRUE(read_file(output / "DC7300g.OUT").starts_with("Ingestion"));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StuckStep,
    ::testing::Values(
        StuckStepCase{"AFolderInPlaceOfTheFile",
                      [](const fs::path& dir) {
                        write_file(dir / "OUTPUT" / "DC1825g.OUT" / "inside.txt", "kept\n");
                      },
                      "it renames OUTPUT/DC1825g.OUT.partial to OUTPUT/DC1825g.OUT, but "
                      "OUTPUT/DC1825g.OUT is a folder, not a regular file"},
        StuckStepCase{"APathThroughALink",
                      [](const fs::path& dir) {
                        fs::rename(dir / "OUTPUT" / "plots", dir / "pictures");
                        fs::create_directory_symlink(dir / "pictures", dir / "OUTPUT" / "plots");
                      },
                      "it renames OUTPUT/plots/a.svg.partial to OUTPUT/plots/a.svg, but "
                      "OUTPUT/plots is a symbolic link, not a folder"}),
    [](const auto& test) { return std::string(test.param.name); });

// The names a journal step may give: the files of the kinds a run writes, in the folders it
// writes them, letters in any case; nothing else.
class JournalName : public ::testing::TestWithParam<std::pair<const char*, bool>> {};

TEST_P(JournalName, IsAFileOfTheKindsARunWrites) {
  EXPECT_EQ(journal_may_name(GetParam().first), GetParam().second) << GetParam().first;
}

INSTANTIATE_TEST_SUITE_P(
    Names, JournalName,
    ::testing::Values(std::pair{"DC100h.OUT", true}, std::pair{"DC365g.csv", true},
                      std::pair{"DC1825h-notes.csv", true}, std::pair{"DC3650g.json", true},
                      std::pair{"DC5475h-dose.csv", true}, std::pair{"dc7300G.out", true},
                      std::pair{"plots/Cs-137_100d_Lung_col1_line3.svg", true},
                      std::pair{"Plots/A+b.SVG", true}, std::pair{"DC3651h.OUT", false},
                      std::pair{"DC0100h.OUT", false}, std::pair{"DC100x.OUT", false},
                      std::pair{"DC100h.OUT.partial", false}, std::pair{"DC100h.txt", false},
                      std::pair{"DCh.OUT", false}, std::pair{"plots", false},
                      std::pair{"plots/.svg", false}, std::pair{"plots/a b.svg", false},
                      std::pair{"plots/a/b.svg", false}, std::pair{"plots/../x.svg", false},
                      std::pair{"other/a.svg", false}, std::pair{"plots/DC100h.OUT", false},
                      std::pair{"/DC100h.OUT", false}, std::pair{"kestrane.lock", false},
                      std::pair{"kestrane.commit", false}, std::pair{"", false}),
    [](const auto& test) { return std::to_string(test.index); });

// kestrane says first in its outcome that it set a journal aside, in the words of
// kestrane-batch.
TEST_F(RunFiles, TheInteractiveProgramSaysFirstThatItSetAJournalAside) {
  write_file(dir / "OUTPUT" / kCommitJournalName, planted_journal("D thesis.txt\n"));
  write_file(dir / "OUTPUT" / "thesis.txt", "a thesis\n");
  MemoryConsole console;
  console.push_keys(3);  // introduction, "process the data", completion
  console.push_list_box_choice({2});
  console.push_list_box_choice({1});
  console.push_list_box_choice({30});
  std::vector<std::string> outcome;
  ASSERT_EQ(run_kestrane(console, dir.path(), outcome), kRunCompleted);
  ASSERT_FALSE(outcome.empty());
  EXPECT_EQ(outcome_for_shell({outcome.front()}, 200),
            "Set aside OUTPUT/kestrane.commit: it names OUTPUT/thesis.txt, which no run writes\n");
  EXPECT_EQ(read_file(dir / "OUTPUT" / "thesis.txt"), "a thesis\n");
  EXPECT_EQ(read_file(dir / "OUTPUT" / kRefusedJournalName), planted_journal("D thesis.txt\n"));
  EXPECT_FALSE(fs::exists(dir / "OUTPUT" / kCommitJournalName));
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
