// kestrane-batch: Kestrane's computation for scripts and pipelines, without the dialogue.
#include <unistd.h>

#include <iostream>

#include "app/batch_options.h"
#include "app/batch_run.h"

int main(int argc, char** argv) {
  int status = 0;
  const auto options = kestrane::parse_batch_command_line(argc, argv, std::cout, std::cerr, status);
  if (!options) return status;
  return kestrane::run_batch(*options, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
