// Entry point of the interactive program: one run of the dialogue on the terminal, in the
// current directory. Arguments are ignored, except a lone --help or --version.
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>

#include "app/run_driver.h"
#include "app/version.h"
#include "platform/terminal_console.h"

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
    "files are written to OUTPUT\\DC<age in days><h|g>.OUT.\n"
    "\n"
    "Exit status: 0 after a completed run, 1 after a stop, 2 when standard input or output\n"
    "is not a terminal (use kestrane-batch for scripted runs), 3 on an unexpected failure.\n"
    "Other arguments are ignored.\n";

constexpr int kExitFailure = 3;

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("kestrane %s\n", kestrane::kVersion);
    return 0;
  }
  if (const int status = kestrane::check_interactive_terminal(); status != 0) return status;

  try {
    std::filesystem::path working_dir = std::filesystem::current_path();
    kestrane::TerminalConsole console;  // restores the terminal when it goes, however
    return kestrane::run_kestrane(console, working_dir);
  } catch (const std::exception& error) {
    // The console is gone by now, and the terminal is back in its normal mode.
    std::fprintf(stderr, "kestrane: %s\n", error.what());
    return kExitFailure;
  }
}
