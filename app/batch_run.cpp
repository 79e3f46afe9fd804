// One run of kestrane-batch through the run library, as the interactive program's run: its
// refusals as usage errors, its stops and outcome as lines on standard error and the paths of
// the files written on standard output.
#include "app/batch_run.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/progress_bar.h"
#include "platform/interrupt_note.h"
#include "run/file_run.h"
#include "run/run_request.h"

namespace kestrane {
namespace {

constexpr std::string_view kProgram = "kestrane-batch: ";
constexpr std::string_view kKeptText = "the earlier files are kept; the rows written are left in:";
constexpr std::string_view kPlacedText = "the run completed; its files are in place:";

// A path as kestrane-batch writes it: with `/` between its names, whatever the program's own
// form of a name ("OUTPUT\DC100h.OUT").
std::string slashed(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

// A host path as the user can open it from the current directory.
std::string openable(const std::filesystem::path& path) {
  return slashed(path.lexically_normal().generic_string());
}

// A message line as kestrane-batch writes it: the escapes of the bytes a quoted line cannot
// show ("\x1b") become "?", and every other backslash a "/".
std::string without_backslashes(std::string_view line) {
  std::string text;
  text.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 3 < line.size() && line[i + 1] == 'x' &&
        std::isxdigit(static_cast<unsigned char>(line[i + 2])) != 0 &&
        std::isxdigit(static_cast<unsigned char>(line[i + 3])) != 0) {
      text += '?';
      i += 3;
    } else {
      text += line[i] == '\\' ? '/' : line[i];
    }
  }
  return text;
}

// A message on standard error: every line of it begins with the program's name and ends with
// a newline, and no backslash is written.
void write_stop(std::ostream& err, std::string_view message) {
  for (;;) {
    const std::size_t newline = message.find('\n');
    const std::string_view line = message.substr(0, newline);
    err << kProgram << without_backslashes(line) << '\n';
    if (newline == std::string_view::npos || newline + 1 == message.size()) break;
    message.remove_prefix(newline + 1);
  }
}

// The message may quote the file's region names, whose escapes are written as the stops
// write them.
void write_usage_error(std::ostream& err, std::string_view message) {
  kestrane::write_usage_error(err, "kestrane-batch", kBatchUsage, without_backslashes(message));
}

// The partial files a stop leaves, named on standard error.
std::string partial_files_note(const std::vector<std::filesystem::path>& paths) {
  std::string note =
      std::string(kProgram) + "the earlier files are kept; the rows written are left in:";
  for (const std::filesystem::path& path : paths) {
    note += ' ';
    note += openable(path);
  }
  note += '\n';
  return note;
}

// What a signal handler writes: before the commit the partial files left, after it the files
// in place; lines broken at blanks, each beginning with the program's name.
std::string interrupt_note(std::string_view what, const std::vector<std::filesystem::path>& paths) {
  std::string text = "interrupted\n" + std::string(what);
  for (const std::filesystem::path& path : paths) {
    text += ' ';
    text += openable(path);
  }
  return note_lines(text, kProgram);
}

// Ctrl-C, SIGTERM, SIGHUP and SIGQUIT while the files of a run are written: the note of what
// the run leaves, after the progress bar's line when one is drawn, then the signal's own default
// action, so the process ends by the signal. Only async-signal-safe calls.
extern "C" void on_interrupt(int signal_number) {
  if (progress_bar_drawn()) {
    const char newline = '\n';
    [[maybe_unused]] const auto ignored = ::write(STDERR_FILENO, &newline, 1);
  }
  write_interrupt_note(STDERR_FILENO);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

// Installs on_interrupt for the quit signals while it lives, then puts back what was there.
class InterruptHandlers {
 public:
  InterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kQuitSignals.size(); ++i) {
      // A signal ignored from the start (Ctrl-C in a background job of a shell) stays ignored.
      ::sigaction(kQuitSignals[i], nullptr, &saved_[i]);
      if (saved_[i].sa_handler != SIG_IGN) ::sigaction(kQuitSignals[i], &action, nullptr);
    }
  }
  ~InterruptHandlers() {
    for (std::size_t i = 0; i < kQuitSignals.size(); ++i) {
      ::sigaction(kQuitSignals[i], &saved_[i], nullptr);
    }
    set_interrupt_note({});
  }
  InterruptHandlers(const InterruptHandlers&) = delete;
  InterruptHandlers& operator=(const InterruptHandlers&) = delete;

