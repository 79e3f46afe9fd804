// The run driver: start-up, title screen, data-set choice, the existence tests of the input
// files, the selection, the processing and completion screens, and every stop.
#include "app/run_driver.h"

#include <optional>
#include <string>
#include <vector>

#include "app/processing.h"
#include "app/progress_display.h"
#include "app/selection.h"
#include "input/integration_times.h"
#include "input/line_reader.h"
#include "output/coefficient_files.h"
#include "platform/file_services.h"

namespace kestrane {

namespace {

constexpr std::string_view kExitPrompt = " Press any key to exit.";

void show_introduction(Console& console) {
  write_centred(console, kTitleLine);
  console.line_break();
  write_centred(console, kCreditLine);
  console.line_break();
  console.line_break();
  for (std::string_view line :
       {"Kestrane computes absorbed dose coefficients for user specified times.",
        "The upper limits for the integrals are read from \\DATA\\Kestrane.INI.",
        "The absorbed dose rate files were archived on the KVR-13 CD."}) {
    console.write_text(line);
    console.line_break();
  }
  console.line_break();
  for (std::string_view line :
       {"The user selects (1) either the ingestion or inhalation data set,",
        "(2) the age(s) of interest and (3) the organ(s) to be processed.",
        "To select multiple ages or organs mark the desired items by holding",
        "down <Ctrl> and clicking the left mouse button. Click OK to process", "the selections."}) {
    advance_to_column(console, 5);
    console.write_text(line);
    console.line_break();
  }
  console.line_break();
  console.write_text(" Press any key to continue.");
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

// The end of every stop: the prompt, one key, the stop's exit status.
int prompt_and_stop(Console& console, std::string_view prompt) {
  console.write_text(prompt);
  console.wait_for_key();
  return kRunStoppedStatus;
}

// A refusal of an input file before processing: on a line of its own, then the prompt.
int stop_with_error(Console& console, std::string_view message) {
  console.line_break();
  write_message(console, message);
  console.line_break();
  return prompt_and_stop(console, kExitPrompt);
}

// A stop once the processing screen is shown: below the progress line, with the files that
// a stopped record loop leaves incomplete.
int stop_while_processing(Console& console, std::string_view message,
                          const std::vector<std::string>& incomplete_files) {
  console.move_to(ProgressDisplay::kRow + 2, 1);
  write_message(console, message);
  console.line_break();
  if (!incomplete_files.empty()) {
    std::string files = "These coefficient files are incomplete:";
    for (const std::string& name : incomplete_files) files += " " + name;
    write_message(console, files);
    console.line_break();
  }
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
  console.write_text(" Processing absorbed dose rate file ");
  console.write_text(data_set_path);
  console.write_text(".");
  console.line_break();
  console.refresh();
}

void show_completion_screen(Console& console, std::string_view written_files_line) {
  console.move_to(14, 15);
  console.write_text(" Processing of absorbed dose rate file is complete.");
  console.line_break();
  console.line_break();
  write_centred(console, written_files_line);
  console.line_break();
  console.line_break();
  console.write_text(kExitPrompt);
  console.wait_for_key();
}

}  // namespace

int run_kestrane(Console& console, const std::filesystem::path& working_dir) {
  prepare_console_window(console);
  show_introduction(console);

  // Data set.
  const std::vector<std::string> data_sets{std::string(data_set_file_name(DataSet::inhalation)),
                                           std::string(data_set_file_name(DataSet::ingestion))};
  const std::string chosen = ConsoleListBox(console, 1, 32766, 32766, "Click on data set",
                                            " Select Data Set to Process", data_sets, 1, 0, 0);
  if (chosen.empty()) {
    console.line_break();
    console.write_text(" No absorbed dose rate file was selected, calculations are aborted.");
    console.line_break();
    return prompt_and_stop(console, " Press any key to abort.");
  }
  const DataSet data_set =
      chosen == data_set_file_name(DataSet::inhalation) ? DataSet::inhalation : DataSet::ingestion;
  const std::string data_set_path = "DATA\\" + chosen;

  // Integration times. The missing-file messages continue the line the cursor stands on.
  if (!program_file_exists(working_dir, kIntegrationTimesPath)) {
    console.write_text(" Unable to locate the file ");
    console.write_text(kIntegrationTimesPath);
    console.write_text(".");
    console.line_break();
    console.write_text(" This file contains the integration times.");
    console.line_break();
    return prompt_and_stop(console, kExitPrompt);
  }
  std::vector<double> times;
  try {
    times = read_integration_times(resolve_program_path(working_dir, kIntegrationTimesPath),
                                   std::string(kIntegrationTimesPath));
  } catch (const InputError& error) {
    return stop_with_error(console, error.what());
  }

  // Dose-rate file.
  if (!program_file_exists(working_dir, data_set_path)) {
    console.write_text(" Unable to locate the file ");
    console.write_text(data_set_path);
    console.write_text(".");
    console.line_break();
    return prompt_and_stop(console, kExitPrompt);
  }
  std::optional<LineReader> reader;
  Selection selection;
  try {
    reader.emplace(resolve_program_path(working_dir, data_set_path), data_set_path);
    selection = select_ages_and_regions(console, *reader);
  } catch (const InputError& error) {
    return stop_with_error(console, error.what());
  }
  if (selection.age_groups.empty() || selection.regions.empty()) {
    console.line_break();
    console.write_text(" Either no age or no organs have been selected for processing.");
    console.line_break();
    return prompt_and_stop(console, " Press any key to exit the Kestrane program.");
  }
  console.line_break();
  console.write_text(" Press any key to process the data.");
  console.wait_for_key();

  // Processing.
  show_processing_screen(console, data_set_path);
  RunChoice choice;
  choice.working_dir = working_dir;
  choice.data_set = data_set;
  choice.times = std::move(times);
  choice.age_groups = selection.age_groups;
  choice.regions = selection.regions;
  choice.region_list = selection.region_list;

  std::optional<CoefficientRun> run;
  try {
    run.emplace(std::move(choice));
  } catch (const OutputError& error) {
    return stop_while_processing(console, error.what(), {});
  }
  ProgressDisplay progress(console);
  try {
    run->process(*reader, &progress);
  } catch (const RunStopped& stopped) {
    progress.finish();
    return stop_while_processing(console, stopped.what(), stopped.incomplete_files());
  }
  progress.finish();

  show_completion_screen(console, run->written_files_line());
  return kRunCompleted;
}

}  // namespace kestrane
