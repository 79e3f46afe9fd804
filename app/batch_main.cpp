// kestrane-batch: Kestrane's computation for scripts and pipelines, without the dialogue.
#include <unistd.h>

#include <csignal>
#include <exception>
#include <iostream>

#include "app/batch_options.h"
#include "app/batch_run.h"
#include "app/progress_bar.h"
#include "platform/mapped_input.h"
#include "platform/standard_output.h"

int main(int argc, char** argv) {
  // A file-size limit (ulimit -f) then fails the write that passes it with EFBIG, which stops
  // the run with "File too large" and keeps the earlier files, rather than killing it unsaid.
  std::signal(SIGXFSZ, SIG_IGN);
  // The dose-rate file made shorter by another program while it is read stops the run with a
  // message (status 1), after the progress bar's line when one is drawn.
  kestrane::guard_mapped_inputs("kestrane-batch", kestrane::progress_bar_drawn);
  try {
    int status = 0;
    const auto options =
        kestrane::parse_batch_command_line(argc, argv, std::cout, std::cerr, status);
    if (!options) return kestrane::finish_standard_output("kestrane-batch", status, std::cerr);
    return kestrane::finish_standard_output(
        "kestrane-batch",
        kestrane::run_batch(*options, std::cout, std::cerr, isatty(STDERR_FILENO) == 1), std::cerr);
  } catch (const std::exception& error) {
    // Every stop of a run has its own message and status 1; anything else is a fault of the
    // program or its surroundings (memory, the file system), said plainly rather than aborted.
    std::cerr << "kestrane-batch: unexpected failure: " << error.what() << "\n";
    return 3;
  }
}
