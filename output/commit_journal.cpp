// The commit journal: written and flushed before the renames of a run, read back and
// completed by the next run when the renames were cut short.
#include "output/commit_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string_view>

#include "output/output_files.h"
#include "platform/file_services.h"

namespace kestrane {
namespace {

constexpr std::string_view kFirstLine = "kestrane commit journal 1\n";
constexpr std::string_view kLastLine = "end\n";
constexpr std::string_view kPartial = ".partial";

CommitStepHook g_hook = nullptr;

std::string program_name(std::string_view path) {
  std::string name = "OUTPUT\\" + std::string(path);
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

[[noreturn]] void fail(std::string_view what, std::string_view path, int error) {
  throw OutputError("Unable to " + std::string(what) + " the file " + program_name(path) + ": " +
                    std::strerror(error));
}

// The folders a commit touches, opened once each, never through a link.
class Folders {
 public:
  Folders(int output_fd, bool completing) : output_fd_(output_fd), completing_(completing) {}
  // The descriptor of the folder of `path` and the name in it; -1 for a folder gone since a
  // killed run's commit, whose steps are then done.
  std::pair<int, std::string> locate(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return {output_fd_, std::string(path)};
    const std::string folder(path.substr(0, slash));
    auto found = folders_.find(folder);
    if (found == folders_.end()) {
      UniqueFd fd(
          ::openat(output_fd_, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!fd && !(completing_ && errno == ENOENT)) fail("replace", path, errno);
      if (!fd) return {-1, std::string(path.substr(slash + 1))};
      found = folders_.emplace(folder, std::move(fd)).first;
    }
    return {found->second.get(), std::string(path.substr(slash + 1))};
  }
  void flush() {
    if (::fsync(output_fd_) != 0 && errno != EINVAL) fail("write", ".", errno);
    for (const auto& [name, fd] : folders_) {
      if (::fsync(fd.get()) != 0 && errno != EINVAL) fail("write", name, errno);
    }
  }

 private:
  int output_fd_;
  bool completing_;
  std::map<std::string, UniqueFd> folders_;
};

bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = ENOSPC;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Whether `path` names a file in OUTPUT or in a folder of it, and nothing beyond.
bool within_output(std::string_view path) {
  const std::size_t slash = path.find('/');
  if (slash != std::string_view::npos && path.find('/', slash + 1) != std::string_view::npos) {
    return false;
  }
  for (const std::string_view name :
       {path.substr(0, slash),
        slash == std::string_view::npos ? std::string_view("x") : path.substr(slash + 1)}) {
    if (name.empty() || name == "." || name == "..") return false;
  }
  return true;
}

// The steps of a journal's text; false when the journal was never finished.
bool parse_journal(std::string_view text, std::vector<CommitStep>& steps) {
  if (!text.starts_with(kFirstLine) || !text.ends_with(kLastLine)) return false;
  text.remove_prefix(kFirstLine.size());
  text.remove_suffix(kLastLine.size());
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos || end < 3 || text[1] != ' ') return false;
    const char kind = text[0];
    const std::string_view path = text.substr(2, end - 2);
    if ((kind != 'R' && kind != 'D') || !within_output(path)) return false;
    steps.push_back({kind == 'R', std::string(path)});
    text.remove_prefix(end + 1);
  }
  return true;
}

}  // namespace

void set_commit_step_hook(CommitStepHook hook) { g_hook = hook; }

void write_commit_journal(int output_fd, const std::vector<CommitStep>& steps, bool flush) {
  std::string text(kFirstLine);
  for (const CommitStep& step : steps) {
    text += step.rename ? "R " : "D ";
    text += step.path;
    text += '\n';
  }
  text += kLastLine;
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

int apply_commit_steps(int output_fd, const std::vector<CommitStep>& steps, bool flush,
                       bool completing) {
  Folders folders(output_fd, completing);
  int renamed = 0;
  int number = 0;
  for (const CommitStep& step : steps) {
    if (g_hook != nullptr && !completing) g_hook(++number, step);
    const auto [fd, name] = folders.locate(step.path);
    if (fd < 0) continue;
    if (step.rename) {
      const std::string partial = name + std::string(kPartial);
      if (::renameat(fd, partial.c_str(), fd, name.c_str()) == 0) {
        ++renamed;
      } else if (!(completing && errno == ENOENT)) {
        fail("replace", step.path, errno);
      }
    } else if (::unlinkat(fd, name.c_str(), 0) != 0 && errno != ENOENT) {
      fail("remove", step.path, errno);
    }
  }
  if (g_hook != nullptr && !completing) g_hook(++number, CommitStep{false, {}});  // after the last
  if (flush) folders.flush();
  return renamed;
}

void remove_commit_journal(int output_fd) {
  if (::unlinkat(output_fd, kCommitJournalName, 0) != 0 && errno != ENOENT) {
    fail("remove", kCommitJournalName, errno);
  }
}

int complete_interrupted_commit(int output_fd) {
  UniqueFd fd(
      ::openat(output_fd, kCommitJournalName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    if (errno == ENOENT) return -1;
    // A link planted at the journal's name is no journal: it goes, and nothing is followed.
    if (errno != ELOOP) fail("read", kCommitJournalName, errno);
  }
  struct stat info {};
  if (fd && ::fstat(fd.get(), &info) != 0) fail("read", kCommitJournalName, errno);
  std::string text;
  if (fd && S_ISREG(info.st_mode) && info.st_nlink == 1) {
    char buffer[65536];
    for (;;) {
      const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) fail("read", kCommitJournalName, errno);
      if (got == 0) break;
      text.append(buffer, static_cast<std::size_t>(got));
    }
  }
  fd.reset();
  std::vector<CommitStep> steps;
  int renamed = -1;
  if (parse_journal(text, steps)) renamed = apply_commit_steps(output_fd, steps, true, true);
  remove_commit_journal(output_fd);
  return renamed;
}

}  // namespace kestrane
