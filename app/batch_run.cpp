// One run of kestrane-batch, through the same reading and processing as the interactive
// program; the stops of the dialogue become messages on standard error.
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
#include "app/processing.h"
#include "app/progress_display.h"
#include "app/selection.h"
#include "input/dose_rate_file.h"
#include "input/line_reader.h"
#include "output/output_files.h"
#include "platform/interrupt_note.h"

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
// a newline. The dialogue's leading blank is dropped, and no backslash is written.
void write_stop(std::ostream& err, std::string_view message) {
  for (;;) {
    const std::size_t newline = message.find('\n');
    std::string_view line = message.substr(0, newline);
    if (line.starts_with(' ')) line.remove_prefix(1);
    err << kProgram << without_backslashes(line) << '\n';
    if (newline == std::string_view::npos || newline + 1 == message.size()) break;
    message.remove_prefix(newline + 1);
  }
}

// The message may quote the file's region names, whose escapes are written as the stops
// write them.
void write_usage_error(std::ostream& err, const UsageError& error) {
  kestrane::write_usage_error(err, "kestrane-batch", kBatchUsage,
                              without_backslashes(error.what()));
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
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
      // A signal ignored from the start (Ctrl-C in a background job of a shell) stays ignored.
      ::sigaction(kSignals[i], nullptr, &saved_[i]);
      if (saved_[i].sa_handler != SIG_IGN) ::sigaction(kSignals[i], &action, nullptr);
    }
  }
  ~InterruptHandlers() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &saved_[i], nullptr);
    set_interrupt_note({});
  }
  InterruptHandlers(const InterruptHandlers&) = delete;
  InterruptHandlers& operator=(const InterruptHandlers&) = delete;

 private:
  static constexpr std::array<int, 4> kSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  std::array<struct sigaction, 4> saved_{};
};

}  // namespace

int run_batch(const BatchOptions& options, std::ostream& out, std::ostream& err,
              bool progress_bar) {
  std::vector<int> age_groups;
  std::vector<std::string> nuclides;
  try {
    age_groups = parse_age_list(options.ages);
    if (options.nuclides) nuclides = parse_nuclide_list(*options.nuclides);
  } catch (const UsageError& error) {
    write_usage_error(err, error);
    return kBatchUsageError;
  }
  const std::filesystem::path& dir = options.dir;

  std::vector<std::string> names;
  PreparedRun prepared = prepare_run(
      dir, options.data_set, [&names](LineReader& reader) { names = read_region_names(reader); });
  if (prepared.stop) {
    for (const std::string& line : prepared.stop->lines) write_stop(err, line);
    return kBatchStopped;
  }
  std::vector<int> regions;
  try {
    regions = parse_region_list(options.regions, names);
  } catch (const UsageError& error) {
    write_usage_error(err, error);
    return kBatchUsageError;
  }

  RunChoice choice;
  choice.working_dir = dir;
  choice.data_set = options.data_set;
  choice.times = std::move(prepared.times);
  choice.age_groups = age_groups;
  choice.regions = regions;
  choice.region_list = make_region_list(names);
  choice.csv = options.csv;
  choice.plot_nuclide = options.plot;
  choice.nuclides = std::move(nuclides);
  choice.source = prepared.source;

  std::optional<CoefficientRun> run;
  try {
    // Every file is made before anything is processed, so a refusal here leaves every file
    // of an earlier run as it was, and nothing of this one.
    run.emplace(std::move(choice));
  } catch (const OutputError& error) {
    write_stop(err, error.what());
    return kBatchStopped;
  }

  if (const std::string earlier = run->earlier_commit_line(); !earlier.empty()) {
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
  run->on_committed([&run, &out, &err, &end_bar] {
    end_bar();
    for (const std::filesystem::path& path : run->written_paths()) out << openable(path) << '\n';
    std::vector<std::string> notes_files;
    for (const std::filesystem::path& path : run->notes_paths())
      notes_files.push_back(openable(path));
    // Standard output holds only paths; the notes line goes with the messages.
    if (const std::string notes = notes_line(run->note_counts(), notes_files); !notes.empty()) {
      err << notes << '\n';
    }
    out.flush();
    set_interrupt_note(interrupt_note(kPlacedText, run->written_paths()));
  });
  try {
    run->process(*prepared.reader, bar ? &*bar : nullptr);
  } catch (const RunStopped& stopped) {
    end_bar();
    write_stop(err, stopped.what());
    if (!stopped.incomplete_paths().empty()) err << partial_files_note(stopped.incomplete_paths());
    return kBatchStopped;
  }
  end_bar();
  return kBatchCompleted;
}

}  // namespace kestrane
