// The commit journal: written and flushed before the renames of a run, read back and
// completed by the next run when the renames were cut short, or set aside untouched when it
// asks for anything but the renames and removals of a run's own files.
#include "output/commit_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string_view>

#include "output/output_files.h"
#include "platform/file_services.h"

namespace kestrane {
namespace {

constexpr std::string_view kJournal = "OUTPUT\\kestrane.commit";
constexpr std::string_view kRefusedJournal = "OUTPUT\\kestrane.commit.refused";
// What a message of a journal that cannot be carried out ends with: the way out.
constexpr std::string_view kRemoveTheJournal =
    ". Removing OUTPUT\\kestrane.commit lets the next run go on.";

CommitStepHook g_hook = nullptr;
CommitStepHook g_completion_hook = nullptr;

[[noreturn]] void fail(std::string_view what, std::string_view path, int error) {
  throw OutputError("Unable to " + std::string(what) + " the file " + journal_program_name(path) +
                    ": " + std::strerror(error));
}

// Where the file of a step lies: the descriptor of its folder (-1 when the folder is gone,
// after a killed run's commit: its steps are then done) and its name there.
struct Place {
  int folder = -1;
  std::string leaf;
};

// The folders a commit touches, opened once each, never through a link.
class Folders {
 public:
  explicit Folders(int output_fd) : output_fd_(output_fd) {}

  // The place of `path` for this run's own commit; throws OutputError when its folder cannot
  // be opened.
  Place open(std::string_view path) {
    std::string why;
    const Place place = locate(path, why, false);
    if (!why.empty()) fail("replace", path, errno);
    return place;
  }

  // The place of `path` for an earlier run's journal: `obstacle` says what is in the way when
  // the folder is anything but a folder ("OUTPUT\plots is a symbolic link, not a folder").
  Place look(std::string_view path, std::string& obstacle) { return locate(path, obstacle, true); }

  void flush() {
    if (::fsync(output_fd_) != 0 && errno != EINVAL) fail("write", ".", errno);
    for (const auto& [name, fd] : folders_) {
      if (::fsync(fd.get()) != 0 && errno != EINVAL) fail("write", name, errno);
    }
  }

