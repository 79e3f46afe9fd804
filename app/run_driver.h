// The run driver of the interactive program: one run from the title screen to the completion
// screen, or to a stop with its message and key prompt.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/screen_texts.h"
#include "ui/console.h"

namespace kestrane {

// Exit statuses of a run.
inline constexpr int kRunCompleted = 0;
inline constexpr int kRunStoppedStatus = 1;

// Runs the whole dialogue on `console`, with the program's files looked for under
// `working_dir` (data\Kestrane.ini, DATA\KVR13INH.DRT or DATA\KVR13ING.DRT, OUTPUT\).
// Returns kRunCompleted after the completion screen's key, kRunStoppedStatus after a stop's.
int run_kestrane(Console& console, const std::filesystem::path& working_dir);

// As above, and appends to `outcome` how the run ended, in plain lines for the normal
// terminal once the full screen has closed: the written-files line (without its final
// blank), or a stop's message with the files it names.
int run_kestrane(Console& console, const std::filesystem::path& working_dir,
                 std::vector<std::string>& outcome);

// The outcome as it is written to the normal terminal once the full screen has closed, for a
// shell: file names with '/' in place of the program's '\' ("OUTPUT/DC7300h.OUT"; the
// escapes of bytes a message cannot show, such as "\x1b", stay), and every line broken at
// blanks into lines of at most `width` characters, never inside a word (a word longer than
// a line stands whole on a line of its own). Each line ends with a line feed.
std::string outcome_for_shell(const std::vector<std::string>& outcome, std::size_t width);

}  // namespace kestrane
