// Entry point of the interactive program: one run of the dialogue on the terminal, in the
// current directory, and its outcome left on the normal terminal once the dialogue closes.
// It takes no arguments but --help and --version, and refuses any other (status 2).
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/exit_status.h"
#include "app/run_driver.h"
#include "base/version.h"
#include "platform/mapped_input.h"
#include "ui/terminal_console.h"
#include "platform/terminal_session.h"

namespace {

// The command line: --help and --version, nothing else.
kestrane::CommandLineSpec command_line() {
  return {.program = "kestrane",
          .usage = "Usage: kestrane [--help | --version]",
          .description =
              "Computes absorbed dose coefficients from tabulated absorbed dose rates, in a\n"
              "dialogue on an 80x25 terminal (asked of the terminal when it is smaller). Run it\n"
              "in a working directory that holds:\n"
              "  data/Kestrane.ini     the integration times (lines between START and END)\n"
              "  DATA/KVR13INH.DRT     the inhalation dose rates, and/or\n"
              "  DATA/KVR13ING.DRT     the ingestion dose rates\n"
              "(folder and file names are matched without regard to letter case). The\n"
              "coefficient files are written to OUTPUT/DC<age in days><h|g>.OUT, with\n"
              "OUTPUT/DC<age in days><h|g>-notes.csv beside those that hold negative or\n"
              "extended coefficients, and the provenance of each in\n"
              "OUTPUT/DC<age in days><h|g>.json. When the dialogue closes, the files written\n"
              "(or why the run stopped) stay on the terminal.",
          .options = {},
          .footer =
              "Exit status:\n"
              "  0        a completed run\n"
              "  1        a stop, a quit at the notice of a terminal too small, or a terminal\n"
              "           that gives no more input\n"
              "  2        standard input or output is not a terminal, TERM names no usable\n"
              "           terminal type (use kestrane-batch for scripted runs), or a usage\n"
              "           error\n"
              "  3        an unexpected failure\n"
              "  128 + n  ended by signal n once the terminal is restored (Ctrl-C gives 130,\n"
              "           SIGTERM 143)",
          .version = std::string("kestrane ") + kestrane::kVersion};
}

// The width of the terminal on standard output, 80 where it does not say.
std::size_t terminal_width() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrane;
  // A file-size limit (ulimit -f) then fails the write that passes it with EFBIG, which stops
  // the run with "File too large" and keeps the earlier files, rather than killing it unsaid.
  std::signal(SIGXFSZ, SIG_IGN);
  int exit_status = 0;
  if (!parse_command_line(command_line(), argc, argv, std::cout, std::cerr, exit_status)) {
    return exit_status;
  }
  if (const std::string problem = terminal_problem(); !problem.empty()) {
    std::fprintf(stderr, "kestrane: %s\n", problem.c_str());
    return kExitNotATerminal;
  }

  // Before the terminal's handlers: a SIGBUS puts the terminal back first, then comes here,
  // where the dose-rate file made shorter by another program stops the run (status 1), its
  // message in lines as wide as those of the note after it.
  guard_mapped_inputs("kestrane", nullptr, 79);
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
  std::fputs(outcome_for_shell(outcome, terminal_width()).c_str(), stdout);
  return status;
}