 private:
  std::array<struct sigaction, kQuitSignals.size()> saved_{};
};

// A stop of the run on standard error: its message, then the note of the partial files it
// leaves. A missing integration-times file says what the file holds.
void write_run_stop(std::ostream& err, const RunStop& stop) {
  if (const std::string earlier =
          earlier_commit_line(stop.completed_commit, stop.journal_set_aside);
      !earlier.empty()) {
    write_stop(err, earlier);
  }
  write_stop(err, stop.message);
  if (stop.kind == StopKind::missing_file && stop.unsearchable_folder.empty() &&
      stop.file == kIntegrationTimesPath) {
    err << kProgram << "This file contains the integration times.\n";
  }
  if (!stop.partial_paths.empty()) err << partial_files_note(stop.partial_paths);
}

std::vector<std::filesystem::path> paths_of(const std::vector<RunFile>& files) {
  std::vector<std::filesystem::path> paths;
  for (const RunFile& file : files) paths.push_back(file.path);
  return paths;
}

}  // namespace

int run_batch(const BatchOptions& options, std::ostream& out, std::ostream& err,
              bool progress_bar) {
  RunRequest request;
  request.working_dir = options.dir;
  request.data_set = options.data_set;
  request.ages = options.ages;
  request.regions = options.regions;
  request.nuclides = options.nuclides;
  request.csv = options.csv;
  request.plot_nuclide = options.plot;
  request.output_dir = options.output;
  request.before = options.before;
  request.after = options.after;
  request.scheme = options.scheme;
  request.to_age = options.to_age;
  request.label_prefix = "--";

  std::optional<FileRun> run;
  try {
    // The choices that need no file first, then the input files, then the regions on the
    // file's names; every file of the run is made before anything is processed, so a refusal
    // here leaves every file of an earlier run as it was, and nothing of this one.
    check_request(request);
    ResolvedRun resolved = resolve_run(request, open_run_input(request));
    run.emplace(std::move(resolved));
  } catch (const ChoiceError& error) {
    write_usage_error(err, error.what());
    return kBatchUsageError;
  } catch (const RunStopped& stopped) {
    write_run_stop(err, stopped.stop());
    return kBatchStopped;
  }

  if (const std::string earlier =
          earlier_commit_line(run->completed_commit(), run->journal_set_aside());
      !earlier.empty()) {
    write_stop(err, earlier);  // with '/' between the names of its paths
  }

  const InterruptHandlers handlers;
  // The note names the partial files made so far; a notes file's or a picture's, made later,
  // joins it then.
  const auto set_note = [&run] {
    set_interrupt_note(interrupt_note(kKeptText, run->partial_paths()));
  };
  set_note();
  run->on_new_partial_file(set_note);
  std::optional<ProgressBar> bar;
  if (progress_bar) bar.emplace(err);
  const auto end_bar = [&bar] {
    if (bar) bar->finish();
  };
  // Once the files are in place, and before a signal can come through, the list of them is
  // written whole and the note says they are in place.
  run->on_committed([&out, &err, &end_bar](const RunOutcome& outcome) {
    end_bar();
    const std::vector<std::filesystem::path> placed = paths_of(outcome.files);
    for (const std::filesystem::path& path : placed) out << openable(path) << '\n';
    std::vector<std::string> notes_files;
    for (const RunFile& file : outcome.of_kind(FileKind::notes)) {
      notes_files.push_back(openable(file.path));
    }
    // Standard output holds only paths; the notes line goes with the messages.
    if (const std::string notes = notes_line(outcome.notes, notes_files); !notes.empty()) {
      err << notes << '\n';
    }
    out.flush();
    set_interrupt_note(interrupt_note(kPlacedText, placed));
  });
  try {
    run->process(bar ? &*bar : nullptr);
  } catch (const RunStopped& stopped) {
    end_bar();
    write_run_stop(err, stopped.stop());
    return kBatchStopped;
  }
  end_bar();
  return kBatchCompleted;
}

}  // namespace kestrane
