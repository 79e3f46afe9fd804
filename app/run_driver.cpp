// The run driver: start-up, title screen, data-set choice, the existence tests of the input
// files, the selection, the processing and completion screens, and every stop.
#include "app/run_driver.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/progress_display.h"
#include "app/selection.h"
#include "output/coefficient_files.h"
#include "platform/interrupt_note.h"
#include "run/file_run.h"
#include "run/run_request.h"

namespace kestrane {

namespace {

void show_introduction(Console& console) {
  write_centred(console, kTitleLine);
  console.line_break();
  write_centred(console, kCreditLine);
  console.line_break();
  console.line_break();
  for (std::string_view line : kIntroductionLines) {
    console.write_text(line);
    console.line_break();
  }
  console.line_break();
  for (std::string_view line : kInstructionLines) {
    advance_to_column(console, 5);
    console.write_text(line);
    console.line_break();
  }
  console.line_break();
  console.write_text(kContinuePrompt);
  console.wait_for_key();
}

// Writes the message of a refusal from column 1, beginning with a blank. Rows are broken at
// a blank so that none runs past column 79 (a row of 80 would wrap by itself), and each
// further row also begins with a blank; a line feed in the message starts a new row. At most
// kMaxMessageRows rows are written (the last one ending in "..." where the message is cut),
// so that the start of the message, which names the file, the line and the reason, stays on
// the screen with the rows and the prompt that follow it. A byte that is not a printable
// character is shown as '?', so that no message can move the cursor or reset the terminal.
void write_message(Console& console, std::string_view message) {
  constexpr std::size_t kWidth = kConsoleColumns - 1;
  constexpr std::size_t kMaxMessageRows = 8;
  std::string text;
  text.reserve(message.size());
  for (const char c : message) {
    const auto byte = static_cast<unsigned char>(c);
    text.push_back(c == '\n' || (byte >= 0x20 && byte < 0x7f) ? c : '?');
  }
  std::string_view rest = text;
  if (rest.starts_with(' ')) rest.remove_prefix(1);
  std::vector<std::string_view> rows;
  for (;;) {
    const std::size_t newline = rest.find('\n');
    std::string_view paragraph = rest.substr(0, newline);
    while (paragraph.size() > kWidth - 1) {
      std::size_t cut = paragraph.rfind(' ', kWidth - 1);
      if (cut == std::string_view::npos || cut == 0) cut = kWidth - 1;
      rows.push_back(paragraph.substr(0, cut));
      paragraph.remove_prefix(cut);
      if (paragraph.starts_with(' ')) paragraph.remove_prefix(1);
    }
    rows.push_back(paragraph);
    if (newline == std::string_view::npos) break;
    rest.remove_prefix(newline + 1);
  }
  const bool cut = rows.size() > kMaxMessageRows;
  if (cut) rows.resize(kMaxMessageRows);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (r > 0) console.line_break();
    console.write_text(" ");
    if (cut && r + 1 == rows.size()) {
      console.write_text(rows[r].substr(0, kWidth - 4));
      console.write_text("...");
    } else {
      console.write_text(rows[r]);
    }
  }
}

// Keeps a message for the normal terminal: one line per line of it, without leading blanks.
void keep(std::vector<std::string>& outcome, std::string_view message) {
  for (;;) {
    const std::size_t newline = message.find('\n');
    std::string_view line = message.substr(0, newline);
    line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
    outcome.emplace_back(line);
    if (newline == std::string_view::npos) return;
    message.remove_prefix(newline + 1);
  }
}

// A line of a stop's message, written and kept for the normal terminal.
void write_kept(Console& console, std::vector<std::string>& outcome, std::string_view text) {
  keep(outcome, text);
  console.write_text(text);
}

// The end of every stop: the prompt, one key, the stop's exit status.
int prompt_and_stop(Console& console, std::string_view prompt) {
  console.write_text(prompt);
  console.wait_for_key();
  return kRunStoppedStatus;
}

// A refusal of an input file before processing: on a line of its own, then the prompt.
int stop_with_error(Console& console, std::string_view message, std::vector<std::string>& outcome) {
  keep(outcome, message);
  console.line_break();
  write_message(console, message);
  console.line_break();
  return prompt_and_stop(console, kExitPrompt);
}

// A stop once the processing screen is shown: below the progress bar, with the partial
// files that a stopped record loop leaves. Keys typed while the records were processed are
// dropped, so that the message is seen.
int stop_while_processing(Console& console, std::string_view message,
                          const std::vector<std::string>& incomplete_files,
                          std::vector<std::string>& outcome) {
  keep(outcome, message);
  console.move_to(ProgressDisplay::kBarRow + 1, 1);
  write_message(console, message);
  console.line_break();
  if (!incomplete_files.empty()) {
    std::string files(kPartialFilesText);
    for (const std::string& name : incomplete_files) files += " " + name;
    keep(outcome, files);
    write_message(console, files);
    console.line_break();
  }
  console.discard_typeahead();
  return prompt_and_stop(console, kExitPrompt);
}

void show_processing_screen(Console& console, std::string_view data_set_path) {
  console.clear();
  console.line_break();
  advance_to_column(console, 25);
  console.write_text(kTitleLine);
  console.line_break();
  advance_to_column(console, 32);
  console.write_text(kCreditLine);
  console.line_break();
  console.move_to(10, 15);
  console.write_text(kProcessingText);
  console.write_text(data_set_path);
  console.write_text(".");
  console.line_break();
  console.refresh();
}

void show_completion_screen(Console& console, std::string_view written_files_line,
                            std::string_view notes_line) {
  console.move_to(14, 15);
  console.write_text(kCompleteText);
  console.line_break();
  console.line_break();
  write_centred(console, written_files_line);
  console.line_break();
  // When any coefficient was noted, the notes line takes the empty row above the prompt;
  // one too long for a row is broken at blanks.
  if (notes_line.empty()) {
    console.line_break();
  } else {
    if (notes_line.size() < kConsoleColumns - 1) {
      write_centred(console, notes_line);
    } else {
      write_message(console, notes_line);
    }
    console.line_break();
  }
  console.write_text(kExitPrompt);
  console.discard_typeahead();  // keys typed while the records were processed
  console.wait_for_key();
}

// "1,6": the numbers of a list box's choice as a list the run reads.
std::string number_list(const std::vector<int>& numbers) {
  std::string list;
  for (const int number : numbers) list += (list.empty() ? "" : ",") + std::to_string(number);
  return list;
}

std::vector<std::string> names_of(const std::vector<RunFile>& files) {
  std::vector<std::string> names;
  for (const RunFile& file : files) names.push_back(file.name);
  return names;
}

}  // namespace

