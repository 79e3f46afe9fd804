// Entry point of the interactive program: one run of the dialogue on the terminal, in the
// current directory, and its outcome left on the normal terminal once the dialogue closes.
// Arguments are ignored, except a lone --help or --version.
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "app/exit_status.h"
#include "app/run_driver.h"
#include "app/version.h"
#include "platform/terminal_console.h"
#include "platform/terminal_session.h"

namespace {

constexpr const char* kHelp =
    "Usage: kestrane\n"
    "\n"
    "Computes absorbed dose coefficients from tabulated absorbed dose rates, in a dialogue on\n"
    "an 80x25 terminal. Run it in a working directory that holds:\n"
    "  data\\Kestrane.ini     the integration times (lines between START and END)\n"
    "  DATA\\KVR13INH.DRT     the inhalation dose rates, and/or\n"
    "  DATA\\KVR13ING.DRT     the ingestion dose rates\n"
    "(folder and file names are matched without regard to letter case). The coefficient\n"
    "files are written to OUTPUT\\DC<age in days><h|g>.OUT. When the dialogue closes, the\n"
    "files written (or why the run stopped) stay on the terminal.\n"
    "\n"
    "Exit status: 0 after a completed run, 1 after a stop or when quit at the notice of a\n"
    "terminal too small, 2 when standard input or output is not a terminal or TERM names no\n"
    "usable terminal type (use kestrane-batch for scripted runs), 3 on an unexpected failure.\n"
    "Ctrl-C or SIGTERM end it by that signal once the terminal is restored (a shell reports\n"
    "128 + the signal's number: 130, 143). Other arguments are ignored.\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrane;
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("kestrane %s\n", kestrane::kVersion);
    return 0;
  }
  if (const std::string problem = terminal_problem(); !problem.empty()) {
    std::fprintf(stderr, "kestrane: %s\n", problem.c_str());
    return kExitNotATerminal;
  }

  std::vector<std::string> outcome;
  int status = kExitFailure;
  try {
    const std::filesystem::path working_dir = std::filesystem::current_path();
    TerminalConsole console;  // gives the terminal back when it goes, however
    status = run_kestrane(console, working_dir, outcome);
  } catch (const QuitAtSmallTerminal&) {
    return kExitQuitSmall;
  } catch (const TerminalGone& error) {
    std::fprintf(stderr, "kestrane: %s\n", error.what());
    return kRunStoppedStatus;
  } catch (const std::exception& error) {
    // The console is gone by now, and the terminal is back in its normal mode.
    std::fprintf(stderr, "kestrane: %s\n", error.what());
    return kExitFailure;
  }
  // The full screen has closed; what the run did stays in the terminal's scrollback.
  for (const std::string& line : outcome) std::printf("%s\n", line.c_str());
  return status;
}