 private:
  Place locate(std::string_view path, std::string& obstacle, bool earlier) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return {output_fd_, std::string(path)};
    const std::string folder(path.substr(0, slash));
    const std::string leaf(path.substr(slash + 1));
    auto found = folders_.find(folder);
    if (found == folders_.end()) {
      if (earlier) {
        struct stat info {};
        if (::fstatat(output_fd_, folder.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
          if (errno == ENOENT) return {-1, leaf};
          obstacle = journal_program_name(folder) + " cannot be looked at: " + std::strerror(errno);
          return {};
        }
        if (!S_ISDIR(info.st_mode)) {
          obstacle =
              journal_program_name(folder) + " is " + entry_kind(info.st_mode) + ", not a folder";
          return {};
        }
      }
      UniqueFd fd(
          ::openat(output_fd_, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!fd) {
        const int error = errno;
        obstacle = journal_program_name(folder) + " cannot be opened: " + std::strerror(error);
        errno = error;
        return {};
      }
      found = folders_.emplace(folder, std::move(fd)).first;
    }
    return {found->second.get(), leaf};
  }

  int output_fd_;
  std::map<std::string, UniqueFd> folders_;
};

// What a step asks, as the messages about an earlier run's journal say it.
std::string asked(const CommitStep& step) {
  if (!step.rename) return "it removes " + journal_program_name(step.path);
  return "it renames " + journal_program_name(step.path + std::string(kPartialSuffix)) + " to " +
         journal_program_name(step.path);
}

// How a step of an earlier run's journal stands in OUTPUT.
struct StepCheck {
  Place place;
  bool done = false;     // nothing to do: its file or its folder is gone
  std::string obstacle;  // what is in the way: "OUTPUT\DC100h.OUT is a folder, not a regular file"
};

// A rename is carried out only from a regular file (a partial file gone was renamed already)
// onto a regular file or nothing; a removal only of a regular file or a link. Nothing of a
// step is ever followed through a link.
StepCheck check_step(Folders& folders, const CommitStep& step) {
  StepCheck check;
  check.place = folders.look(step.path, check.obstacle);
  if (!check.obstacle.empty()) return check;
  if (check.place.folder < 0) {
    check.done = true;
    return check;
  }
  // The kind of `leaf` in the step's folder; false when it is missing. Sets the obstacle when
  // it cannot be looked at.
  const auto entry = [&](const std::string& leaf, std::string_view path, mode_t& mode) {
    struct stat info {};
    if (::fstatat(check.place.folder, leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
      mode = info.st_mode;
      return true;
    }
    if (errno != ENOENT) {
      check.obstacle = journal_program_name(path) + " cannot be looked at: " + std::strerror(errno);
    }
    return false;
  };
  mode_t mode = 0;
  if (!step.rename) {
    if (!entry(check.place.leaf, step.path, mode)) {
      check.done = check.obstacle.empty();
    } else if (!S_ISREG(mode) && !S_ISLNK(mode)) {
      check.obstacle = journal_program_name(step.path) + " is " + entry_kind(mode) +
                       ", not a regular file or a link";
    }
    return check;
  }
  const std::string partial_path = step.path + std::string(kPartialSuffix);
  if (!entry(check.place.leaf + std::string(kPartialSuffix), partial_path, mode)) {
    check.done = check.obstacle.empty();
    return check;
  }
  if (!S_ISREG(mode)) {
    check.obstacle =
        journal_program_name(partial_path) + " is " + entry_kind(mode) + ", not a regular file";
  } else if (entry(check.place.leaf, step.path, mode) && !S_ISREG(mode)) {
    check.obstacle =
        journal_program_name(step.path) + " is " + entry_kind(mode) + ", not a regular file";
  }
  return check;
}

// The message of a step of an earlier run's journal that fails while it is carried out.
[[noreturn]] void cannot_carry_out(const CommitStep& step, std::string_view why) {
  throw OutputError("Unable to carry out " + std::string(kJournal) + ", left by an earlier run: " +
                    asked(step) + std::string(why) + std::string(kRemoveTheJournal));
}

// Carries out the steps of an earlier run's journal, all of which check_step() took; each is
// looked at again just before it is carried out. Returns the number of files renamed.
int carry_out(int output_fd, const std::vector<CommitStep>& steps) {
  Folders folders(output_fd);
  int renamed = 0;
  int number = 0;
  for (const CommitStep& step : steps) {
    if (g_completion_hook != nullptr) g_completion_hook(++number, step);
    const StepCheck check = check_step(folders, step);
    if (!check.obstacle.empty()) cannot_carry_out(step, ", but " + check.obstacle);
    if (check.done) continue;
    const int fd = check.place.folder;
    const std::string& name = check.place.leaf;
    if (step.rename) {
      const std::string partial = name + std::string(kPartialSuffix);
      if (::renameat(fd, partial.c_str(), fd, name.c_str()) == 0) {
        ++renamed;
      } else if (errno != ENOENT) {
        cannot_carry_out(step, std::string(": ") + std::strerror(errno));
      }
    } else if (::unlinkat(fd, name.c_str(), 0) != 0 && errno != ENOENT) {
      cannot_carry_out(step, std::string(": ") + std::strerror(errno));
    }
  }
  if (g_completion_hook != nullptr) g_completion_hook(++number, CommitStep{false, {}});
  folders.flush();
  return renamed;
}

// Renames the journal to kRefusedJournalName, replacing one of that name, without reading it
// (further) or carrying out any of it.
EarlierJournal set_aside(int output_fd, const std::string& reason) {
  if (::renameat(output_fd, kCommitJournalName, output_fd, kRefusedJournalName) != 0) {
    throw OutputError("Unable to set aside " + std::string(kJournal) + " (" + reason + ") as " +
                      std::string(kRefusedJournal) + ": " + std::strerror(errno) +
                      std::string(kRemoveTheJournal));
  }
  EarlierJournal earlier;
  earlier.set_aside = "Set aside " + std::string(kJournal) + ": " + reason;
  return earlier;
}

// Reads the journal, a regular file, into `text`, never more than kLargestJournal bytes.
// Returns false when it must be set aside instead (`why` then says why).
bool read_journal(int output_fd, std::string& text, std::string& why) {
  UniqueFd fd(::openat(output_fd, kCommitJournalName,
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0) {
    if (errno == ELOOP) {  // replaced by a link since it was looked at
      why = "it is a symbolic link, not a regular file";
      return false;
    }
    fail("read", kCommitJournalName, errno);
  }
  if (!S_ISREG(info.st_mode)) {
    why = "it is " + std::string(entry_kind(info.st_mode)) + ", not a regular file";
    return false;
  }
  char buffer[65536];
  while (text.size() <= kLargestJournal) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) fail("read", kCommitJournalName, errno);
    if (got == 0) return true;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  why = "it is larger than 1 MiB";
  return false;
}

}  // namespace

void set_commit_step_hook(CommitStepHook hook) { g_hook = hook; }
void set_completion_step_hook(CommitStepHook hook) { g_completion_hook = hook; }

void write_commit_journal(int output_fd, const std::vector<CommitStep>& steps, bool flush) {
  for (const CommitStep& step : steps) {
    if (!journal_may_name(step.path)) {
      throw std::logic_error("a commit of the file " + journal_program_name(step.path) +
                             ", which the next run would not complete");
    }
  }
  const std::string text = journal_text(steps);
  if (::unlinkat(output_fd, kCommitJournalName, 0) != 0 && errno != ENOENT) {
    fail("create", kCommitJournalName, errno);
  }
  UniqueFd fd(::openat(output_fd, kCommitJournalName,
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!fd || !write_all(fd.get(), text) || (flush && ::fsync(fd.get()) != 0) || fd.close() != 0) {
    const int error = errno;
    ::unlinkat(output_fd, kCommitJournalName, 0);
    fail("write", kCommitJournalName, error);
  }
  if (flush && ::fsync(output_fd) != 0 && errno != EINVAL) fail("write", kCommitJournalName, errno);
}

void apply_commit_steps(int output_fd, const std::vector<CommitStep>& steps, bool flush) {
  Folders folders(output_fd);
  int number = 0;
  for (const CommitStep& step : steps) {
    if (g_hook != nullptr) g_hook(++number, step);
    const auto [fd, name] = folders.open(step.path);
    if (step.rename) {
      const std::string partial = name + std::string(kPartialSuffix);
      if (::renameat(fd, partial.c_str(), fd, name.c_str()) != 0) {
        fail("replace", step.path, errno);
      }
    } else if (::unlinkat(fd, name.c_str(), 0) != 0 && errno != ENOENT) {
      fail("remove", step.path, errno);
    }
  }
  if (g_hook != nullptr) g_hook(++number, CommitStep{false, {}});  // after the last
  if (flush) folders.flush();
}

void remove_commit_journal(int output_fd) {
  if (::unlinkat(output_fd, kCommitJournalName, 0) != 0 && errno != ENOENT) {
    fail("remove", kCommitJournalName, errno);
  }
}

EarlierJournal complete_interrupted_commit(int output_fd) {
  // Looked at before it is opened: what is not a regular file is never opened for reading.
  struct stat info {};
  if (::fstatat(output_fd, kCommitJournalName, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return {};
    fail("read", kCommitJournalName, errno);
  }
  if (S_ISDIR(info.st_mode)) {
    throw OutputError(std::string(kJournal) +
                      " is a folder, not the journal of a commit: remove it to let the next "
                      "run go on");
  }
  if (!S_ISREG(info.st_mode)) {
    return set_aside(output_fd,
                     "it is " + std::string(entry_kind(info.st_mode)) + ", not a regular file");
  }
  if (static_cast<std::uint64_t>(info.st_size) > kLargestJournal) {
    return set_aside(output_fd, "it is larger than 1 MiB");
  }
  // A run makes its journal new, with one name: another name of some file is no journal, and
  // only that name goes.
  std::string text;
  std::string why;
  if (info.st_nlink == 1 && !read_journal(output_fd, text, why)) return set_aside(output_fd, why);
  const JournalReading reading = read_journal_text(text);
  if (reading.kind == JournalReading::Kind::refused) return set_aside(output_fd, reading.refusal);
  EarlierJournal earlier;
  if (reading.kind == JournalReading::Kind::finished) {
    // Every step is checked before the first is carried out: a journal is done whole or not
    // at all.
    Folders folders(output_fd);
    for (const CommitStep& step : reading.steps) {
      const StepCheck check = check_step(folders, step);
      if (!check.obstacle.empty())
        return set_aside(output_fd, asked(step) + ", but " + check.obstacle);
    }
    earlier.completed = carry_out(output_fd, reading.steps);
  }
  remove_commit_journal(output_fd);
  return earlier;
}

}  // namespace kestrane