std::string outcome_for_shell(const std::vector<std::string>& outcome, std::size_t width) {
  std::string text;
  for (const std::string& kept : outcome) {
    std::string line;
    line.reserve(kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
      const bool escape = i + 3 < kept.size() && kept[i + 1] == 'x' &&
                          std::isxdigit(static_cast<unsigned char>(kept[i + 2])) != 0 &&
                          std::isxdigit(static_cast<unsigned char>(kept[i + 3])) != 0;
      line += kept[i] == '\\' && !escape ? '/' : kept[i];
    }
    text += wrap_at_blanks(line, width);
    text += '\n';
  }
  return text;
}

int run_kestrane(Console& console, const std::filesystem::path& working_dir) {
  std::vector<std::string> outcome;
  return run_kestrane(console, working_dir, outcome);
}

int run_kestrane(Console& console, const std::filesystem::path& working_dir,
                 std::vector<std::string>& outcome) {
  prepare_console_window(console, kWindowTitle);
  show_introduction(console);

  // Data set: the box shows the two file names, inhalation first.
  constexpr std::array<DataSet, 2> kDataSets{DataSet::inhalation, DataSet::ingestion};
  std::vector<std::string> data_set_names;
  for (DataSet set : kDataSets) data_set_names.emplace_back(data_set_file_name(set));
  const ListBoxResult chosen = console.list_box({.heading = kDataSetHeading,
                                                 .instruction = kDataSetInstruction,
                                                 .items = data_set_names,
                                                 .mode = ListBoxMode::single_choice});
  // A number the box never shows counts as no choice.
  const int item = chosen.chosen() ? chosen.items.front() : 0;
  if (item < 1 || item > static_cast<int>(kDataSets.size())) {
    console.line_break();
    write_kept(console, outcome, kNoDataSetMessage);
    console.line_break();
    return prompt_and_stop(console, kAbortPrompt);
  }
  const DataSet data_set = kDataSets[static_cast<std::size_t>(item - 1)];

  // Integration times, dose-rate file and the selection on its region names. The
  // missing-file messages continue the line the cursor stands on.
  RunRequest request;
  request.working_dir = working_dir;
  request.data_set = data_set;
  RunInput input;
  try {
    input = open_run_input(request);
  } catch (const RunStopped& stopped) {
    const RunStop& stop = stopped.stop();
    if (stop.kind != StopKind::missing_file) return stop_with_error(console, stop.message, outcome);
    write_kept(console, outcome,
               stop.unsearchable_folder.empty() ? std::string(kUnableToLocate) + stop.file + "."
                                                : " " + stop.message);
    console.line_break();
    if (stop.unsearchable_folder.empty() && stop.file == kIntegrationTimesPath) {
      write_kept(console, outcome, kIntegrationTimesNote);
      console.line_break();
    }
    return prompt_and_stop(console, kExitPrompt);
  }
  const Selection selection = select_ages_and_regions(console, input.region_names);
  if (selection.age_groups.empty() || selection.regions.empty()) {
    console.line_break();
    write_kept(console, outcome, kNothingSelectedMessage);
    console.line_break();
    return prompt_and_stop(console, kNothingSelectedPrompt);
  }
  console.line_break();
  console.write_text(kReadyPrompt);
  console.wait_for_key();

  // Processing. The choice of the list boxes goes through the run's checks as any other.
  show_processing_screen(console, input.data_set_path);
  request.ages = number_list(selection.age_groups);
  request.regions = number_list(selection.regions);
  std::optional<FileRun> run;
  try {
    run.emplace(resolve_run(request, std::move(input)));
  } catch (const ChoiceError& error) {
    return stop_while_processing(console, error.what(), {}, outcome);
  } catch (const RunStopped& stopped) {
    std::string message =
        earlier_commit_line(stopped.stop().completed_commit, stopped.stop().journal_set_aside);
    if (!message.empty()) message += "\n";
    return stop_while_processing(console, message + stopped.stop().message, {}, outcome);
  }
  if (const std::string earlier =
          earlier_commit_line(run->completed_commit(), run->journal_set_aside());
      !earlier.empty()) {
    keep(outcome, earlier);
  }
  // The note names the partial files made so far; a notes file's, made with its first rows,
  // joins it then. Once the files are in place, it says so instead.
  const auto note_of = [](std::string_view what, const std::vector<std::string>& names) {
    std::string note(what);
    for (std::string name : names) {
      std::replace(name.begin(), name.end(), '\\', '/');
      note += " " + name;
    }
    return note_lines(note);
  };
  const auto set_note = [&run, &note_of] {
    set_interrupt_note(note_of(kInterruptedNote, run->partial_names()));
  };
  set_note();
  run->on_new_partial_file(set_note);
  run->on_committed([&note_of](const RunOutcome& done) {
    set_interrupt_note(note_of(kInterruptedAfterCommitNote, names_of(done.files)));
  });
  ProgressDisplay progress(console);
  RunOutcome done;
  try {
    done = run->process(&progress);
  } catch (const RunStopped& stopped) {
    set_interrupt_note({});
    progress.finish();
    return stop_while_processing(console, stopped.stop().message, stopped.stop().partial_files,
                                 outcome);
  }
  progress.finish();

  const std::string written_files =
      written_files_line(names_of(done.of_kind(FileKind::coefficients)));
  keep(outcome, written_files.substr(0, written_files.find_last_not_of(' ') + 1));
  const std::string notes = notes_line(done.notes, names_of(done.of_kind(FileKind::notes)));
  if (!notes.empty()) keep(outcome, notes);
  // The provenance files are named after the screen has closed, below the others.
  std::string provenance(kProvenanceFilesText);
  for (const std::string& name : names_of(done.of_kind(FileKind::provenance))) {
    provenance += " " + name;
  }
  keep(outcome, provenance);
  show_completion_screen(console, written_files, notes);
  return kRunCompleted;
}

}  // namespace kestrane
